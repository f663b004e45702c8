#include "conversion/convert_blocks.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/test_support.h"

namespace {

struct converted {
    bool ok;
    bytes file;
};

converted convert(const bytes& input, std::int32_t width, std::int32_t height) {
    unique_file in = temp_file_with(input);
    unique_file out{std::tmpfile()};
    const bool ok = convert_blocks(in.get(), out.get(), width, height);
    return {ok, read_all(out.get())};
}

bytes pixels_of(const converted& c) { return bytes(c.file.begin() + std::min<std::ptrdiff_t>(54, std::ssize(c.file)), c.file.end()); }

// The 3 bytes of the pixel at (x, y), counted from the picture's top-left corner.
bytes pixel_at(const converted& c, int width, int height, int x, int y) {
    const std::size_t row = static_cast<std::size_t>(height * 64 - 1 - y);
    const std::size_t at = 54 + row * static_cast<std::size_t>(width) * 192 + static_cast<std::size_t>(x) * 3;
    return bytes(c.file.begin() + static_cast<std::ptrdiff_t>(at), c.file.begin() + static_cast<std::ptrdiff_t>(at + 3));
}

bytes concat(std::initializer_list<bytes> parts) {
    bytes all;
    for (const bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

}  // namespace

TEST(ConvertBlocks, OneBlockIsStoredBottomRowFirst) {
    // Index row y selects palette entry y, whose colour is (y, 100 + y, 200 - y).
    bytes record(5120, 0);
    for (int i = 0; i < 64; ++i) {
        record[4 * static_cast<std::size_t>(i)] = static_cast<unsigned char>(i);
        record[4 * static_cast<std::size_t>(i) + 1] = static_cast<unsigned char>(100 + i);
        record[4 * static_cast<std::size_t>(i) + 2] = static_cast<unsigned char>(200 - i);
        for (int x = 0; x < 64; ++x) record[1024 + 64 * static_cast<std::size_t>(i) + static_cast<std::size_t>(x)] = static_cast<unsigned char>(i);
    }
    const converted c = convert(record, 1, 1);
    ASSERT_TRUE(c.ok);
    ASSERT_EQ(12342u, c.file.size());
    EXPECT_EQ((bytes{63, 163, 137}), bytes(c.file.begin() + 54, c.file.begin() + 57));          // first file row: last index row
    EXPECT_EQ((bytes{0, 100, 200}), bytes(c.file.end() - 3, c.file.end()));                  // last file row: first index row
}

TEST(ConvertBlocks, PlacesEveryRecordAndDropsTheFourthPaletteByte) {
    // Records 0..3 of a 2 x 2 picture, each one colour; the file holds records 2, 3 then 0, 1.
    const bytes input = concat({uniform_record({10, 20, 30, 40}, 9), uniform_record({1, 2, 3, 4}, 200),
                                uniform_record({5, 6, 7, 8}, 0), uniform_record({50, 60, 70, 80}, 255)});
    const converted c = convert(input, 2, 2);
    ASSERT_TRUE(c.ok);
    ASSERT_EQ(54u + 4 * 12288, c.file.size());
    EXPECT_EQ((bytes{10, 20, 30}), pixel_at(c, 2, 2, 0, 0));
    EXPECT_EQ((bytes{1, 2, 3}), pixel_at(c, 2, 2, 127, 63));
    EXPECT_EQ((bytes{5, 6, 7}), pixel_at(c, 2, 2, 0, 64));
    EXPECT_EQ((bytes{50, 60, 70}), pixel_at(c, 2, 2, 64, 127));
    // The first strip in the file is records 2 and 3.
    EXPECT_EQ((bytes{5, 6, 7}), bytes(c.file.begin() + 54, c.file.begin() + 57));
    EXPECT_EQ((bytes{50, 60, 70}), bytes(c.file.begin() + 54 + 192, c.file.begin() + 57 + 192));
}

TEST(ConvertBlocks, EachBlockUsesItsOwnPalette) {
    const converted c = convert(concat({uniform_record({1, 1, 1, 0}, 7), uniform_record({2, 2, 2, 0}, 7)}), 2, 1);
    ASSERT_TRUE(c.ok);
    EXPECT_EQ((bytes{1, 1, 1}), pixel_at(c, 2, 1, 63, 0));
    EXPECT_EQ((bytes{2, 2, 2}), pixel_at(c, 2, 1, 64, 0));
}

TEST(ConvertBlocks, ShortInputRepeatsTheLastColourAndSucceeds) {
    // 2 x 2 over three records: the bottom-right block has no record and is visited right after
    // record 2, so it takes record 2's palette and its last index throughout.
    bytes input = tile_records(3);
    const unsigned char last_index = input[3 * 5120 - 1];
    const std::size_t entry = 2 * 5120 + last_index * 4u;
    const bytes last_colour(input.begin() + static_cast<std::ptrdiff_t>(entry), input.begin() + static_cast<std::ptrdiff_t>(entry + 3));

    const converted c = convert(input, 2, 2);
    ASSERT_TRUE(c.ok);
    for (int y = 64; y < 128; y += 21) {
        for (int x = 64; x < 128; x += 9) {
            SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
            EXPECT_EQ(last_colour, pixel_at(c, 2, 2, x, y));
        }
    }
}

TEST(ConvertBlocks, BlocksBeforeAnyDataAreBlack) {
    const converted c = convert({}, 3, 2);
    ASSERT_TRUE(c.ok);
    ASSERT_EQ(54u + 6 * 12288, c.file.size());
    EXPECT_EQ(bytes(6 * 12288, 0), pixels_of(c));
}

TEST(ConvertBlocks, EmptyShapesWriteTheHeaderAlone) {
    const struct {
        std::int32_t width, height;
    } cases[] = {{0, 3}, {3, 0}, {0, 0}, {2, -1}, {0, -5}, {5, -2147483647 / 64}};
    for (const auto& s : cases) {
        SCOPED_TRACE(std::to_string(s.width) + " x " + std::to_string(s.height));
        const converted c = convert(tile_records(2), s.width, s.height);
        EXPECT_TRUE(c.ok);
        EXPECT_EQ(54u, c.file.size());
    }
}

TEST(ConvertBlocks, MatchesTheReferenceOnEveryWidthHeightAndWhereverTheInputEnds) {
    // Where the input ends, for a picture of `n` records; cuts fall in the middle record.
    const struct {
        const char* where;
        std::size_t (*length)(std::size_t n);
    } ends[] = {
        {"after every record", [](std::size_t n) { return n * 5120; }},
        {"one record later", [](std::size_t n) { return (n + 1) * 5120; }},
        {"inside a palette", [](std::size_t n) { return n / 2 * 5120 + 701; }},
        {"right after a palette", [](std::size_t n) { return n / 2 * 5120 + 1024; }},
        {"one byte into the indices", [](std::size_t n) { return n / 2 * 5120 + 1025; }},
        {"inside the indices", [](std::size_t n) { return n / 2 * 5120 + 1024 + 2049; }},
        {"on a record boundary", [](std::size_t n) { return n / 2 * 5120; }},
        {"before the first byte", [](std::size_t) { return std::size_t{0}; }},
    };
    for (int width = 1; width <= 9; ++width) {
        for (int height = 1; height <= 3; ++height) {
            const auto records = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
            const bytes all = tile_records(width * height + 1);
            for (const auto& end : ends) {
                SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height) + ", input ends " + end.where);
                const bytes input(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(end.length(records)));
                const converted c = convert(input, width, height);
                EXPECT_TRUE(c.ok);
                EXPECT_TRUE(reference_pixels(input, width, height) == pixels_of(c));
            }
        }
    }
}

