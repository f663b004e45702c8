// Fuzzes the picture reader and the packing through real files.
//
// Input: a picture file. Whatever it holds, reading must fail cleanly or give a picture whose
// sides are multiples of 64; packing then writes one tile record per block, and when no block
// needed reduction, converting those records gives back exactly the decoded pixels.
// Pictures that claim more than 2^20 pixels are skipped, so that memory stays small.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

#include "conversion/convert_blocks.h"
#include "packing/pack_blocks.h"
#include "packing/read_picture.h"

namespace {

using bytes = std::vector<unsigned char>;

struct file_closer {
    void operator()(std::FILE* f) const { (void)std::fclose(f); }
};
using unique_file = std::unique_ptr<std::FILE, file_closer>;

void check(bool holds) {
    if (!holds) std::abort();
}

std::uint64_t field(const std::uint8_t* data, std::size_t at, bool big_endian) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) v |= std::uint64_t{data[at + i]} << (8 * (big_endian ? 3 - i : i));
    return v;
}

// The pixel count the header claims, BMP or PNG, read loosely: sides taken as unsigned.
std::uint64_t claimed_pixels(const std::uint8_t* data, std::size_t size) {
    if (size < 26) return 0;
    const bool png = data[0] == 0x89;
    const std::uint64_t width = field(data, png ? 16 : 18, png);
    std::uint64_t height = field(data, png ? 20 : 22, png);
    if (!png && height >= 0x80000000U) height = 0x100000000U - height;
    return width * height;
}

bytes read_back(std::FILE* f) {
    check(std::fflush(f) == 0 && std::fseek(f, 0, SEEK_END) == 0);
    const long size = std::ftell(f);
    check(size >= 0);
    std::rewind(f);
    bytes content(static_cast<std::size_t>(size));
    check(std::fread(content.data(), 1, content.size(), f) == content.size());
    return content;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (claimed_pixels(data, size) > (1U << 20)) return 0;
    const unique_file in{std::tmpfile()};
    check(in != nullptr);
    if (size > 0) check(std::fwrite(data, 1, size, in.get()) == size);
    std::rewind(in.get());

    picture pic;
    const picture_problem problem = read_picture(in.get(), pic);
    check((problem == picture_problem::none) == (pic.pixels || pic.file != nullptr));
    if (problem != picture_problem::none) return 0;
    check(pic.width > 0 && pic.height > 0 && pic.width % 64 == 0 && pic.height % 64 == 0);

    const unique_file tiles{std::tmpfile()};
    check(tiles != nullptr);
    const std::optional<std::int64_t> reduced = pack_blocks(pic, tiles.get());
    const int w = pic.width / 64;
    const int h = pic.height / 64;
    check(reduced && *reduced >= 0 && *reduced <= std::int64_t{w} * h);
    check(read_back(tiles.get()).size() == std::size_t{5120} * static_cast<std::size_t>(w * h));
    if (*reduced > 0) return 0;

    // Exact: the bitmap's rows, bottom first in blue, green, red, are the picture's.
    const unique_file bitmap{std::tmpfile()};
    check(bitmap != nullptr);
    std::rewind(tiles.get());
    check(convert_blocks(tiles.get(), bitmap.get(), w, h));
    const bytes bmp = read_back(bitmap.get());
    const std::size_t row = static_cast<std::size_t>(pic.width) * 3;
    const auto rows = static_cast<std::size_t>(pic.height);
    check(bmp.size() == 54 + row * rows);
    std::vector<unsigned char> buffer;
    for (std::size_t y = 0; y < rows; ++y) {
        const std::optional<block_row> block = read_block_row(pic, y / 64, buffer);
        check(block.has_value());
        const unsigned char* from = block->first + static_cast<std::ptrdiff_t>(y % 64) * block->row_step;
        const unsigned char* to = bmp.data() + 54 + (rows - 1 - y) * row;
        const std::size_t blue = block->rgb ? 2 : 0;
        for (std::size_t x = 0; x < row; x += 3) {
            check(to[x] == from[x + blue] && to[x + 1] == from[x + 1] && to[x + 2] == from[x + 2 - blue]);
        }
    }
    return 0;
}
