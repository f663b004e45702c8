#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "conversion/block_geometry.h"
#include "streams/byte_sink.h"
#include "streams/byte_source.h"

namespace quorvex {

/// What one block hands on to the next where the input runs short: the palette bytes
/// last read and the last index read. Both start as zeros, so such blocks are black.
struct block_carry {
    std::array<unsigned char, block_geometry::palette_bytes> palette{};
    unsigned char last_index = 0;
};

/// Fills one block into the strip at `column`, from `record`: the bytes of its tile record
/// that the input held, all 5120 or fewer. Palette bytes the record lacks keep the carried
/// ones and missing indices repeat the last index read; `carry` is updated for the next block.
/// `strip_row_bytes` is the length of one pixel row of the strip.
void decode_block(std::span<const unsigned char> record, block_carry& carry, unsigned char* strip,
                  std::size_t strip_row_bytes, std::int32_t column);

/// Writes the bitmap header and then every block-row, bottom first, from the tile records
/// of `in` (read with absolute seeks) to `out` (written strictly in order). False when the block counts cannot make a bitmap (negative width,
/// sizes beyond the header's fields), memory runs out, or a seek, read or write fails; an
/// input that simply ends early is not a failure.
[[nodiscard]] bool convert_blocks(byte_source& in, byte_sink& out, std::int32_t width_blocks,
                                  std::int32_t height_blocks);

}  // namespace quorvex