TEST(ConvertBlocks, RefusesImpossibleSizesBeforeWritingAnything) {
    const struct {
        std::int32_t width, height;
    } cases[] = {{-1, 1}, {-3, -3}, {-2147483647 - 1, 0}, {2147483647, 1}, {0, 2147483647}, {349526, 1}, {1000, 1000}};
    for (const auto& s : cases) {
        SCOPED_TRACE(std::to_string(s.width) + " x " + std::to_string(s.height));
        const converted c = convert(tile_records(1), s.width, s.height);
        EXPECT_FALSE(c.ok);
        EXPECT_EQ(0u, c.file.size());
    }
}

TEST(ConvertBlocks, ReportsFailedWritesReadsAndSeeks) {
    // A full disk.
    {
        unique_file in = temp_file_with(tile_records(4));
        unique_file full{std::fopen("/dev/full", "wb")};
        ASSERT_TRUE(full);
        EXPECT_FALSE(convert_blocks(in.get(), full.get(), 2, 2));
    }
    // Even the header alone must reach the disk before success is reported.
    {
        unique_file in = temp_file_with({});
        unique_file full{std::fopen("/dev/full", "wb")};
        EXPECT_FALSE(convert_blocks(in.get(), full.get(), 0, 1));
    }
    // An input that cannot seek.
    {
        int fds[2];
        ASSERT_EQ(0, pipe(fds));
        const bytes record = tile_record(0);
        ASSERT_EQ(static_cast<ssize_t>(record.size()), write(fds[1], record.data(), record.size()));
        close(fds[1]);
        unique_file in{fdopen(fds[0], "rb")};
        unique_file out{std::tmpfile()};
        EXPECT_FALSE(convert_blocks(in.get(), out.get(), 1, 1));
    }
    // A read that fails for a reason other than the end of the input.
    {
        unique_file in{std::fopen(std::filesystem::temp_directory_path().c_str(), "rb")};
        ASSERT_TRUE(in);
        unique_file out{std::tmpfile()};
        EXPECT_FALSE(convert_blocks(in.get(), out.get(), 1, 1));
    }
}
