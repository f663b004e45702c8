#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "conversion/block_geometry.h"
#include "streams/byte_sink.h"
#include "streams/byte_source.h"

namespace quorvex {

/// Fills one block into the strip at `column` from its whole tile record. `strip_row_bytes`
/// is the length of one pixel row of the strip.
void decode_block(std::span<const unsigned char, block_geometry::record_bytes> record, unsigned char* strip,
                  std::size_t strip_row_bytes, std::int32_t column);

/// Writes the bitmap header and then every block-row, bottom first, from the tile records
/// of `in` (read with absolute seeks) to `out` (written strictly in order). False when the
/// block counts cannot make a bitmap (negative width, sizes beyond the header's fields), `in`
/// holds fewer than width x height whole records (nothing is written where its size is known),
/// memory runs out, or a seek, read or write fails. Records past the picture are ignored.
[[nodiscard]] bool convert_blocks(byte_source& in, byte_sink& out, std::int32_t width_blocks,
                                  std::int32_t height_blocks);

}  // namespace quorvex
