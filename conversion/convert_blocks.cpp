#include "conversion/convert_blocks.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "conversion/bitmap_header.h"

namespace {

using namespace block_geometry;

// Offsets reach beyond 2 GiB; the plain fseek takes a long, which is 32 bits on Windows.
bool seek_to(std::FILE* in, std::int64_t offset) {
#ifdef _WIN32
    return _fseeki64(in, offset, SEEK_SET) == 0;
#else
    static_assert(sizeof(off_t) >= sizeof(std::int64_t), "build with 64-bit file offsets");
    return fseeko(in, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

void store_u32(unsigned char* dst, std::uint32_t v) {
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(dst, &v, sizeof v);
    } else {
        for (int i = 0; i < 4; ++i) dst[i] = static_cast<unsigned char>(v >> (8 * i));
    }
}

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

    // Each entry packed as blue | green << 8 | red << 16; the unused fourth byte is dropped.
    std::array<std::uint32_t, palette_entries> colour;
    for (std::size_t i = 0; i < colour.size(); ++i) {
        const unsigned char* entry = &carry.palette[i * palette_entry_bytes];
        colour[i] = entry[0] | std::uint32_t{entry[1]} << 8 | std::uint32_t{entry[2]} << 16;
    }

    const std::size_t column_offset = static_cast<std::size_t>(column) * block_row_span_bytes;
    for (int y = 0; y < block_side; ++y) {
        // The record's top row becomes the strip's last row: the bitmap is stored bottom-up.
        unsigned char* dst =
            strip + static_cast<std::size_t>(block_side - 1 - y) * strip_row_bytes + column_offset;
        const unsigned char* src = indices + static_cast<std::size_t>(y) * block_side;
        // Four 3-byte pixels make exactly three 32-bit stores.
        for (int x = 0; x < block_side; x += 4, dst += 4 * pixel_bytes) {
            const std::uint32_t p0 = colour[src[x]];
            const std::uint32_t p1 = colour[src[x + 1]];
            const std::uint32_t p2 = colour[src[x + 2]];
            const std::uint32_t p3 = colour[src[x + 3]];
            store_u32(dst, p0 | p1 << 24);
            store_u32(dst + 4, p1 >> 8 | p2 << 16);
            store_u32(dst + 8, p2 >> 16 | p3 << 8);
        }
    }
}

bool convert_blocks(std::FILE* in, std::FILE* out, std::int32_t width_blocks,
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

        block_carry carry;
        for (std::int64_t row = height_blocks - 1; row >= 0; --row) {
            // The records of one block-row lie side by side: one seek and one read fetch them all.
            if (!seek_to(in, row * static_cast<std::int64_t>(row_record_bytes))) return false;
            const std::size_t got = std::fread(records.get(), 1, row_record_bytes, in);
            if (got < row_record_bytes && std::ferror(in)) return false;

            for (std::uint64_t column = 0; column < width; ++column) {
                const std::uint64_t start = column * record_bytes;
                const std::size_t have =
                    got > start ? std::min<std::size_t>(got - start, record_bytes) : 0;
                decode_block({records.get() + start, have}, carry, strip.get(),
                             width * block_row_span_bytes, static_cast<std::int32_t>(column));
            }
            if (std::fwrite(strip.get(), 1, strip_bytes, out) != strip_bytes) return false;
        }
    }
    // Hand everything to the system now, so a full disk is reported here and not lost.
    return std::fflush(out) == 0;
}
