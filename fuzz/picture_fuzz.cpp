// Fuzzes the picture reader and the packing through real files.
//
// Input: a picture file. Reading must fail cleanly, a refusal with its reason, or give a
// picture whose sides are multiples of 64; packing then writes one tile record per block (or
// refuses a PNG found damaged while decoding), and when no block needed reduction,
// converting those records gives back exactly the decoded pixels. Pictures whose header claims
// more than 2^20 pixels are skipped, so that memory stays small.

#include <cstdint>
#include <cstdlib>

#include "conversion/convert_blocks.h"
#include "packing/pack_blocks.h"
#include "packing/read_picture.h"
#include "tests/test_support.h"

using namespace quorvex;

namespace {

// The sides the header claims: PNG big-endian; BMP little-endian, 16-bit after a 12-byte
// header and 32-bit signed after the others.
std::uint64_t claimed_pixels(const std::uint8_t* data, std::size_t size) {
    if (size < 26) return 0;
    const auto field = [data](std::size_t at, std::size_t bytes, bool big) {
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < bytes; ++i) value |= std::uint64_t{data[at + i]} << (8 * (big ? bytes - 1 - i : i));
        return value;
    };
    if (data[0] == 0x89) return field(16, 4, true) * field(20, 4, true);
    if (field(14, 4, false) == 12) return field(18, 2, false) * field(20, 2, false);
    std::uint64_t height = field(22, 4, false);
    if (height >= 0x80000000U) height = 0x100000000U - height;
    return field(18, 4, false) * height;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (claimed_pixels(data, size) > (1U << 20)) return 0;
    const unique_file in = temp_file_with(bytes(data, data + size));
    picture pic;
    const picture_problem problem = read_picture(in.get(), pic);
    check((problem == picture_problem::refused) == !pic.refusal.empty());
    if (problem != picture_problem::none) return 0;
    check(pic.width > 0 && pic.height > 0 && pic.width % 64 == 0 && pic.height % 64 == 0);

    const unique_file tiles = temp_file_with({});
    byte_sink sink = byte_sink::file(tiles.get());
    const pack_result packed = pack_blocks(pic, sink);
    // A PNG is checked as it is decoded: damage found then is a refusal with its reason.
    if (packed.failed == pack_stage::picture && pic.png && !pic.refusal.empty()) return 0;
    const int w = pic.width / 64, h = pic.height / 64;
    check(packed.failed == pack_stage::none && packed.reduced >= 0 && packed.reduced <= std::int64_t{w} * h);
    check(read_all(tiles.get()).size() == std::size_t{5120} * static_cast<std::size_t>(w * h));
    if (packed.reduced > 0) return 0;

    // Exact: the bitmap's rows, bottom first in blue, green, red, are the picture's.
    const bytes tile_data = read_all(tiles.get());
    bytes bmp;
    byte_source source = byte_source::memory(tile_data);
    byte_sink bitmap = byte_sink::memory(bmp);
    check(convert_blocks(source, bitmap, w, h));
    const std::size_t row = static_cast<std::size_t>(pic.width) * 3;
    const auto rows = static_cast<std::size_t>(pic.height);
    check(bmp.size() == 54 + row * rows);
    // A picture is read once: read again from the start, it must give the same pixels.
    picture again;
    check(read_picture(in.get(), again) == picture_problem::none);
    bytes buffer;
    std::optional<block_row> block;
    for (std::size_t y = 0; y < rows; ++y) {
        if (y % 64 == 0) block = read_block_row(again, y / 64, buffer);
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
