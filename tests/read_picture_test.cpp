// Reading pictures: what a damaged or impossible picture is refused with, and how run-length
// data is split into block-rows. Pixels of every variant are checked against other decoders in
// picture_formats_test.py.

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <string>

#include "conversion/convert_blocks.h"
#include "packing/read_picture.h"
#include "tests/test_support.h"

namespace quorvex {

namespace {

void put(bytes& data, std::size_t at, std::uint32_t value, std::size_t size = 4) {
    for (std::size_t i = 0; i < size; ++i) data[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

// A 64 x `height` BMP of `bits` per pixel with a 40-byte header, the colour table `table`
// and then `pixels` as they are.
bytes bmp(unsigned char bits, unsigned char compression, const bytes& table, const bytes& pixels, std::int32_t height = 64) {
    bytes data = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 40, 0, 0, 0, 64, 0, 0, 0, 0, 0, 0, 0, 1, 0, bits, 0, compression};
    data.resize(54);
    put(data, 10, static_cast<std::uint32_t>(54 + table.size()));
    put(data, 22, static_cast<std::uint32_t>(height));
    data.insert(data.end(), table.begin(), table.end());
    data.insert(data.end(), pixels.begin(), pixels.end());
    return data;
}

const bytes two_colours = {10, 20, 30, 0, 40, 50, 60, 0};

bytes plain() { return bmp(8, 0, two_colours, bytes(4096, 1)); }
// Every row of a 64 x 64 picture a run of entry 1 ending its row, but the last: its run ends the data.
bytes full_rows() {
    bytes stream;
    for (int row = 0; row < 64; ++row) stream.insert(stream.end(), {64, 1, 0, 0});
    stream.resize(stream.size() - 2);
    return stream;
}
bytes run_length(const bytes& stream, std::int32_t height = 64) { return bmp(8, 1, two_colours, stream, height); }
bytes edited(bytes data, std::size_t at, std::uint32_t value, std::size_t size = 4) {
    put(data, at, value, size);
    return data;
}
bytes cut(bytes data, std::size_t size) {
    data.resize(size);
    return data;
}

// A grey 8-bit PNG whose pixels, all 0, are stored deflate blocks of 64 x `rows` pixels in one
// IDAT, with right CRCs; the header may claim another size or interlacing, the stream be off
// its Adler-32 by `adler_off`, an eXIf chunk of `exif` bytes come first.
bytes png(std::uint32_t width = 64, std::uint32_t height = 64, unsigned char interlace = 0, std::uint32_t adler_off = 0,
          std::size_t rows = 64, std::size_t exif = 0) {
    bytes data = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const auto chunk = [&data](const char* name, const bytes& content) {
        for (int i = 3; i >= 0; --i) data.push_back(static_cast<unsigned char>(content.size() >> (8 * i)));
        const std::size_t named = data.size();
        data.insert(data.end(), name, name + 4);
        data.insert(data.end(), content.begin(), content.end());
        const auto crc = static_cast<std::uint32_t>(crc32(0, data.data() + named, static_cast<uInt>(data.size() - named)));
        for (int i = 3; i >= 0; --i) data.push_back(static_cast<unsigned char>(crc >> (8 * i)));
    };
    const auto byte = [](std::uint32_t value, int at) { return static_cast<unsigned char>(value >> (8 * at)); };
    chunk("IHDR", {byte(width, 3), byte(width, 2), byte(width, 1), byte(width, 0), byte(height, 3), byte(height, 2),
                   byte(height, 1), byte(height, 0), 8, 0, 0, 0, interlace});
    if (exif > 0) chunk("eXIf", edited(bytes(exif), 0, 0x2A004D4D));  // "MM", 0, 42: the byte order libspng checks
    const bytes zeros(rows * 65, 0);
    uLongf size = compressBound(zeros.size());
    bytes zlib(size);
    (void)compress2(zlib.data(), &size, zeros.data(), zeros.size(), 0);  // level 0: stored blocks, of known size
    zlib.resize(size);
    zlib.back() = static_cast<unsigned char>(zlib.back() + adler_off);  // the Adler-32's low byte
    chunk("IDAT", zlib);
    chunk("IEND", {});
    return data;
}

// A pipe holding `data` (small: the pipe's buffer holds it), to read from.
unique_file piped(const bytes& data) {
    int ends[2] = {-1, -1};
    if (pipe(ends) != 0) return nullptr;
    const bool written = write(ends[1], data.data(), data.size()) == static_cast<ssize_t>(data.size());
    if (close(ends[1]) != 0 || !written) {
        close(ends[0]);
        return nullptr;
    }
    return unique_file{fdopen(ends[0], "rb")};
}

// Byte offsets in png(): the IDAT chunk's CRC, and the IEND chunk.
constexpr std::size_t png_idat_crc = 8 + 25 + 8 + 4171;
constexpr std::size_t png_iend = png_idat_crc + 4;

}  // namespace

TEST(ReadPicture, RefusesWhatIsDamagedWithItsReason) {
    const bytes masks = edited(edited(bmp(32, 3, {}, {}), 10, 66), 28, 32, 2);
    const std::string run_length_ends = " is cut short: its run-length data ends before its last row";
    const std::string past_row = " has run-length data that writes past the end of a row";
    const std::string png_too_large =
        " is too large for a PNG: at most 1048576 pixels wide and high, and 1 GiB decoded when interlaced";
    const std::string png_cut_short = " is cut short: its PNG data ends early";
    const std::string png_chunks = " is too large for a PNG: its chunks beside the pixels hold more than 16 MiB or 1000 entries";
    const std::string limits = " pixels, past the limit of 2097152 pixels wide and 1073741824 pixels in all";
    const bytes ended = run_length({0, 1}), alpha_masks = edited(edited(bmp(32, 6, {}, {}), 10, 70), 28, 32, 2);
    bytes full_and_a_byte = full_rows(), last_half = full_rows();
    full_and_a_byte.push_back(0);
    last_half[last_half.size() - 2] = 32;
    const struct {
        const char* name;
        bytes file;
        std::string reason;
        picture_problem problem = picture_problem::refused;
        bool piped = false;
    } cases[] = {
        {"a plain BMP", plain(), "", picture_problem::none},
        {"a PNG", png(), "", picture_problem::none},
        {"not a picture", {'h', 'e', 'l', 'l', 'o'}, "", picture_problem::unreadable},
        {"sides not in blocks", edited(plain(), 18, 100), "", picture_problem::size_not_in_blocks},
        {"nothing but BM", cut(plain(), 2), " is cut short: its header needs 18 bytes, 2 present"},
        {"cut after the header size", cut(plain(), 18), " is cut short: its header needs 54 bytes, 18 present"},
        {"cut in the masks", cut(masks, 60), " is cut short: its header needs 66 bytes, 60 present"},
        {"cut in the masks with alpha", cut(alpha_masks, 66), " is cut short: its header needs 70 bytes, 66 present"},
        {"cut in the colour table", cut(edited(plain(), 10, 1078), 154), " is cut short: its colour table needs 1024 bytes, 100 present"},
        {"headers alone", bmp(24, 0, {}, {}), " is cut short: 12288 bytes of pixel rows, 0 present"},
        {"cut in the pixel rows", cut(plain(), 62 + 4000), " is cut short: 4096 bytes of pixel rows, 4000 present"},
        {"pixels at byte 0", edited(plain(), 10, 0), " has its pixels at byte 0, inside its headers, which end at byte 54"},
        {"pixels past the end", edited(plain(), 10, 5000), " has its pixels at byte 5000, past its end at byte 4158"},
        {"width 0", edited(plain(), 18, 0), " has no pixels: it is 0 x 64"},
        {"height 0", edited(plain(), 22, 0), " has no pixels: it is 64 x 0"},
        {"negative width", edited(plain(), 18, 0xFFFFFFC0U), " has a width or height out of range: -64 x 64"},
        {"height of no positive counterpart", edited(plain(), 22, 0x80000000U), " has a width or height out of range: 64 x -2147483648"},
        {"two planes", edited(plain(), 26, 2, 2), " has 2 planes; a picture has 1"},
        {"JPEG compression", edited(plain(), 30, 4), " has an unknown compression: 4"},
        {"PNG compression", edited(plain(), 30, 5), " has an unknown compression: 5"},
        {"compression past the known ones", edited(plain(), 30, 7), " has an unknown compression: 7"},
        {"run-length 2^31 - 64 pixels wide", edited(ended, 18, 0x7FFFFFC0U), " is too large: 2147483584 x 64" + limits},
        {"run-length 2^31 - 64 pixels high", edited(ended, 22, 0x7FFFFFC0U), " is too large: 64 x 2147483584" + limits},
        {"a block wider than the limit", edited(ended, 18, (1U << 21) + 64), " is too large: 2097216 x 64" + limits},
        {"as wide as the limit", edited(ended, 18, 1U << 21), "", picture_problem::none},
        {"a block-row more than the limit in all", edited(ended, 22, (1U << 24) + 64), " is too large: 64 x 16777280" + limits},
        {"as many pixels as the limit", edited(ended, 22, 1U << 24), "", picture_problem::none},
        {"16 bits run-length", edited(run_length({}), 28, 16, 2), " has 16 bits per pixel, which its compression does not allow"},
        {"32 bits after a 12-byte header", edited(edited(edited(edited(plain(), 14, 12), 20, 64, 2), 22, 1, 2), 24, 32, 2),
         " has 32 bits per pixel, which its compression does not allow"},
        {"unknown header size", edited(plain(), 14, 64), " has a header of an unknown size: 64 bytes"},
        {"top-down run-length", run_length({0, 1}, -64), " is top-down and run-length encoded, which a BMP cannot be"},
        {"run-length, ends early", run_length({64, 1, 0, 0}), run_length_ends},
        {"run-length, cut in a literal", run_length({0, 5, 1, 1}), run_length_ends},
        {"run-length, cut in a move", run_length({0, 2, 1}), run_length_ends},
        {"run-length, a run past the row", run_length({60, 1, 5, 1}), past_row},
        {"run-length, a literal past the row", run_length({60, 1, 0, 5, 1, 1, 1, 1, 1, 0}), past_row},
        {"run-length, a move past the row", run_length({60, 1, 0, 2, 5, 0}), past_row},
        {"run-length, a move past the top", run_length({0, 2, 0, 60, 0, 2, 0, 5}), past_row},
        {"run-length, a whole row then the end", run_length({64, 1, 0, 1}), "", picture_problem::none},
        {"run-length, every row and no end mark", run_length(full_rows()), "", picture_problem::none},
        {"run-length, every row and a byte", run_length(full_and_a_byte), run_length_ends},
        {"run-length, the last row half full", run_length(last_half), run_length_ends},
        {"run-length, a move to the row's end and the top", run_length({0, 2, 64, 64}), "", picture_problem::none},
        {"a BMP through a pipe", plain(), "", picture_problem::none, true},
        {"a BMP through a pipe, cut short", cut(plain(), 62 + 4000), " is cut short: 4096 bytes of pixel rows, 4000 present", picture_problem::refused, true},
        {"an interlaced PNG whose data is sized for a plain one", png(64, 64, 1), " is a damaged PNG: IDAT stream too short"},
        {"PNG cut short in its pixels", cut(png(), 1000), png_cut_short},
        {"PNG cut short in its pixels, through a pipe", cut(png(), 1000), png_cut_short, picture_problem::refused, true},
        {"PNG without IEND", cut(png(), png_iend), png_cut_short},
        {"PNG without IEND, through a pipe", cut(png(), png_iend), png_cut_short, picture_problem::refused, true},
        {"PNG whose pixel data fails its CRC", edited(png(), png_idat_crc, 0), " is a damaged PNG: invalid chunk checksum"},
        {"PNG whose header fails its CRC", edited(png(), 29, 0), " is a damaged PNG: invalid chunk checksum"},
        {"PNG of a damaged deflate header", edited(png(), 41, 2, 1), " is a damaged PNG: IDAT stream error"},
        {"PNG of more rows than its pixel data holds", png(64, 65600), " is a damaged PNG: IDAT stream too short"},
        {"PNG exactly as wide as allowed, its pixel data short", png(1U << 20, 64), " is a damaged PNG: IDAT stream too short"},
        {"PNG whose pixel data fails its Adler-32", png(64, 64, 0, 1), " is a damaged PNG: IDAT stream error"},
        {"PNG whose IDAT claims 16 MiB more than the file holds", edited(png(), 33, 1, 1), png_cut_short},
        {"PNG of one IDAT over 16 MiB", png(64, 258112, 0, 0, 258112), "", picture_problem::none},
        {"PNG of 16 MiB of Exif", png(64, 64, 0, 0, 64, 1U << 24), "", picture_problem::none},
        {"PNG of more than 16 MiB of Exif", png(64, 64, 0, 0, 64, (1U << 24) + 1), png_chunks},
        {"PNG past 2^20 pixels wide", png(1U << 21), png_too_large},
        {"interlaced PNG just past 1 GiB decoded", png(1U << 20, 384, 1), png_too_large},
        {"PNG past the limit in all", png(1U << 20, 1088), " is too large: 1048576 x 1088" + limits},
    };
    // A file's refusals come from memory too, as the web page reads it, with the same reasons.
    for (const bool in_memory : {false, true}) {
        for (const auto& c : cases) {
            if (in_memory && (c.piped || c.problem == picture_problem::none)) continue;
            SCOPED_TRACE(std::string(c.name) + (in_memory ? ", in memory" : ""));
            const unique_file in = in_memory ? nullptr : c.piped ? piped(c.file) : temp_file_with(c.file);
            ASSERT_TRUE(in || in_memory);
            picture pic;
            picture_problem problem = in_memory ? read_picture(c.file, pic) : read_picture(in.get(), pic);
            // A PNG's damage may show only as it is decoded: every block-row is read.
            bytes buffer;
            for (std::size_t index = 0; problem == picture_problem::none && index < static_cast<std::size_t>(pic.height / 64); ++index) {
                if (!read_block_row(pic, index, buffer)) problem = picture_problem::refused;
            }
            EXPECT_EQ(c.problem, problem);
            EXPECT_EQ(c.reason, pic.refusal);
        }
    }
}

// What the reader decides alone: each run-length block-row starts where the one below it left
// the data (after a move across two block-rows; the rest, after an early end, keeps entry 0),
// and an index past a colour table cut by its count or by the pixels' offset is black. A pipe
// cannot seek: a BMP from it is copied to a temporary file, a PNG decoded as it comes.
TEST(ReadPicture, RunLengthBlockRowsShortTablesAndPipesGiveTheirPixels) {
    const bytes moved = run_length({64, 1, 0, 0, 0, 2, 5, 130, 3, 1, 0, 1}, 192);
    const bytes counted = edited(bmp(8, 0, {10, 20, 30, 0, 40, 50, 60, 0, 70, 80, 90, 0}, bytes(4096, 2)), 46, 2);
    const bytes short_table = bmp(8, 0, two_colours, bytes(4096, 200));
    const bytes ended = run_length({64, 1, 0, 1}, 128), no_blue = bmp(32, 3, {0, 0, 255, 0, 0, 255, 0, 0, 0, 0, 0, 0}, bytes(16384, 255));
    const bytes unmarked = run_length(full_rows()), alpha = bmp(32, 6, {0, 0, 0, 255, 0, 0, 240, 0, 15, 0, 0, 0, 0, 15, 0, 0}, bytes(16384, 55));
    // Each pixel its column, its row modulo 4 and 7: a pixel or a row out of place shows.
    const auto marked = [](int x, int y) { return std::array<unsigned char, 3>{static_cast<unsigned char>(x), static_cast<unsigned char>(y % 4), 7}; };
    const bytes quorvex_bitmap = convert_bytes(convert_blocks, picture_records(2, 1, marked), 2, 1).file, grey = png();
    const struct {
        const char* name;
        const bytes& file;
        std::size_t index;
        std::ptrdiff_t row, x;
        std::string colour;
        bool piped = false;
    } cases[] = {
        {"the bottom row, entry 1", moved, 2, 63, 0, "40,50,60"},
        {"the bottom row's end", moved, 2, 63, 63, "40,50,60"},
        {"moved over: entry 0", moved, 2, 62, 0, "10,20,30"},
        {"a block-row the move crossed", moved, 1, 30, 7, "10,20,30"},
        {"row 131, before the run", moved, 0, 60, 4, "10,20,30"},
        {"the run of 3 after the move", moved, 0, 60, 5, "40,50,60"},
        {"the run's end", moved, 0, 60, 7, "40,50,60"},
        {"after the run", moved, 0, 60, 8, "10,20,30"},
        {"past the bitmap's end", moved, 0, 0, 0, "10,20,30"},
        {"a block-row wholly past the bitmap's end", ended, 0, 0, 0, "10,20,30"},
        {"the last row's end, with no end mark", unmarked, 0, 0, 63, "40,50,60"},
        {"masks, one of them empty", no_blue, 0, 0, 0, "0,255,255"},
        {"masks and one for alpha", alpha, 0, 0, 0, "119,51,55"},
        {"index past the colour count", counted, 0, 0, 0, "0,0,0"},
        {"index past the table before the pixels", short_table, 0, 0, 0, "0,0,0"},
        {"run-length through a pipe", moved, 0, 60, 5, "40,50,60", true},
        {"quorvex's bitmap through a pipe", quorvex_bitmap, 0, 63, 127, "127,3,7", true},
        {"a PNG through a pipe", grey, 0, 63, 63, "0,0,0", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const unique_file in = c.piped ? piped(c.file) : temp_file_with(c.file);
        ASSERT_TRUE(in);
        picture pic;
        bytes buffer;
        ASSERT_EQ(picture_problem::none, read_picture(in.get(), pic));
        const std::optional<block_row> rows = read_block_row(pic, c.index, buffer);
        ASSERT_TRUE(rows.has_value());
        const unsigned char* pixel = rows->first + c.row * rows->row_step + c.x * 3;
        EXPECT_EQ(c.colour, std::to_string(pixel[0]) + "," + std::to_string(pixel[1]) + "," + std::to_string(pixel[2]));
    }
}

}  // namespace quorvex
