#pragma once

// The tile data and the bitmap it becomes, described once.
//
// Tile data is headerless: a plain run of tile records, one per 64 x 64 block,
// in row-major order over the picture. A record is a 256-entry palette of
// 4-byte entries (blue, green, red, unused) followed by 64 rows of 64 one-byte
// indices, top row first.
//
// The bitmap is a 54-byte header followed by 24-bit pixels (blue, green, red),
// rows stored bottom-up, one block-row of 64 pixel rows at a time.

#include <cstddef>
#include <cstdint>

namespace quorvex {

namespace block_geometry {

inline constexpr int block_side = 64;                         // pixels
inline constexpr int palette_entries = 256;
inline constexpr int palette_entry_bytes = 4;                 // blue, green, red, unused
inline constexpr int palette_bytes = 1024;
inline constexpr int index_bytes = 4096;                      // one byte per pixel
inline constexpr int record_bytes = 5120;                     // palette, then indices
inline constexpr int pixel_bytes = 3;                         // blue, green, red
inline constexpr int block_row_span_bytes = 192;              // one block's share of a pixel row
inline constexpr int block_strip_bytes = 12288;               // one block's share of a block-row
inline constexpr int bitmap_header_bytes = 54;

static_assert(palette_bytes == palette_entries * palette_entry_bytes);
static_assert(index_bytes == block_side * block_side);
static_assert(record_bytes == palette_bytes + index_bytes);
static_assert(block_row_span_bytes == block_side * pixel_bytes);
static_assert(block_strip_bytes == block_row_span_bytes * block_side);
// Rows need no padding: the format wants row lengths that are multiples of four.
static_assert(block_row_span_bytes % 4 == 0);

}  // namespace block_geometry

}  // namespace quorvex
