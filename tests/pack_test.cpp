// Packing pictures into tile data: every bitmap quorvex writes must pack back to tile data
// that converts to the same bitmap, bit for bit.

#include <gtest/gtest.h>

#include "conversion/convert_blocks.h"
#include "packing/pack_blocks.h"
#include "packing/read_picture.h"
#include "packing/reduce_colours.h"
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

// A block of more than 256 colours is stored as the reduction makes it: entries blue, green,
// red, 0 from the start, then the indices; blocks are packed on several threads but written in
// order, so the bytes are the same on one thread and on three.
TEST(Pack, ABlockOfManyColoursIsStoredAsReducedOnAnyNumberOfThreads) {
    bytes bitmap = convert_bytes(convert_blocks, tile_records(2), 2, 1).file;
    std::vector<colour> pixels;  // the left block's, top row first, as the reduction takes them
    for (std::size_t i = 0; i < 4096; ++i) {
        pixels.push_back({static_cast<unsigned char>(i * 4), static_cast<unsigned char>(i / 64 * 4), 7});
        std::copy_n(pixels.back().begin(), 3, &bitmap[54 + (63 - i / 64) * 384 + i % 64 * 3]);
    }
    const reduced_colours reduced = reduce_colours(pixels, 256);
    bytes expected(5120, 0);
    for (std::size_t e = 0; e < reduced.palette.size(); ++e) std::copy_n(reduced.palette[e].begin(), 3, &expected[e * 4]);
    std::copy(reduced.indices.begin(), reduced.indices.end(), expected.begin() + 1024);
    for (const unsigned threads : {1u, 3u}) {
        SCOPED_TRACE(threads);
        const unique_file in = temp_file_with(bitmap), out{std::tmpfile()};
        picture pic;
        ASSERT_EQ(picture_problem::none, read_picture(in.get(), pic));
        EXPECT_EQ(1, pack_blocks(pic, out.get(), {threads, nullptr, {}}).reduced);
        const bytes tiles = read_all(out.get());
        EXPECT_TRUE(tiles.size() == 10240 && std::equal(expected.begin(), expected.end(), tiles.begin()));
    }
}

}  // namespace quorvex
