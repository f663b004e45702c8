// Packing pictures into tile data: every bitmap quorvex writes must pack back to tile data
// that converts to the same bitmap, bit for bit; packed after the original tile data, an
// edited picture changes only the records of the blocks it edits.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <numeric>
#include <optional>
#include <sstream>

#include "app/pack_outcome.h"
#include "app/pack_run.h"
#include "conversion/convert_blocks.h"
#include "packing/pack_blocks.h"
#include "packing/read_picture.h"
#include "packing/reduce_colours.h"
#include "tests/test_support.h"
#include "web/core_face.h"

namespace quorvex {

namespace {

// Entries `a` and `b` coloured, the rest zero; index `a` on the left half of the block and
// `b` on the right.
bytes two_colour_record(unsigned char a, unsigned char b, std::array<unsigned char, 4> colour_a, std::array<unsigned char, 4> colour_b) {
    bytes record(5120, 0);
    std::copy(colour_a.begin(), colour_a.end(), record.begin() + a * 4);
    std::copy(colour_b.begin(), colour_b.end(), record.begin() + b * 4);
    for (std::size_t i = 0; i < 4096; ++i) record[1024 + i] = i % 64 >= 32 ? b : a;
    return record;
}

// Eight records of random palettes, fourth bytes and all: in odd records entries 64 to 127
// repeat 0 to 63; records 2 and 5 use only entries 0 to 99, the rest noise.
bytes random_records() {
    bytes data(8 * 5120);
    for (std::uint32_t i = 0, r = 0, at = 0, state = 17; i < data.size(); r = ++i / 5120, at = i % 5120) {
        state = state * 1664525U + 1013904223U;
        data[i] = static_cast<unsigned char>(at >= 1024 ? (state >> 24) % (r % 3 == 2 ? 100 : 256) : r % 2 == 1 && at - 256 < 256 ? data[i - 256] : state >> 24);
    }
    return data;
}

// What happens to one block: a square of 16 x 16 pixels from (8, 8) in colours of entries 64
// to 127, in entry 0's, or in 64 colours no palette has; or 4096 colours over the whole block.
enum class edit { none, palette_colours, first_colour, new_colours, photograph };

void paint(bytes& bitmap, const bytes& tiles, std::size_t width, std::size_t block, edit what) {
    const std::size_t row_bytes = width * 192, rows = (bitmap.size() - 54) / row_bytes;
    for (std::size_t i = 0, x = 0, y = 0; i < 4096; x = ++i % 64, y = i / 64) {
        unsigned char* at = &bitmap[54 + (rows - 1 - block / width * 64 - y) * row_bytes + (block % width * 64 + x) * 3];
        const unsigned char made[] = {1, static_cast<unsigned char>(x / 2 * 32), static_cast<unsigned char>(y / 2 * 32),
                                      static_cast<unsigned char>(x * 4), static_cast<unsigned char>(y * 4), static_cast<unsigned char>(x * y)};
        const unsigned char* entry = &tiles[block * 5120 + (what == edit::first_colour ? 0 : 64 + (x + y) % 64) * 4];
        if (what == edit::photograph || (what != edit::none && x - 8 < 16 && y - 8 < 16)) {
            std::copy_n(what == edit::photograph ? made + 3 : what == edit::new_colours ? made : entry, 3, at);
        }
    }
}

// Packed without an original, after one, over it, or after its own packing of the picture.
enum class original { none, followed, replaced, own_output };

}  // namespace

// A row packs `picture`, or else `tiles` converted at width x height, one block edited, after
// the original (`tiles`, or its first `model_bytes`) or without one. The packing must convert
// back to the picture unless a block was reduced; after an original, exactly the edited
// block's record differs from it, in at most `bytes_changed` bytes (none after its own
// packing), and the original's records past the picture's follow. `packed_as`, if given, is
// the whole output.
TEST(Pack, EveryBitmapPacksBackExactlyAndAfterAnOriginalChangesOnlyItsEdits) {
    const bytes randoms = random_records();
    // The picture decoder keeps colour tables in 256 slots and leaves those past a short table
    // as they were: an index past the table must read as black on every run, not as stray memory.
    bytes short_table = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 62, 0, 0, 0, 40, 0, 0, 0, 64, 0, 0, 0, 64, 0, 0, 0, 1, 0, 8, 0};
    short_table.resize(54);
    short_table.insert(short_table.end(), {10, 20, 30, 0, 40, 50, 60, 0});
    for (std::size_t i = 0; i < 4096; ++i) short_table.push_back(i % 64 >= 32 ? 200 : 0);
    const bytes black_past_table = two_colour_record(0, 1, {10, 20, 30, 0}, {0, 0, 0, 0});
    bytes repeats(5120);  // each entry used 16 times, 128 to 255 repeating 0 to 127, in odd colours that no new one is
    for (std::size_t i = 0; i < repeats.size(); ++i) repeats[i] = static_cast<unsigned char>(i < 1024 ? i / 4 % 128 * 2 + 1 : i);
    const std::string plain = "0 reduced to 256 colours", kept = ", 2 records after them kept";
    const std::string six = "5 unchanged, 1 changed, 0 reduced to 256 colours" + kept, one = "0 unchanged, 1 changed, " + plain;
    const struct {
        const char* name;
        bytes tiles;
        std::int32_t width, height;
        std::string says;  // after "Tis file written: W x H blocks, "
        original like = original::none;
        edit what = edit::none;
        std::size_t block = 0, model_bytes = SIZE_MAX, bytes_changed = SIZE_MAX;
        bytes packed_as = {}, picture = {};
    } rows[] = {
        {"two colours at entries 200 and 7", two_colour_record(200, 7, {10, 20, 30, 99}, {40, 50, 60, 99}), 1, 1, plain, original::none,
         edit::none, 0, SIZE_MAX, SIZE_MAX, two_colour_record(0, 1, {10, 20, 30, 0}, {40, 50, 60, 0})},
        {"regression: an index past a short colour table is black", black_past_table, 1, 1, plain, original::none, edit::none, 0, SIZE_MAX, SIZE_MAX, {}, short_table},
        {"a picture decoded red first, after the original", black_past_table, 1, 1, "1 unchanged, 0 changed, 0 reduced to 256 colours",
         original::followed, edit::none, 0, SIZE_MAX, SIZE_MAX, {}, short_table},
        {"untouched after the original, its tail kept", randoms, 3, 2, "6 unchanged, 0 changed, 0 reduced to 256 colours" + kept, original::followed},
        {"a square in repeated palette colours", randoms, 3, 2, six, original::followed, edit::palette_colours, 1, SIZE_MAX, 256},
        {"new colours on a block with spare entries", randoms, 3, 2, six, original::followed, edit::new_colours, 2, SIZE_MAX, 256 + 64 * 3},
        {"new colours where only repeats can give way", randoms, 3, 2, six, original::followed, edit::new_colours, 3, SIZE_MAX, 256 + 64 * 3 + 1024},
        {"a square in entry 0's colour", two_colour_record(1, 0, {10, 20, 30, 0}, {40, 50, 60, 0}), 1, 1, one, original::followed, edit::first_colour, 0, SIZE_MAX, 256},
        {"new colours where only some repeats need give way", repeats, 1, 1, one, original::followed, edit::new_colours, 0, SIZE_MAX, 256 + 64 * 3 + 64 * 15},
        {"new colours where nothing can give way", randoms, 3, 2, "5 unchanged, 1 changed, 1 reduced to 256 colours" + kept, original::followed, edit::new_colours, 4},
        {"a photograph over a block", randoms, 3, 2, "5 unchanged, 1 changed, 1 reduced to 256 colours" + kept, original::followed, edit::photograph, 0},
        {"a photograph packed again after its own packing", randoms, 3, 2, "6 unchanged, 0 changed, 1 reduced to 256 colours" + kept, original::own_output, edit::photograph, 0},
        {"the output replaces the original", randoms, 3, 2, six, original::replaced, edit::new_colours, 5, SIZE_MAX, 256 + 64 * 3},
        {"an original shorter than the picture", randoms, 3, 2, "5 unchanged, 0 changed, 0 reduced to 256 colours, 1 with no original record",
         original::followed, edit::none, 0, 5 * 5120},
    };
    std::string dir = (std::filesystem::temp_directory_path() / "quorvex-pack-XXXXXX").string();
    ASSERT_NE(nullptr, mkdtemp(dir.data()));
    const std::string picture = dir + "/p.bmp", old = dir + "/o.tis", made = dir + "/new.tis";
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        bytes bitmap = convert_bytes(convert_blocks, r.tiles, r.width, r.height).file;
        paint(bitmap, r.tiles, static_cast<std::size_t>(r.width), r.block, r.what);
        const bytes model(r.tiles.begin(), r.tiles.begin() + static_cast<std::ptrdiff_t>(std::min(r.model_bytes, r.tiles.size())));
        write_file(picture, r.picture.empty() ? bitmap : r.picture);
        write_file(old, model);
        if (r.like == original::own_output) {  // the original becomes the picture's packing after it
            const char* const first[] = {"quorvex-pack", "--like", old.c_str(), picture.c_str(), old.c_str()};
            std::ostringstream ignored;
            EXPECT_EQ(0, pack_run(5, first, {ignored, ignored, false}));
        }
        const bytes followed = read_file(old);
        const char* const argv[] = {"quorvex-pack", "--like", old.c_str(), picture.c_str(), r.like == original::replaced ? old.c_str() : made.c_str()};
        const int skip = r.like == original::none ? 2 : 0;  // then argv[2] stands in for the program's name
        std::ostringstream out, err;
        EXPECT_EQ(0, pack_run(5 - skip, argv + skip, {out, err, false}));
        EXPECT_EQ("Quorvex v1.0 by Velkaran\nTis file written: " + std::to_string(r.width) + " x " + std::to_string(r.height) + " blocks, " + r.says + "\n", out.str());
        const bytes tiles = read_file(argv[4]);
        const std::size_t blocks = static_cast<std::size_t>(r.width) * static_cast<std::size_t>(r.height), packed = blocks * 5120;
        EXPECT_TRUE(bytes(tiles.begin() + static_cast<std::ptrdiff_t>(std::min(packed, tiles.size())), tiles.end()) ==
                    (r.like == original::none || model.size() < packed ? bytes() : bytes(followed.begin() + static_cast<std::ptrdiff_t>(packed), followed.end())));
        EXPECT_EQ(r.says.find("1 reduced") == std::string::npos, bitmap == convert_bytes(convert_blocks, tiles, r.width, r.height).file);
        for (std::size_t k = 0; r.like != original::none && k < blocks && (k + 1) * 5120 <= model.size(); ++k) {
            const auto at = [k](const bytes& b) { return b.begin() + static_cast<std::ptrdiff_t>(k * 5120); };
            const std::size_t differ = std::inner_product(at(tiles), at(tiles) + 5120, at(followed), std::size_t{0}, std::plus<>(), std::not_equal_to<>());
            EXPECT_TRUE(k == r.block && r.what != edit::none && r.like != original::own_output ? differ > 0 && differ <= r.bytes_changed : differ == 0) << "record " << k << ": " << differ;
        }
        EXPECT_TRUE(r.packed_as.empty() || r.packed_as == tiles);
        // The web page's way: the same bytes and the same outcome line, from memory.
        std::optional<original_tiles> like;
        if (r.like != original::none) like = original_tiles{"o.tis", followed};
        const face_result page = pack_in_memory("p.bmp", r.picture.empty() ? bitmap : r.picture, like, {});
        EXPECT_TRUE(page.written && page.bytes == tiles);
        EXPECT_EQ(out.str().substr(out.str().find('\n') + 1), page.line + "\n");
    }
    // The page refuses an original that is no tile data as the program does, before the picture.
    const bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    EXPECT_EQ("o.png is a picture, not tile data: --like takes the tile file to follow",
              pack_in_memory("p.bmp", {}, original_tiles{"o.png", png}, {}).line);
    EXPECT_EQ("o.tis is not tile data: its 5121 bytes are not a whole number of 5120-byte records",
              pack_in_memory("p.bmp", {}, original_tiles{"o.tis", bytes(5121, 7)}, {}).line);
    EXPECT_EQ("z.bmp is not a BMP or PNG picture!", pack_in_memory("z.bmp", bytes(100, 0), {}, {}).line);
    // A failure the system gives no reason for (a picture that shrank as it was read) is named, not "Success".
    EXPECT_EQ("Packing failed: o.tis: it ended early", packing_failed_line({pack_stage::model}, "p.bmp", "o.tis", "t.tis"));
    EXPECT_EQ("Packing failed: t.tis: it could not be written", packing_failed_line({pack_stage::output}, "p.bmp", "o.tis", "t.tis"));
    std::filesystem::remove_all(dir);
}

