#include "conversion/convert_blocks.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "conversion/block_pixels.h"
#include "tests/test_support.h"

namespace {

struct converted {
    bool ok;
    bytes file;
};

converted convert(bool (*converter)(std::FILE*, std::FILE*, std::int32_t, std::int32_t), const bytes& input,
                  std::int32_t width, std::int32_t height) {
    const unique_file in = temp_file_with(input);
    const unique_file out{std::tmpfile()};
    const bool ok = converter(in.get(), out.get(), width, height);
    return {ok, read_all(out.get())};
}

}  // namespace

TEST(ConvertBlocks, MatchesTheReferenceOnEveryShapeAndWhereverTheInputEnds) {
    // Shapes with no rows (the header alone) and shapes refused before the first byte, then
    // every small picture.
    struct shape {
        std::int32_t width, height;
        bool ok;
    };
    std::vector<shape> shapes{{0, 3, true}, {3, 0, true}, {2, -1, true}, {5, -33554431, true}, {-1, 1, false},
                              {-3, -3, false}, {-2147483647 - 1, 0, false}, {2147483647, 1, false},
                              {0, 2147483647, false}, {349526, 1, false}, {1000, 1000, false}};
    for (std::int32_t width = 1; width <= 9; ++width) {
        for (std::int32_t height = 1; height <= 3; ++height) shapes.push_back({width, height, true});
    }
    for (const shape& s : shapes) {
        const std::size_t records = s.ok && s.width > 0 && s.height > 0 ? static_cast<std::size_t>(s.width * s.height) : 2;
        const bytes all = tile_records(static_cast<int>(records) + 1);
        // The input ends after every record, one record later, inside a palette, right after a
        // palette, one index or more into the indices, on a record boundary, or before the first byte.
        const std::size_t half = records / 2 * 5120;
        for (const std::size_t length : {records * 5120, all.size(), half + 701, half + 1024, half + 1025, half + 3073, half,
                                         std::size_t{0}}) {
            SCOPED_TRACE(std::to_string(s.width) + " x " + std::to_string(s.height) + ", " + std::to_string(length) + " bytes");
            const bytes input(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(length));
            const converted c = convert(convert_blocks, input, s.width, s.height);
            EXPECT_EQ(s.ok, c.ok);
            EXPECT_TRUE(convert(reference_convert, input, s.width, s.height).file == c.file);
        }
    }
}

// Pixels worked out by hand, so that the reference itself is pinned: record k has index rows
// y + k and palette entries (i, 16 k, 255 - i, 99). The fourth record is missing.
TEST(ConvertBlocks, PlacesBlocksBottomUpEachWithItsOwnPalette) {
    bytes input(3 * 5120);
    for (std::size_t at = 0; at < input.size(); ++at) {
        const std::size_t k = at / 5120, i = at % 5120 / 4, channel = at % 4;
        const std::size_t entry[] = {i, 16 * k, 255 - i, 99};
        input[at] = static_cast<unsigned char>(at % 5120 < 1024 ? entry[channel] : (at % 5120 - 1024) / 64 + k);
    }
    const bytes file = convert(convert_blocks, input, 2, 2).file;
    ASSERT_EQ(49206u, file.size());
    const struct {
        std::size_t x, y;  // from the picture's top-left corner
        bytes colour;
    } pixels[] = {
        {0, 0, {0, 0, 255}}, {127, 0, {1, 16, 254}}, {0, 63, {63, 0, 192}}, {5, 64, {2, 32, 253}},
        {70, 100, {65, 32, 190}},  // the missing block repeats the last palette and index
    };
    for (const auto& p : pixels) {
        const auto at = file.begin() + static_cast<std::ptrdiff_t>(54 + (127 - p.y) * 384 + 3 * p.x);
        EXPECT_EQ(p.colour, bytes(at, at + 3)) << p.x << ", " << p.y;
    }
}

// Failed writes are rows of the end-to-end table; a pipe and a folder reach the conversion
// only from here.
TEST(ConvertBlocks, ReportsFailedReadsAndSeeks) {
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    ASSERT_EQ(5120, write(fds[1], tile_records(1).data(), 5120));
    close(fds[1]);
    const unique_file pipe_end{fdopen(fds[0], "rb")}, folder{std::fopen("/", "rb")}, out{std::tmpfile()};
    EXPECT_FALSE(convert_blocks(pipe_end.get(), out.get(), 1, 1)) << "input cannot seek";
    EXPECT_FALSE(convert_blocks(folder.get(), out.get(), 1, 1)) << "input cannot be read";
}

// On a processor with wide vectors paint_block takes another path than the conversion does elsewhere.
TEST(PaintBlock, BothPathsLookUpEveryIndexAndTouchNothingElse) {
    const bytes records = tile_records(3, 5);
    // The middle block of a strip three blocks wide, which is filled with a marker beforehand.
    bytes expected = convert(reference_convert, records, 3, 1).file;
    expected.erase(expected.begin(), expected.begin() + 54);
    for (std::size_t at = 0; at < expected.size(); ++at) {
        if (at % 576 / 192 != 1) expected[at] = 0xEE;
    }
    for (const auto paint : {paint_block, paint_block_portable}) {
        bytes strip(64 * 576, 0xEE);
        paint(records.data() + 5120, records.data() + 5120 + 1024, strip.data() + 192, 576);
        EXPECT_TRUE(expected == strip);
    }
}
