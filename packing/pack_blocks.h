#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>

#include "packing/read_picture.h"

/// Writes the tile records of `pic`, whose sides are multiples of 64, to `out`: block-rows
/// from the top, left to right. A block of at most 256 colours is stored exactly, its palette
/// in order of first appearance (rows top first, left to right), unused entries zero; a block
/// of more colours is reduced to 256. Returns how many blocks were reduced, or nothing when a
/// read or write fails. Never opens or closes a file.
[[nodiscard]] std::optional<std::int64_t> pack_blocks(const picture& pic, std::FILE* out);
