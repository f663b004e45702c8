#pragma once

// The core as the web page reaches it: bytes in, bytes and the programs' outcome line out.
// No file is opened: the page holds the bytes, and the line is what quorvex or quorvex-pack
// would print after its banner for the same files.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "layout/layout_finder.h"

namespace quorvex {

/// What one piece of work gave: the output's bytes (none after a refusal) and the one line
/// the program prints for it.
struct face_result {
    bool written = false;
    std::vector<unsigned char> bytes;
    std::string line;
};

/// The bitmap quorvex writes for the tile data `tiles`, named `name` in the outcome line, at
/// `width` x `height` blocks; refused as quorvex refuses it (a picture given as tile data,
/// a count below 1, a bitmap too large for its header, memory that cannot be had).
[[nodiscard]] face_result convert_in_memory(std::string_view name, std::span<const unsigned char> tiles,
                                            std::int32_t width, std::int32_t height);

/// The same bitmap in pieces, for a page that shows it as it is made without holding it whole:
/// `take` is given the header, then the pixel rows of each block-row, the bottom one first;
/// joined, the pieces are convert_in_memory's bytes. Nothing is given after a refusal, and the
/// result holds no bytes.
[[nodiscard]] face_result convert_in_pieces(std::string_view name, std::span<const unsigned char> tiles,
                                            std::int32_t width, std::int32_t height,
                                            const std::function<void(std::span<const unsigned char>)>& take);

/// An original tile file for packing to follow, as quorvex-pack --like reads it.
struct original_tiles {
    std::string_view name;
    std::span<const unsigned char> bytes;
};

/// The tile data quorvex-pack writes for the BMP or PNG `picture`, named `name` in the outcome
/// line, following `original` when given; one thread. `progress` is told the block-rows done
/// and all of them after each block-row. Refused as quorvex-pack refuses it.
[[nodiscard]] face_result pack_in_memory(std::string_view name, std::vector<unsigned char> picture,
                                         std::optional<original_tiles> original,
                                         const std::function<void(std::size_t, std::size_t)>& progress);

/// What guessing a layout gave: the finder's result (the best and the runners-up, or why
/// there is none) and the lines quorvex-layout prints for it, the command line left out: the
/// layout line then one "Also possible" line for each runner-up, or the refusal line alone.
struct face_layout {
    layout_result found;
    std::vector<std::string> lines;
};

/// The layout of the tile data `tiles`, named `name` in the lines, as quorvex-layout finds it.
[[nodiscard]] face_layout guess_layout_in_memory(std::string_view name, std::span<const unsigned char> tiles);

}  // namespace quorvex
