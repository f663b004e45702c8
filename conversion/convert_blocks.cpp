#include "conversion/convert_blocks.h"

#include <limits>
#include <memory>
#include <new>

#include "conversion/bitmap_header.h"
#include "conversion/block_pixels.h"

namespace quorvex {

namespace {

using namespace block_geometry;

// One owned byte buffer, obtained without exceptions so that running out of memory is an
// ordinary failed conversion.
std::unique_ptr<unsigned char[]> try_allocate(std::uint64_t bytes) {
    if (bytes > std::numeric_limits<std::size_t>::max()) return nullptr;
    return std::unique_ptr<unsigned char[]>(new (std::nothrow) unsigned char[bytes]);
}

}  // namespace

void decode_block(std::span<const unsigned char, block_geometry::record_bytes> record, unsigned char* strip,
                  std::size_t strip_row_bytes, std::int32_t column) {
    paint_block(record.data(), record.data() + palette_bytes,
                strip + static_cast<std::size_t>(column) * block_row_span_bytes, strip_row_bytes);
}

bool convert_blocks(byte_source& in, byte_sink& out, std::int32_t width_blocks,
                    std::int32_t height_blocks) {
    const auto size = plan_bitmap(width_blocks, height_blocks);
    if (!size) return false;
    // A planned bitmap holds at most a few hundred thousand blocks: their bytes fit 64 bits.
    const std::uint64_t needed = size->has_rows ? std::uint64_t{record_bytes} * static_cast<std::uint64_t>(width_blocks) *
                                                      static_cast<std::uint64_t>(height_blocks)
                                                : 0;
    // Missing records are a wrong count or the wrong file: refused before the first byte is
    // written where the length is known, and where it is not, when the data runs out.
    if (const auto length = in.size(); length && *length < needed) return false;
    if (!write_bitmap_header(out, *size)) return false;

    if (size->has_rows) {
        const auto width = static_cast<std::uint64_t>(width_blocks);
        const std::uint64_t strip_bytes = width * block_strip_bytes;
        const std::uint64_t row_record_bytes = width * record_bytes;
        const auto strip = try_allocate(strip_bytes);
        const auto records = try_allocate(row_record_bytes);
        if (!strip || !records) return false;
        // Both buffers exist, so their sizes fit in size_t, and so do the width and every offset
        // within them; only the file offsets need 64 bits where size_t has 32.
        const auto strip_size = static_cast<std::size_t>(strip_bytes);
        const auto row_record_size = static_cast<std::size_t>(row_record_bytes);
        const auto columns = static_cast<std::size_t>(width);

        for (std::int64_t row = height_blocks - 1; row >= 0; --row) {
            // The records of one block-row lie side by side: one seek and one read fetch them all.
            if (!in.seek(static_cast<std::uint64_t>(row) * row_record_bytes)) return false;
            if (in.read({records.get(), row_record_size}) != row_record_size) return false;

            for (std::size_t column = 0; column < columns; ++column) {
                decode_block(std::span<const unsigned char, record_bytes>(records.get() + column * record_bytes, record_bytes),
                             strip.get(), columns * block_row_span_bytes, static_cast<std::int32_t>(column));
            }
            if (!out.write({strip.get(), strip_size})) return false;
        }
    }
    // Hand everything to the system now, so a full disk is reported here and not lost.
    return out.flush();
}

}  // namespace quorvex
