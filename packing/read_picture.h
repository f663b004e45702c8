#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "packing/block_row.h"
#include "packing/read_bmp.h"

namespace quorvex {

/// Frees pixels the PNG decoder allocated.
struct decoded_pixels_free {
    void operator()(unsigned char* pixels) const;
};

/// A picture ready to be packed: a PNG decoded whole, or a BMP left in its file (or, from an
/// input that cannot seek, in memory) and read one block-row at a time.
struct picture {
    std::int32_t width = 0;   // pixels
    std::int32_t height = 0;  // pixels
    std::string refusal;      // why it is refused: the text that follows the picture's name
    std::unique_ptr<unsigned char, decoded_pixels_free> pixels;  // a PNG: red, green, blue; rows top first
    picture_source source;    // a BMP's bytes
    bmp_layout bmp;
};

/// `refused`: the picture is damaged or not what its headers claim; picture::refusal says how.
enum class picture_problem { none, unreadable, size_not_in_blocks, refused };

/// Reads a BMP or PNG from the start of `in`, told apart by content, and checks it: its
/// declared size against picture_limits (from a pipe, before more than its headers is read),
/// every BMP field against the file's real size, and a BMP's run-length data once through,
/// before any pixel is read. A PNG is then decoded whole: grey becomes grey RGB, 16-bit samples keep their
/// high byte, alpha is dropped. `unreadable`: `in` holds neither. On size_not_in_blocks `into`
/// holds the size found. `in` stays the caller's and must stay open while `into` is used.
[[nodiscard]] picture_problem read_picture(std::FILE* in, picture& into);

/// The same for a picture's bytes already in memory, which `into` keeps.
[[nodiscard]] picture_problem read_picture(std::vector<unsigned char> bytes, picture& into);

/// Block-row `index` (0 at the top) of `pic`, read into `buffer` where it has to be read.
/// Nothing when a seek or read fails.
[[nodiscard]] std::optional<block_row> read_block_row(const picture& pic, std::size_t index,
                                                      std::vector<unsigned char>& buffer);

}  // namespace quorvex
