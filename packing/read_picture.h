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
#include "packing/read_png.h"

namespace quorvex {

/// Closes a file the reader opened itself.
struct spool_close {
    void operator()(std::FILE* file) const;
};

/// A picture ready to be packed, one block-row at a time: a PNG decoded from its stream as the
/// block-rows are read, or a BMP read from its file (from an input that cannot seek, from an
/// unnamed temporary copy, or in memory where the system gives no temporary file).
struct picture {
    std::int32_t width = 0;   // pixels
    std::int32_t height = 0;  // pixels
    std::string refusal;      // why it is refused: the text that follows the picture's name
    png_decoder png;          // a PNG's decoding; null for a BMP
    picture_source source;    // a BMP's bytes
    bmp_layout bmp;
    std::unique_ptr<std::FILE, spool_close> spool;  // a BMP from a pipe, copied
};

/// `refused`: the picture is damaged or not what its headers claim; picture::refusal says how.
enum class picture_problem { none, unreadable, size_not_in_blocks, refused };

/// Reads a BMP or PNG from the start of `in`, told apart by content, and checks it: its
/// declared size against picture_limits (from a pipe, before more than its headers is read),
/// every BMP field against the file's real size, and a BMP's run-length data once through,
/// before any pixel is read; a PNG's header and the chunks before its pixels, and from a file
/// that can seek, that its chunks reach IEND. `unreadable`: `in` holds neither. On
/// size_not_in_blocks `into` holds the size found. `in` stays the caller's and must stay open
/// while `into` is used.
[[nodiscard]] picture_problem read_picture(std::FILE* in, picture& into);

/// The same for a picture's bytes already in memory, which `into` keeps.
[[nodiscard]] picture_problem read_picture(std::vector<unsigned char> bytes, picture& into);

/// Block-row `index` (0 at the top) of `pic`, read into `buffer` where it has to be read. A
/// PNG's block-rows are decoded in order, each once: grey becomes grey RGB, 16-bit samples keep
/// their high byte, alpha is dropped. Nothing when a read fails (errno says why), or when a
/// PNG proves damaged or cut short, which pic.refusal then says.
[[nodiscard]] std::optional<block_row> read_block_row(picture& pic, std::size_t index,
                                                      std::vector<unsigned char>& buffer);

}  // namespace quorvex
