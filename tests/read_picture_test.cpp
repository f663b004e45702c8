// Reading pictures: what a damaged or impossible picture is refused with, and how run-length
// data is split into block-rows. Pixels of every variant are checked against other decoders in
// picture_formats_test.py.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "conversion/convert_blocks.h"
#include "packing/pack_blocks.h"
#include "packing/read_picture.h"
#include "tests/test_support.h"

namespace quorvex {

namespace {

void put(bytes& data, std::size_t at, std::uint32_t value, std::size_t size = 4) {
    for (std::size_t i = 0; i < size; ++i) data[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

// A 64 x `height` BMP of `bits` per pixel with a 40-byte header, the colour table `table`
// and then `pixels` as they are.
bytes bmp(std::uint32_t bits, std::uint32_t compression, const bytes& table, const bytes& pixels,
          std::int32_t height = 64) {
    bytes data = {'B', 'M'};
    data.resize(54 + table.size() + pixels.size());
    put(data, 10, static_cast<std::uint32_t>(54 + table.size()));
    put(data, 14, 40);
    put(data, 18, 64);
    put(data, 22, static_cast<std::uint32_t>(height));
    put(data, 26, 1, 2);
    put(data, 28, bits, 2);
    put(data, 30, compression);
    std::copy(table.begin(), table.end(), data.begin() + 54);
    std::copy(pixels.begin(), pixels.end(), data.begin() + 54 + static_cast<std::ptrdiff_t>(table.size()));
    return data;
}

const bytes two_colours = {10, 20, 30, 0, 40, 50, 60, 0};
bytes plain() { return bmp(8, 0, two_colours, bytes(4096, 1)); }
bytes run_length(const bytes& stream, std::int32_t height = 64) { return bmp(8, 1, two_colours, stream, height); }
bytes edited(bytes data, std::size_t at, std::uint32_t value, std::size_t size = 4) {
    put(data, at, value, size);
    return data;
}
bytes cut(bytes data, std::size_t size) {
    data.resize(size);
    return data;
}

// A grey PNG whose pixels are one stored deflate block, 64 x 64 pixels of them; checksums are not
// checked.
bytes png(std::uint32_t width = 64, unsigned char height_high_byte = 0) {
    bytes data = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const auto chunk = [&data](const char* name, const bytes& content) {
        for (int i = 3; i >= 0; --i) data.push_back(static_cast<unsigned char>(content.size() >> (8 * i)));
        data.insert(data.end(), name, name + 4);
        data.insert(data.end(), content.begin(), content.end());
        data.insert(data.end(), 4, 0);
    };
    chunk("IHDR", {0, static_cast<unsigned char>(width >> 16), static_cast<unsigned char>(width >> 8),
                   static_cast<unsigned char>(width), 0, 0, height_high_byte, 64, 8, 0, 0, 0, 0});
    bytes zlib = {0x78, 0x01, 0x01, 0x40, 0x10, 0xBF, 0xEF};  // one stored block of 4160 bytes
    zlib.resize(zlib.size() + 4160, 0);
    zlib.insert(zlib.end(), {0x00, 0x00, 0x00, 0x01});
    chunk("IDAT", zlib);
    chunk("IEND", {});
    return data;
}

}  // namespace

TEST(ReadPicture, RefusesWhatIsDamagedWithItsReason) {
    const bytes masks = edited(edited(bmp(32, 3, {}, {}), 10, 66), 28, 32, 2);
    const struct {
        const char* name;
        bytes file;
        picture_problem problem;
        std::string reason;
    } cases[] = {
        {"a plain BMP", plain(), picture_problem::none, ""},
        {"a PNG", png(), picture_problem::none, ""},
        {"not a picture", {'h', 'e', 'l', 'l', 'o'}, picture_problem::unreadable, ""},
        {"sides not in blocks", edited(plain(), 18, 100), picture_problem::size_not_in_blocks, ""},
        {"cut in the header size", cut(plain(), 16), picture_problem::refused, " is cut short: its header needs 18 bytes, 16 present"},
        {"cut after the header size", cut(plain(), 18), picture_problem::refused, " is cut short: its header needs 54 bytes, 18 present"},
        {"cut in the masks", cut(masks, 60), picture_problem::refused, " is cut short: its header needs 66 bytes, 60 present"},
        {"cut in the colour table", cut(edited(plain(), 10, 1078), 154), picture_problem::refused,
         " is cut short: its colour table needs 1024 bytes, 100 present"},
        {"headers alone", bmp(24, 0, {}, {}), picture_problem::refused, " is cut short: 12288 bytes of pixel rows, 0 present"},
        {"cut in the pixel rows", cut(plain(), 62 + 4000), picture_problem::refused,
         " is cut short: 4096 bytes of pixel rows, 4000 present"},
        {"pixels at byte 0", edited(plain(), 10, 0), picture_problem::refused,
         " has its pixels at byte 0, inside its headers, which end at byte 54"},
        {"pixels past the end", edited(plain(), 10, 5000), picture_problem::refused,
         " has its pixels at byte 5000, past its end at byte 4158"},
        {"width 0", edited(plain(), 18, 0), picture_problem::refused, " has no pixels: it is 0 x 64"},
        {"height 0", edited(plain(), 22, 0), picture_problem::refused, " has no pixels: it is 64 x 0"},
        {"negative width", edited(plain(), 18, static_cast<std::uint32_t>(-64)), picture_problem::refused,
         " has a width or height out of range: -64 x 64"},
        {"height of no positive counterpart", edited(plain(), 22, 0x80000000U), picture_problem::refused,
         " has a width or height out of range: 64 x -2147483648"},
        {"two planes", edited(plain(), 26, 2, 2), picture_problem::refused, " has 2 planes; a picture has 1"},
        {"unknown compression", edited(plain(), 30, 4), picture_problem::refused, " has an unknown compression: 4"},
        {"16 bits run-length", edited(run_length({}), 28, 16, 2), picture_problem::refused,
         " has 16 bits per pixel, which its compression does not allow"},
        {"unknown header size", edited(plain(), 14, 64), picture_problem::refused, " has a header of an unknown size: 64 bytes"},
        {"top-down run-length", run_length({0, 1}, -64), picture_problem::refused,
         " is top-down and run-length encoded, which a BMP cannot be"},
        {"run-length, ends early", run_length({64, 1, 0, 0}), picture_problem::refused,
         " is cut short: its run-length data ends before its last row"},
        {"run-length, cut in a literal", run_length({0, 5, 1, 1}), picture_problem::refused,
         " is cut short: its run-length data ends before its last row"},
        {"run-length, cut in a move", run_length({0, 2, 1}), picture_problem::refused,
         " is cut short: its run-length data ends before its last row"},
        {"run-length, a run past the row", run_length({60, 1, 5, 1}), picture_problem::refused,
         " has run-length data that writes past the end of a row"},
        {"run-length, a literal past the row", run_length({60, 1, 0, 5, 1, 1, 1, 1, 1, 0}), picture_problem::refused,
         " has run-length data that writes past the end of a row"},
        {"run-length, a move past the row", run_length({0, 2, 65, 0}), picture_problem::refused,
         " has run-length data that writes past the end of a row"},
        {"run-length, a move past the top", run_length({0, 2, 0, 65}), picture_problem::refused,
         " has run-length data that writes past the end of a row"},
        {"run-length, a whole row then the end", run_length({64, 1, 0, 1}), picture_problem::none, ""},
        {"run-length, a move to the row's end and past the last row", run_length({0, 2, 64, 64}), picture_problem::none, ""},
        {"PNG cut short", cut(png(), 100), picture_problem::refused, " is cut short: its PNG data ends early"},
        {"PNG of a damaged deflate header", edited(png(), 41, 2, 1), picture_problem::refused,
         " is a damaged PNG: its data fails its checks"},
        {"PNG past 2^20 pixels wide", png(1U << 21), picture_problem::refused,
         " is too large for a PNG: at most 1048576 pixels wide and high, and 1 GiB decoded"},
        {"PNG past 1 GiB decoded", png(1U << 20, 4), picture_problem::refused,
         " is too large for a PNG: at most 1048576 pixels wide and high, and 1 GiB decoded"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const unique_file in = temp_file_with(c.file);
        picture pic;
        EXPECT_EQ(c.problem, read_picture(in.get(), pic));
        EXPECT_EQ(c.reason, pic.refusal);
    }
}

// Each block-row starts where the one below it left the data: after a move across two
// block-rows, and with the rest of the bitmap ended early, which keeps entry 0.
TEST(ReadPicture, RunLengthBlockRowsStartWhereTheWalkLeftThem) {
    const bytes stream = {64, 1, 0, 0, 0, 2, 5, 130, 3, 1, 0, 1};
    const unique_file in = temp_file_with(run_length(stream, 192));
    picture pic;
    ASSERT_EQ(picture_problem::none, read_picture(in.get(), pic));
    bytes buffer;
    const auto colour_at = [&](std::size_t index, std::ptrdiff_t row, std::ptrdiff_t x) {
        const std::optional<block_row> rows = read_block_row(pic, index, buffer);
        EXPECT_TRUE(rows.has_value());
        const unsigned char* pixel = rows->first + row * rows->row_step + x * 3;
        return std::to_string(pixel[0]) + "," + std::to_string(pixel[1]) + "," + std::to_string(pixel[2]);
    };
    EXPECT_EQ("40,50,60", colour_at(2, 63, 0));   // the bottom row, entry 1
    EXPECT_EQ("40,50,60", colour_at(2, 63, 63));
    EXPECT_EQ("10,20,30", colour_at(2, 62, 0));   // moved over: entry 0
    EXPECT_EQ("10,20,30", colour_at(1, 30, 7));   // a block-row the move crossed
    EXPECT_EQ("10,20,30", colour_at(0, 60, 4));   // row 131, before the run
    EXPECT_EQ("40,50,60", colour_at(0, 60, 5));   // the run of 3 after the move
    EXPECT_EQ("40,50,60", colour_at(0, 60, 7));
    EXPECT_EQ("10,20,30", colour_at(0, 60, 8));
    EXPECT_EQ("10,20,30", colour_at(0, 0, 0));    // past the bitmap's end
}

// The colour count, not the room before the pixels, says how long the table is; an index past
// it reads as black.
TEST(ReadPicture, AnIndexPastTheColourCountIsBlack) {
    const bytes table = {10, 20, 30, 0, 40, 50, 60, 0, 70, 80, 90, 0};
    const unique_file in = temp_file_with(edited(bmp(8, 0, table, bytes(4096, 2)), 46, 2));
    picture pic;
    ASSERT_EQ(picture_problem::none, read_picture(in.get(), pic));
    bytes buffer;
    const std::optional<block_row> rows = read_block_row(pic, 0, buffer);
    ASSERT_TRUE(rows.has_value());
    EXPECT_EQ(0, rows->first[0] + rows->first[1] + rows->first[2]);
}

// A pipe cannot seek: what it holds is read whole and packs as the same file would.
TEST(ReadPicture, APipePacksAsItsFile) {
    for (const bytes& file : {convert_bytes(convert_blocks, tile_records(2), 2, 1).file, run_length({64, 1, 0, 1})}) {
        int ends[2];
        ASSERT_EQ(0, pipe(ends));
        // Both fit in the pipe's buffer, so the write cannot wait for a reader.
        ASSERT_EQ(static_cast<ssize_t>(file.size()), write(ends[1], file.data(), file.size()));
        close(ends[1]);
        const unique_file piped{fdopen(ends[0], "rb")}, in = temp_file_with(file);
        const unique_file from_pipe{std::tmpfile()}, from_file{std::tmpfile()};
        picture a, b;
        ASSERT_EQ(picture_problem::none, read_picture(piped.get(), a));
        ASSERT_EQ(picture_problem::none, read_picture(in.get(), b));
        ASSERT_EQ(pack_stage::none, pack_blocks(a, from_pipe.get()).failed);
        ASSERT_EQ(pack_stage::none, pack_blocks(b, from_file.get()).failed);
        EXPECT_TRUE(read_all(from_pipe.get()) == read_all(from_file.get()));
    }
}

}  // namespace quorvex
