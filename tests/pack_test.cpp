// Packing pictures into tile data: every bitmap quorvex writes must pack back to tile data
// that converts to the same bitmap, bit for bit; packed after the original tile data, an
// edited picture changes only the records of the blocks it edits.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <optional>
#include <random>
#include <sstream>

#include "app/pack_run.h"
#include "conversion/convert_blocks.h"
#include "packing/pack_blocks.h"
#include "packing/read_picture.h"
#include "tests/test_support.h"

namespace quorvex {

namespace fs = std::filesystem;

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

// Eight records of random palettes, fourth bytes and all, then 100 bytes: in odd records
// entries 64 to 127 repeat 0 to 63; records 2 and 5 use only entries 0 to 99, the rest noise.
bytes random_records() {
    std::mt19937 random(17);
    bytes data(8 * 5120 + 100);
    for (unsigned char& b : data) b = static_cast<unsigned char>(random());
    for (std::size_t r = 0; r < 8; ++r) {
        unsigned char* record = data.data() + r * 5120;
        if (r % 2 == 1) std::copy(record, record + 256, record + 256);
        for (std::size_t i = 1024; i < 5120; ++i) record[i] = static_cast<unsigned char>(random() % (r % 3 == 2 ? 100 : 256));
    }
    return data;
}

// What happens to one block: a square of 32 x 32 pixels from (8, 8) in colours of entries 64
// to 127, or in 16 colours no palette has; or 4096 colours over the whole block.
enum class edit { none, palette_colours, new_colours, photograph };

void paint(bytes& bitmap, const bytes& tiles, std::size_t width, std::size_t block, edit what) {
    const std::size_t row_bytes = width * 192, rows = (bitmap.size() - 54) / row_bytes;
    for (std::size_t y = 0; y < 64; ++y) {
        for (std::size_t x = 0; x < 64; ++x) {
            unsigned char* at = &bitmap[54 + (rows - 1 - block / width * 64 - y) * row_bytes + (block % width * 64 + x) * 3];
            const bool square = x - 8 < 32 && y - 8 < 32;
            const unsigned char* entry = &tiles[block * 5120 + (64 + (x + y) % 64) * 4];
            if (what == edit::palette_colours && square) std::copy(entry, entry + 3, at);
            if (what == edit::new_colours && square) std::copy_n(std::array<unsigned char, 3>{1, static_cast<unsigned char>(x / 8 * 40), static_cast<unsigned char>(y / 8 * 40)}.data(), 3, at);
            if (what == edit::photograph) std::copy_n(std::array<unsigned char, 3>{static_cast<unsigned char>(x * 4), static_cast<unsigned char>(y * 4), static_cast<unsigned char>(x * y)}.data(), 3, at);
        }
    }
}

enum class original { none, followed, replaced, missing };

}  // namespace

