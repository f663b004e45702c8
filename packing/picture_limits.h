#pragma once

// The largest picture quorvex-pack takes, judged from the size its header declares before any
// pixel is decoded and before the output is created, so that a header of a few bytes cannot
// make a run take the machine's memory, disk or hours.

#include <cstdint>
#include <string>

#include "conversion/block_geometry.h"
#include "packing/refusals.h"

namespace quorvex::picture_limits {

/// The widest picture: 32768 blocks (2097152 pixels). A block-row is held in memory, three
/// on more than one thread (written, packed, read): 384 MiB each at this width, where the
/// widest areas people make are a few hundred blocks.
inline constexpr std::int64_t widest = std::int64_t{32768} * block_geometry::block_side;
/// The most pixels in all: 262144 blocks (2^30 pixels), 1.25 GiB of tile data, whose 24-bit
/// bitmap (3 GiB) still has a size a BMP header can hold; the largest areas people make are
/// some 30000 blocks.
inline constexpr std::int64_t most_pixels = std::int64_t{262144} * block_geometry::block_side * block_geometry::block_side;
static_assert(widest == std::int64_t{1} << 21 && most_pixels == std::int64_t{1} << 30);

/// Empty when a picture of `width` x `height` pixels (as declared, neither negative) is within
/// the limits; otherwise the refusal that follows the picture's name, with its size and the limits.
[[nodiscard]] inline std::string size_refusal(std::int64_t width, std::int64_t height) {
    // Each side is below 2^32, so the product cannot overflow.
    if (width <= widest && width * height <= most_pixels) return {};
    return refusals::text(refusals::too_large, width, refusals::by, height, refusals::past_limit, widest,
                          refusals::pixels_wide_and, most_pixels, refusals::pixels_in_all);
}

/// The most bytes a picture file of `width` x `height` pixels within the limits takes: 9 a
/// pixel (16-bit RGBA takes 8, run-length data at most 2, and their framing less than 1) and
/// 1 MiB for headers, colour tables and the chunks a PNG may carry besides its pixels.
[[nodiscard]] inline std::uint64_t largest_file_bytes(std::int64_t width, std::int64_t height) {
    return 9 * static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) + (std::uint64_t{1} << 20);
}

}  // namespace quorvex::picture_limits
