#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <vector>

namespace quorvex {

/// One colour as a palette entry stores it: blue, green, red.
using colour = std::array<unsigned char, 3>;

/// A palette of at most the asked number of colours and, for every pixel, its index into it.
struct reduced_colours {
    std::vector<colour> palette;
    std::vector<unsigned char> indices;  // one per pixel, in the order the pixels were given
};

/// Chooses at most `max_colours` colours (1 to 256) for `pixels` (at most 2^22 of them) and maps
/// every pixel to its nearest one, aiming at the least total squared error; no dithering. The
/// same pixels give the same result on every run and every machine.
[[nodiscard]] reduced_colours reduce_colours(std::span<const colour> pixels, std::size_t max_colours);

}  // namespace quorvex