// A row packs `tiles` converted at width x height, one block edited, with or without the
// original: `tiles` itself or its first `model_bytes`. The packing must convert back to the
// picture (unless a block was reduced); after an original, exactly the edited block's record
// differs from it, by at most `other_bytes` besides the square's indices, and the original's
// bytes past the picture's records follow. `packed_as`, if given, is the whole output.
TEST(Pack, EveryBitmapPacksBackExactlyAndAfterAnOriginalChangesOnlyItsEdits) {
    bytes same_colour_twice = two_colour_record(3, 250, {9, 8, 7, 0}, {9, 8, 7, 1});
    const bytes record_5 = tile_records(1, 5), randoms = random_records();
    same_colour_twice.insert(same_colour_twice.end(), record_5.begin(), record_5.end());
    const std::string one = "1 x 1 blocks, 0 reduced to 256 colours", six = "3 x 2 blocks, 5 unchanged, 1 changed, 0 reduced to 256 colours";
    const struct {
        const char* name;
        bytes tiles;
        std::size_t width, height;
        std::string says;
        original like = original::none;
        edit what = edit::none;
        std::size_t block = 0, model_bytes = SIZE_MAX;
        int other_bytes = -1;
        bytes packed_as = {};
    } rows[] = {
        {"one black block, fourth palette bytes set", two_colour_record(200, 200, {0, 0, 0, 9}, {0, 0, 0, 9}, 9), 1, 1, one},
        {"256 colours in every block, 3 x 2", tile_records(6), 3, 2, "3 x 2 blocks, 0 reduced to 256 colours"},
        {"one block-column", tile_records(4), 1, 4, "1 x 4 blocks, 0 reduced to 256 colours"},
        {"the same colour under two entries", same_colour_twice, 2, 1, "2 x 1 blocks, 0 reduced to 256 colours"},
        {"the shipped sample", read_file(SAMPLE_TILE_FILE), 6, 2, "6 x 2 blocks, 0 reduced to 256 colours"},
        {"two colours at entries 200 and 7", two_colour_record(200, 7, {10, 20, 30, 99}, {40, 50, 60, 99}), 1, 1, one,
         original::none, edit::none, 0, SIZE_MAX, -1, two_colour_record(0, 1, {10, 20, 30, 0}, {40, 50, 60, 0})},
        {"untouched after the original, its tail kept", randoms, 3, 2, "3 x 2 blocks, 6 unchanged, 0 changed, 0 reduced to 256 colours", original::followed},
        {"a square in repeated palette colours", randoms, 3, 2, six, original::followed, edit::palette_colours, 1, SIZE_MAX, 0},
        {"new colours on a block with spare entries", randoms, 3, 2, six, original::followed, edit::new_colours, 2, SIZE_MAX, 48},
        {"new colours where only repeats can give way", randoms, 3, 2, six, original::followed, edit::new_colours, 3},
        {"a photograph over a block", randoms, 3, 2, "3 x 2 blocks, 5 unchanged, 1 changed, 1 reduced to 256 colours", original::followed, edit::photograph, 4},
        {"the output replaces the original", randoms, 3, 2, six, original::replaced, edit::new_colours, 5, SIZE_MAX, 48},
        {"an original shorter than the picture", randoms, 3, 2, "3 x 2 blocks, 4 unchanged, 0 changed, 0 reduced to 256 colours, 2 with no original record",
         original::followed, edit::none, 0, 4 * 5120 + 100},
        {"a missing original", randoms, 3, 2, "", original::missing},
    };
    const fs::path folder = fs::current_path();
    std::string dir = (fs::temp_directory_path() / "quorvex-like-XXXXXX").string();
    ASSERT_NE(nullptr, mkdtemp(dir.data()));
    fs::current_path(dir);
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        bytes bitmap = convert_bytes(convert_blocks, r.tiles, static_cast<std::int32_t>(r.width), static_cast<std::int32_t>(r.height)).file;
        paint(bitmap, r.tiles, r.width, r.block, r.what);
        const bytes model(r.tiles.begin(), r.tiles.begin() + static_cast<std::ptrdiff_t>(std::min(r.model_bytes, r.tiles.size())));
        write_file("p.bmp", bitmap);
        write_file("o.tis", model);
        fs::remove("new.tis");
        std::vector<const char*> argv{"quorvex-pack", "--like", r.like == original::missing ? "no.tis" : "o.tis", "p.bmp"};
        argv.push_back(r.like == original::replaced ? "o.tis" : "new.tis");
        std::ostringstream out;
        const int status = pack_run(static_cast<int>(argv.size()) - (r.like == original::none ? 2 : 0), argv.data() + (r.like == original::none ? 2 : 0), out);
        if (r.like == original::missing) {
            EXPECT_EQ(1, status);
            EXPECT_EQ("Quorvex v1.0 by Velkaran\nno.tis is not a tis file!\n", out.str());
            EXPECT_FALSE(fs::exists("new.tis"));
            continue;
        }
        EXPECT_EQ(0, status);
        EXPECT_EQ("Quorvex v1.0 by Velkaran\nTis file written: " + r.says + "\n", out.str());
        const bytes tiles = read_file(r.like == original::replaced ? "o.tis" : "new.tis");
        const std::size_t blocks = r.width * r.height, packed = blocks * 5120;
        EXPECT_EQ(r.like == original::none ? packed : std::max(packed, model.size()), tiles.size());
        ASSERT_LE(packed, tiles.size());
        EXPECT_TRUE(std::equal(tiles.begin() + static_cast<std::ptrdiff_t>(packed), tiles.end(), model.begin() + static_cast<std::ptrdiff_t>(packed)));
        const bytes back = convert_bytes(convert_blocks, tiles, static_cast<std::int32_t>(r.width), static_cast<std::int32_t>(r.height)).file;
        EXPECT_EQ(r.what != edit::photograph, bitmap == back);
        for (std::size_t k = 0; r.like != original::none && k < blocks && (k + 1) * 5120 <= model.size(); ++k) {
            const auto at = [k](const bytes& b, std::size_t i) { return b.begin() + static_cast<std::ptrdiff_t>(k * 5120 + i); };
            EXPECT_EQ(r.what != edit::none && k == r.block, !std::equal(at(tiles, 0), at(tiles, 5120), at(model, 0))) << "record " << k;
            int other = 0;
            for (std::size_t i = 0; i < 5120; ++i) other += *at(tiles, i) != *at(model, i) && (i < 1024 || (i - 1024) % 64 - 8 >= 32 || (i - 1024) / 64 - 8 >= 32);
            EXPECT_TRUE(k != r.block || r.other_bytes < 0 || other <= r.other_bytes) << other << " other bytes changed";
        }
        EXPECT_TRUE(r.packed_as.empty() || r.packed_as == tiles);
    }
    fs::current_path(folder);
    fs::remove_all(dir);
}

// The picture decoder keeps colour tables in 256 slots and leaves those past a short table as
// they were: an index past the table must read as black on every run, not as stray memory.
TEST(Pack, RegressionIndexPastAShortColourTableIsBlack) {
    bytes bmp = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 62, 0, 0, 0, 40, 0, 0, 0, 64, 0, 0, 0, 64, 0, 0, 0, 1, 0, 8, 0};
    bmp.resize(54);
    const bytes table = {10, 20, 30, 0, 40, 50, 60, 0};
    bmp.insert(bmp.end(), table.begin(), table.end());
    for (std::size_t i = 0; i < 4096; ++i) bmp.push_back(i % 64 >= 32 ? 200 : 0);
    const unique_file in = temp_file_with(bmp), out{std::tmpfile()};
    picture pic;
    ASSERT_EQ(picture_problem::none, read_picture(in.get(), pic));
    ASSERT_EQ(pack_stage::none, pack_blocks(pic, out.get()).failed);
    EXPECT_TRUE(convert_bytes(convert_blocks, two_colour_record(0, 1, {10, 20, 30, 0}, {0, 0, 0, 0}), 1, 1).file ==
                convert_bytes(convert_blocks, read_all(out.get()), 1, 1).file);
}

}  // namespace quorvex
