#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>

#include "conversion/block_geometry.h"
#include "packing/read_picture.h"

/// Fills one tile record (`record`, 5120 bytes) from the block of `rgb` whose top-left pixel
/// is at `first`, `row_bytes` apart per pixel row. A block of at most 256 colours is stored
/// exactly, its palette in order of first appearance (rows top first, left to right), unused
/// entries zero; more colours are reduced to 256. True when the block was reduced.
bool pack_block(const unsigned char* first, std::size_t row_bytes, std::span<unsigned char> record);

/// Writes the tile records of `pic`, whose sides are multiples of 64, to `out`: block-rows
/// from the top, left to right. Returns how many blocks were reduced, or nothing when a
/// write fails. Never opens or closes `out`.
[[nodiscard]] std::optional<std::int64_t> pack_blocks(const picture& pic, std::FILE* out);
