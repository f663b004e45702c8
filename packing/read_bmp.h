#pragma once

// BMP pictures, read one block-row at a time.
//
// A BMP is a 14-byte file header ("BM", file size, two reserved words, the offset of the pixel
// data), an information header of 12, 40, 52, 56, 108 or 124 bytes (width, height, planes, bits
// per pixel, and from 40 bytes on compression, colour count and, from 52 bytes, the colour
// masks), three masks after a 40-byte header that uses them, a colour table for 1, 4 and 8 bits
// per pixel (3 bytes an entry after a 12-byte header, 4 after the others), and the pixel data at
// its offset. Rows are stored bottom first unless the height is negative, each padded to a
// multiple of 4 bytes; run-length data is one stream of runs, literals, moves, row ends and the
// bitmap's end, bottom row first.

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "packing/block_row.h"

namespace quorvex {

/// A picture's bytes: in its file, read by seeking, or for an input that cannot seek (a pipe)
/// held whole in memory.
struct picture_source {
    std::FILE* file = nullptr;  // not owned; null when `whole` holds the bytes
    std::vector<unsigned char> whole;
    std::uint64_t size = 0;  // bytes in all

    /// Fills `into` with the bytes from `at` on; false when they are not all there or a seek or
    /// read fails.
    [[nodiscard]] bool read_at(std::uint64_t at, std::span<unsigned char> into) const;
};

/// Where decoding run-length data for a block-row begins: the stream position and the pixel
/// (column, row from the bottom) it is at there.
struct run_length_start {
    std::uint64_t at = 0;
    std::uint32_t x = 0;
    std::uint32_t y = 0;
};

/// How a BMP stores its pixels, as its headers say and the checks found.
struct bmp_layout {
    std::uint32_t bits = 0;         // per pixel
    std::uint32_t compression = 0;  // 0 none, 1 and 2 run-length of 8 and 4 bits, 3 and 6 masks
    bool bottom_up = true;
    std::uint64_t headers_end = 0;  // the end of the headers and masks: the colour table follows
    std::uint64_t pixels_at = 0;    // the pixel rows or the run-length data
    std::uint64_t row_bytes = 0;    // one stored row, padding included, when not run-length
    std::uint32_t entry_bytes = 4;  // of the colour table
    std::uint32_t entries = 0;      // colours the table claims
    std::array<std::uint32_t, 3> masks{};  // red, green, blue, for 16 and 32 bits per pixel
    std::array<std::array<unsigned char, 3>, 256> colours{};  // blue, green, red; black past the table
    std::vector<run_length_start> starts;  // per block-row, bottom first, for run-length data
};

/// The most bytes read_bmp_header reads: the file header and the longest information header
/// (masks after a 40-byte header end earlier).
inline constexpr std::size_t bmp_headers_bytes = 14 + 124;

/// Reads the headers of the BMP in `source`, which starts with "BM": its size and layout. An
/// empty text when they are sound, otherwise why it is refused. Reads nothing past the headers.
[[nodiscard]] std::string read_bmp_header(const picture_source& source, std::int32_t& width, std::int32_t& height,
                                          bmp_layout& layout);

/// Checks that everything the pixels need is in `source` before any pixel is read: the colour
/// table (read into `layout`), the pixel rows, or the run-length data, which is walked once
/// without its pixels to record in `layout`, which has none yet, where each block-row starts.
/// Empty, or why it is refused.
[[nodiscard]] std::string check_bmp_data(const picture_source& source, std::int32_t width, std::int32_t height,
                                         bmp_layout& layout);

/// Block-row `index` (0 at the top) of a checked BMP of width x height pixels, blue first,
/// decoded into `buffer` (one block-row of pixels and one stored row). Nothing when a read fails.
[[nodiscard]] std::optional<block_row> read_bmp_block_row(const picture_source& source, const bmp_layout& layout,
                                                          std::int32_t width, std::int32_t height, std::size_t index,
                                                          std::vector<unsigned char>& buffer);

}  // namespace quorvex
