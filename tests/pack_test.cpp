// Packing pictures into tile data: every bitmap quorvex writes must pack back to tile data
// that converts to the same bitmap, bit for bit.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

#include "conversion/convert_blocks.h"
#include "packing/pack_blocks.h"
#include "packing/read_picture.h"
#include "tests/test_support.h"

namespace quorvex {

namespace {

// Entries `a` and `b` coloured, the rest black with `fourth` as their unused byte; index `a`
// on the left half of the block and `b` on the right.
bytes two_colour_record(unsigned char a, unsigned char b, std::array<unsigned char, 4> colour_a,
                        std::array<unsigned char, 4> colour_b, unsigned char fourth = 0) {
    bytes record(5120, 0);
    for (std::size_t i = 3; i < 1024; i += 4) record[i] = fourth;
    std::copy(colour_a.begin(), colour_a.end(), record.begin() + a * 4);
    std::copy(colour_b.begin(), colour_b.end(), record.begin() + b * 4);
    for (std::size_t i = 0; i < 4096; ++i) record[1024 + i] = i % 64 >= 32 ? b : a;
    return record;
}

}  // namespace

// A row with `packed_as` must also pack to exactly that: the palette in order of first
// appearance, its fourth bytes and unused entries zero.
TEST(Pack, EveryBitmapQuorvexWritesPacksBackExactly) {
    bytes same_colour_twice = two_colour_record(3, 250, {9, 8, 7, 0}, {9, 8, 7, 1});
    const bytes record_5 = tile_records(1, 5);
    same_colour_twice.insert(same_colour_twice.end(), record_5.begin(), record_5.end());
    const struct {
        const char* name;
        bytes tiles;
        int width, height;
        bytes packed_as;
    } cases[] = {
        {"one black block, fourth palette bytes set", two_colour_record(200, 200, {0, 0, 0, 9}, {0, 0, 0, 9}, 9), 1, 1, {}},
        {"256 colours in every block, 3 x 2", tile_records(6), 3, 2, {}},
        {"one block-column", tile_records(4), 1, 4, {}},
        {"the same colour under two entries", same_colour_twice, 2, 1, {}},
        {"the shipped sample", read_file(SAMPLE_TILE_FILE), 6, 2, {}},
        {"two colours at entries 200 and 7", two_colour_record(200, 7, {10, 20, 30, 99}, {40, 50, 60, 99}), 1, 1,
         two_colour_record(0, 1, {10, 20, 30, 0}, {40, 50, 60, 0})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const bytes bitmap = convert_bytes(convert_blocks, c.tiles, c.width, c.height).file;
        const unique_file in = temp_file_with(bitmap), out{std::tmpfile()};
        picture pic;
        ASSERT_EQ(picture_problem::none, read_picture(in.get(), pic));
        const pack_result packed = pack_blocks(pic, out.get());
        EXPECT_EQ(pack_stage::none, packed.failed);
        EXPECT_EQ(0, packed.reduced);
        const bytes tiles = read_all(out.get());
        EXPECT_EQ(5120u * static_cast<std::size_t>(c.width * c.height), tiles.size());
        EXPECT_TRUE(bitmap == convert_bytes(convert_blocks, tiles, c.width, c.height).file);
        EXPECT_TRUE(c.packed_as.empty() || c.packed_as == tiles);
    }
}

}  // namespace quorvex
