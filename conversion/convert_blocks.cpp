#include "conversion/convert_blocks.h"

#include <algorithm>
#include <cstring>
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

void decode_block(std::span<const unsigned char> record, block_carry& carry, unsigned char* strip,
                  std::size_t strip_row_bytes, std::int32_t column) {
    const std::size_t have = std::min<std::size_t>(record.size(), record_bytes);
    const std::size_t palette_have = std::min<std::size_t>(have, palette_bytes);
    // An empty record may come without storage at all: no copy from it then.
    if (palette_have > 0) std::memcpy(carry.palette.data(), record.data(), palette_have);

    // A short record's missing indices all repeat the last index that was read.
    const std::size_t indices_have = have - palette_have;
    std::array<unsigned char, index_bytes> padded;
    const unsigned char* indices = padded.data();
    if (indices_have == index_bytes) {
        indices = record.data() + palette_bytes;
    } else {
        if (indices_have > 0) std::memcpy(padded.data(), record.data() + palette_bytes, indices_have);
        const unsigned char repeat = indices_have > 0 ? padded[indices_have - 1] : carry.last_index;
        std::fill(padded.begin() + static_cast<std::ptrdiff_t>(indices_have), padded.end(), repeat);
    }
    carry.last_index = indices[index_bytes - 1];

    paint_block(carry.palette.data(), indices,
                strip + static_cast<std::size_t>(column) * block_row_span_bytes, strip_row_bytes);
}

bool convert_blocks(byte_source& in, byte_sink& out, std::int32_t width_blocks,
                    std::int32_t height_blocks) {
    const auto size = plan_bitmap(width_blocks, height_blocks);
    if (!size || !write_bitmap_header(out, *size)) return false;

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

        block_carry carry;
        for (std::int64_t row = height_blocks - 1; row >= 0; --row) {
            // The records of one block-row lie side by side: one seek and one read fetch them all.
            if (!in.seek(static_cast<std::uint64_t>(row) * row_record_bytes)) return false;
            const std::size_t got = in.read({records.get(), row_record_size});
            if (got < row_record_size && in.failed()) return false;

            for (std::size_t column = 0; column < columns; ++column) {
                const std::size_t start = column * record_bytes;
                const std::size_t have =
                    got > start ? std::min<std::size_t>(got - start, record_bytes) : 0;
                decode_block({records.get() + start, have}, carry, strip.get(),
                             columns * block_row_span_bytes, static_cast<std::int32_t>(column));
            }
            if (!out.write({strip.get(), strip_size})) return false;
        }
    }
    // Hand everything to the system now, so a full disk is reported here and not lost.
    return out.flush();
}

}  // namespace quorvex