// A block of more than 256 colours, found past the 256th wherever that is (mid-row or at a
// row's end), is stored as the reduction makes it: entries blue, green, red, 0 from the
// start, then the indices; blocks are packed on several threads, the next block-row's too
// while one is written, but written in order, so the bytes are the same on one thread, two and
// seven, and progress is told after each block-row. A disk full after the first block-row
// (when the second may be packing) fails the run with the system's reason.
TEST(Pack, ABlockOfManyColoursIsStoredAsReducedOnAnyNumberOfThreads) {
    bytes bitmap = convert_bytes(convert_blocks, tile_records(6), 3, 2).file;
    std::vector<colour> pixels;  // the left block's, top row first, as the reduction takes them
    for (std::size_t i = 0; i < 4096; ++i) {
        const bool right = i % 64 == 63;  // the colour of the first pixel
        pixels.push_back({static_cast<unsigned char>(right ? 0 : i * 4), static_cast<unsigned char>(right ? 0 : i / 64 * 4), 7});
        std::copy_n(pixels.back().begin(), 3, &bitmap[54 + (127 - i / 64) * 576 + i % 64 * 3]);
        // The middle block's 257th colour ends a row: 256 in its first four rows, then the end
        // of each row new.
        const bool fresh = i < 256 || right;
        const std::array<unsigned char, 3> middle{static_cast<unsigned char>(fresh ? i : 0), static_cast<unsigned char>(fresh ? i / 64 : 0), 9};
        std::copy_n(middle.begin(), 3, &bitmap[54 + (127 - i / 64) * 576 + (64 + i % 64) * 3]);
    }
    const reduced_colours reduced = reduce_colours(pixels, 256);
    bytes expected(5120, 0);
    for (std::size_t e = 0; e < reduced.palette.size(); ++e) std::copy_n(reduced.palette[e].begin(), 3, &expected[e * 4]);
    std::copy(reduced.indices.begin(), reduced.indices.end(), expected.begin() + 1024);
    bytes one_thread;
    for (const unsigned threads : {1u, 2u, 7u}) {
        SCOPED_TRACE(threads);
        const unique_file in = temp_file_with(bitmap), out{std::tmpfile()};
        picture pic;
        ASSERT_EQ(picture_problem::none, read_picture(in.get(), pic));
        byte_sink sink = byte_sink::file(out.get());
        std::string told;
        const auto progress = [&told](std::size_t done, std::size_t rows) { told += std::to_string(done) + "/" + std::to_string(rows) + " "; };
        EXPECT_EQ(2, pack_blocks(pic, sink, {threads, nullptr, progress}).reduced);
        EXPECT_EQ("1/2 2/2 ", told);
        const bytes tiles = read_all(out.get());
        EXPECT_TRUE(tiles.size() == 30720 && std::equal(expected.begin(), expected.end(), tiles.begin()));
        if (threads == 1) one_thread = tiles;
        EXPECT_TRUE(one_thread == tiles);
        const unique_file full{std::fopen("/dev/full", "wb")};
        if (!full) {
            std::cout << "Not run (no /dev/full here): a full disk\n";
            continue;
        }
        byte_sink to_full = byte_sink::file(full.get());
        ASSERT_EQ(picture_problem::none, read_picture(in.get(), pic));
        const pack_result failed = pack_blocks(pic, to_full, {threads, nullptr, progress});
        EXPECT_TRUE(failed.failed == pack_stage::output && failed.error == ENOSPC && told == "1/2 2/2 ");
    }
}

}  // namespace quorvex
