#include "packing/read_picture.h"

#include <algorithm>
#include <array>
#include <climits>
#include <span>
#include <vector>

#include "conversion/block_geometry.h"

// The decoder is built here and nowhere else, for the two formats read, without file access
// of its own (the caller opens the file). A side past 2^20 pixels is refused before any
// allocation; the decoder also refuses pictures past 2 GiB decoded.
#define STBI_NO_STDIO
#define STBI_ONLY_BMP
#define STBI_ONLY_PNG
#define STBI_NO_LINEAR
#define STBI_MAX_DIMENSIONS (1 << 20)
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

namespace quorvex {

namespace {

constexpr int rgb_channels = 3;

int read_bytes(void* file, char* data, int size) {
    return static_cast<int>(std::fread(data, 1, static_cast<std::size_t>(size), static_cast<std::FILE*>(file)));
}

// The decoder skips forward only; a failed seek shows as a short read afterwards.
void skip_bytes(void* file, int count) { (void)std::fseek(static_cast<std::FILE*>(file), count, SEEK_CUR); }

int at_end(void* file) { return std::feof(static_cast<std::FILE*>(file)); }

constexpr stbi_io_callbacks file_callbacks{read_bytes, skip_bytes, at_end};

// Run-length encoded BMPs, which ImageMagick writes for 8-bit pictures, are not read by the
// decoder: they are expanded here into an uncompressed 8-bit BMP with the same colour table.
constexpr std::size_t bmp_header_bytes = 54;
constexpr std::uint32_t rle8 = 1;
constexpr std::uint32_t rle4 = 2;

std::uint32_t u32_at(std::span<const unsigned char> data, std::size_t at) {
    return std::uint32_t{data[at]} | std::uint32_t{data[at + 1]} << 8 | std::uint32_t{data[at + 2]} << 16 |
           std::uint32_t{data[at + 3]} << 24;
}

void put_u32(std::span<unsigned char> data, std::size_t at, std::uint64_t value) {
    for (std::size_t i = 0; i < 4; ++i) data[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

bool is_rle_bitmap(std::span<const unsigned char> head) {
    if (head.size() < bmp_header_bytes || head[0] != 'B' || head[1] != 'M' || u32_at(head, 14) < 40) return false;
    const std::uint32_t bits = u32_at(head, 28) & 0xFFFF;
    return (u32_at(head, 30) == rle8 && bits == 8) || (u32_at(head, 30) == rle4 && bits == 4);
}

// Pixels the runs skip or never reach take entry 0; runs past the end of a row are dropped.
std::vector<unsigned char> expand_rle_bitmap(std::FILE* in, std::size_t width, std::size_t height) {
    std::array<unsigned char, bmp_header_bytes> head{};
    if (std::fread(head.data(), 1, head.size(), in) != head.size()) return {};
    const std::size_t offset = u32_at(head, 10);
    const std::size_t stride = (width + 3) / 4 * 4;
    // As large as the decoder's own limit for the picture it makes from this one; worked out
    // in 64 bits, as a size_t may have 32.
    if (offset < head.size() || offset > INT_MAX / 2 ||
        std::uint64_t{stride} * height > (INT_MAX - offset) / rgb_channels) {
        return {};
    }
    std::vector<unsigned char> plain(offset + stride * height, 0);
    std::copy(head.begin(), head.end(), plain.begin());
    if (std::fread(plain.data() + head.size(), 1, offset - head.size(), in) != offset - head.size()) return {};
    const bool four_bits = u32_at(head, 30) == rle4;
    plain[28] = 8;
    put_u32(plain, 30, 0);
    put_u32(plain, 34, stride * height);
    put_u32(plain, 2, plain.size());

    std::size_t x = 0;
    std::size_t y = 0;  // rows from the bottom, as stored
    const auto put = [&](unsigned index) {
        if (x < width && y < height) plain[offset + y * stride + x] = static_cast<unsigned char>(index);
        ++x;
    };
    const auto nibble = [](unsigned byte, std::size_t i) { return i % 2 == 0 ? byte >> 4 : byte & 15; };
    std::array<unsigned char, 256> literal{};
    int count = 0;
    int value = 0;
    while (y < height && (count = std::getc(in)) != EOF && (value = std::getc(in)) != EOF) {
        if (count > 0) {
            for (std::size_t i = 0; i < static_cast<std::size_t>(count); ++i) {
                put(four_bits ? nibble(static_cast<unsigned>(value), i) : static_cast<unsigned>(value));
            }
        } else if (value == 0) {
            x = 0;
            ++y;
        } else if (value == 1) {
            break;
        } else if (value == 2) {
            const int right = std::getc(in);
            const int up = std::getc(in);
            if (right == EOF || up == EOF) break;
            x += static_cast<std::size_t>(right);
            y += static_cast<std::size_t>(up);
        } else {
            // A literal run of `value` pixels, padded to a whole number of 16-bit words.
            const std::size_t pixels = static_cast<std::size_t>(value);
            const std::size_t bytes = four_bits ? (pixels + 1) / 2 : pixels;
            if (std::fread(literal.data(), 1, (bytes + 1) / 2 * 2, in) != (bytes + 1) / 2 * 2) break;
            for (std::size_t i = 0; i < pixels; ++i) put(four_bits ? nibble(literal[i / 2], i) : literal[i]);
        }
    }
    return std::ferror(in) != 0 ? std::vector<unsigned char>{} : plain;
}

std::uint32_t bits_per_pixel(std::span<const unsigned char> head) {
    // A 12-byte header has 16-bit sizes, so its bit count sits earlier.
    return (u32_at(head, u32_at(head, 14) == 12 ? 24 : 28) & 0xFFFF);
}

bool is_palette_bitmap(std::span<const unsigned char> head) {
    return head.size() >= bmp_header_bytes && head[0] == 'B' && head[1] == 'M' && bits_per_pixel(head) <= 8;
}

// The decoder keeps a colour table in 256 slots and leaves the slots past a short table as it
// found them, so an index beyond the table would pick up stray memory and pack differently from
// run to run: the table is padded with black entries to 256 first.
void pad_colour_table(std::vector<unsigned char>& bmp) {
    const std::size_t header = u32_at(bmp, 14);
    const std::size_t entry = header == 12 ? 3 : 4;
    const std::size_t offset = u32_at(bmp, 10);
    // The decoder refuses what cannot be padded here.
    if (offset > bmp.size() || header > offset || offset - header < 14 || bmp.size() > INT_MAX / 2) return;
    const std::size_t have = (offset - 14 - header) / entry;
    if (have >= 256) return;
    const std::size_t added = (256 - have) * entry;
    bmp.insert(bmp.begin() + static_cast<std::ptrdiff_t>(14 + header + have * entry), added, 0);
    put_u32(bmp, 10, offset + added);
    put_u32(bmp, 2, bmp.size());
}

// The whole file, for a picture the decoder is handed in memory; empty when it cannot be read.
std::vector<unsigned char> whole_file(std::FILE* in) {
    if (std::fseek(in, 0, SEEK_END) != 0) return {};
    const long size = std::ftell(in);
    if (size < 0 || size > INT_MAX / 2 || std::fseek(in, 0, SEEK_SET) != 0) return {};
    std::vector<unsigned char> data(static_cast<std::size_t>(size));
    return std::fread(data.data(), 1, data.size(), in) == data.size() ? data : std::vector<unsigned char>{};
}

// Whether `head` starts an uncompressed 24-bit BMP whose pixel rows all lie within `in`, below
// the offsets a plain seek reaches everywhere; its rows are then read straight from the file.
bool is_complete_24_bit_bitmap(std::span<const unsigned char> head, std::FILE* in, std::uint64_t pixel_bytes) {
    if (head.size() < bmp_header_bytes || head[0] != 'B' || head[1] != 'M' || u32_at(head, 14) < 40 ||
        (u32_at(head, 26) != (24U << 16 | 1U)) || u32_at(head, 30) != 0) {
        return false;
    }
    const std::uint64_t end = u32_at(head, 10) + pixel_bytes;
    return end <= INT_MAX && std::fseek(in, 0, SEEK_END) == 0 && std::ftell(in) >= static_cast<long>(end);
}

bool fits_blocks(std::int32_t width, std::int32_t height) {
    return width > 0 && height > 0 && width % block_geometry::block_side == 0 &&
           height % block_geometry::block_side == 0;
}

}  // namespace

void decoded_pixels_free::operator()(unsigned char* pixels) const { stbi_image_free(pixels); }

picture_problem read_picture(std::FILE* in, picture& into) {
    std::array<unsigned char, bmp_header_bytes> head{};
    const std::span<const unsigned char> got{head.data(), std::fread(head.data(), 1, head.size(), in)};
    const bool rle = is_rle_bitmap(got);
    int channels = 0;
    if (rle) {
        into.width = static_cast<std::int32_t>(u32_at(head, 18));
        into.height = static_cast<std::int32_t>(u32_at(head, 22));
    } else if (std::fseek(in, 0, SEEK_SET) != 0 ||
               stbi_info_from_callbacks(&file_callbacks, in, &into.width, &into.height, &channels) == 0) {
        return picture_problem::unreadable;
    }
    // A BMP stored top row first gives its height as negative; a run-length encoded one may not.
    if (!rle && into.height < 0 && into.height != INT_MIN) into.height = -into.height;
    // The decoder's limit holds for the BMPs read without it too.
    if (std::ferror(in) != 0 || into.width > STBI_MAX_DIMENSIONS || into.height > STBI_MAX_DIMENSIONS) {
        return picture_problem::unreadable;
    }
    if (!fits_blocks(into.width, into.height)) return picture_problem::size_not_in_blocks;
    // The pixels the file holds, as stored, need no decoding: they are read as they are packed.
    const std::uint64_t pixel_bytes = std::uint64_t{rgb_channels} * static_cast<std::uint64_t>(into.width) *
                                      static_cast<std::uint64_t>(into.height);
    if (is_complete_24_bit_bitmap(got, in, pixel_bytes)) {
        into.file = in;
        into.rows_at = static_cast<long>(u32_at(head, 10));
        into.bottom_up = static_cast<std::int32_t>(u32_at(head, 22)) > 0;
        return picture_problem::none;
    }
    if (std::fseek(in, 0, SEEK_SET) != 0) return picture_problem::unreadable;

    int width = 0;
    int height = 0;
    if (rle || is_palette_bitmap(got)) {
        std::vector<unsigned char> plain =
            rle ? expand_rle_bitmap(in, static_cast<std::size_t>(into.width), static_cast<std::size_t>(into.height))
                : whole_file(in);
        if (plain.size() >= bmp_header_bytes) {
            pad_colour_table(plain);
            into.pixels.reset(stbi_load_from_memory(plain.data(), static_cast<int>(plain.size()), &width, &height,
                                                    &channels, rgb_channels));
        }
    } else {
        into.pixels.reset(stbi_load_from_callbacks(&file_callbacks, in, &width, &height, &channels, rgb_channels));
    }
    // The second look must agree with the first: the file may have changed in between.
    if (!into.pixels || std::ferror(in) != 0 || width != into.width || height != into.height) {
        into.pixels.reset();
        return picture_problem::unreadable;
    }
    return picture_problem::none;
}

std::optional<block_row> read_block_row(const picture& pic, std::size_t index, std::vector<unsigned char>& buffer) {
    const std::size_t side = block_geometry::block_side;
    const auto row_bytes = static_cast<std::ptrdiff_t>(pic.width) * rgb_channels;
    if (pic.pixels) return block_row{pic.pixels.get() + static_cast<std::ptrdiff_t>(index * side) * row_bytes, row_bytes, true};

    // Stored bottom row first, the block-row's top row is the last of the 64 read.
    const std::size_t rows = static_cast<std::size_t>(pic.height);
    const std::size_t first_row = pic.bottom_up ? rows - (index + 1) * side : index * side;
    buffer.resize(side * static_cast<std::size_t>(row_bytes));
    // Within the first 2 GiB of the file, as read_picture checked: a long holds it everywhere.
    const std::int64_t at = pic.rows_at + static_cast<std::int64_t>(first_row) * row_bytes;
    if (std::fseek(pic.file, static_cast<long>(at), SEEK_SET) != 0 ||
        std::fread(buffer.data(), 1, buffer.size(), pic.file) != buffer.size()) {
        return std::nullopt;
    }
    if (pic.bottom_up) return block_row{buffer.data() + (side - 1) * static_cast<std::size_t>(row_bytes), -row_bytes, false};
    return block_row{buffer.data(), row_bytes, false};
}

}  // namespace quorvex
