#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

namespace quorvex {

/// Frees pixels the picture decoder allocated.
struct decoded_pixels_free {
    void operator()(unsigned char* pixels) const;
};

/// A picture ready to be packed: decoded whole, or, for an uncompressed 24-bit BMP, left in
/// its file and read one block-row at a time.
struct picture {
    std::int32_t width = 0;   // pixels
    std::int32_t height = 0;  // pixels
    std::unique_ptr<unsigned char, decoded_pixels_free> pixels;  // red, green, blue; rows top first
    std::FILE* file = nullptr;  // not owned; set instead of `pixels` for a BMP read as it is packed
    long rows_at = 0;           // where the file's pixel rows start
    bool bottom_up = false;
};

enum class picture_problem { none, unreadable, size_not_in_blocks };

/// Reads a BMP or PNG from the start of `in`, told apart by content. Grey becomes grey RGB,
/// 16-bit samples keep their high byte, alpha is dropped. The size is checked before any
/// pixel is decoded: on size_not_in_blocks `into` holds the size found but no pixels.
/// `in` must stay open while `into` is used.
[[nodiscard]] picture_problem read_picture(std::FILE* in, picture& into);

/// 64 pixel rows: `first` is the top-left pixel, rows lie `row_step` bytes apart, 3 bytes per
/// pixel, red first when `rgb` and blue first otherwise.
struct block_row {
    const unsigned char* first;
    std::ptrdiff_t row_step;
    bool rgb;
};

/// Block-row `index` (0 at the top) of `pic`, read into `buffer` where it has to be read.
/// Nothing when a seek or read fails.
[[nodiscard]] std::optional<block_row> read_block_row(const picture& pic, std::size_t index,
                                                      std::vector<unsigned char>& buffer);

}  // namespace quorvex
