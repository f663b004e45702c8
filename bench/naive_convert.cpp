#include "bench/naive_convert.h"

#include <sys/types.h>

#include <array>
#include <vector>

#include "conversion/bitmap_header.h"
#include "conversion/block_geometry.h"

bool naive_convert(std::FILE* in, std::FILE* out, std::int32_t width_blocks,
                   std::int32_t height_blocks) {
    using namespace block_geometry;
    const auto size = plan_bitmap(width_blocks, height_blocks);
    if (!size || !write_bitmap_header(out, *size)) return false;
    if (!size->has_rows) return std::fflush(out) == 0;

    const auto width = static_cast<std::size_t>(width_blocks);
    const std::size_t strip_row_bytes = width * block_row_span_bytes;
    std::vector<unsigned char> strip(width * block_strip_bytes);
    // Where the input runs short, the palette keeps its bytes and the index repeats.
    std::array<unsigned char, palette_bytes> palette{};
    unsigned char index = 0;
    for (std::int64_t row = height_blocks - 1; row >= 0; --row) {
        for (std::size_t column = 0; column < width; ++column) {
            const auto record = static_cast<std::int64_t>(static_cast<std::size_t>(row) * width + column);
            (void)fseeko(in, static_cast<off_t>(record * record_bytes), SEEK_SET);
            (void)std::fread(palette.data(), 1, palette.size(), in);
            for (std::size_t y = 0; y < block_side; ++y) {
                unsigned char* dst = strip.data() + (block_side - 1 - y) * strip_row_bytes +
                                     column * block_row_span_bytes;
                for (std::size_t x = 0; x < block_side; ++x, dst += pixel_bytes) {
                    const int got = std::fgetc(in);
                    if (got != EOF) index = static_cast<unsigned char>(got);
                    const unsigned char* entry = &palette[std::size_t{index} * palette_entry_bytes];
                    dst[0] = entry[0];
                    dst[1] = entry[1];
                    dst[2] = entry[2];
                }
            }
        }
        if (std::fwrite(strip.data(), 1, strip.size(), out) != strip.size()) return false;
    }
    return std::fflush(out) == 0;
}
