#pragma once

// PNG pictures, decoded by libspng one block-row at a time as their bytes arrive.
//
// A PNG is an 8-byte signature and then chunks (a 4-byte length, a 4-byte name, the content, a
// CRC): IHDR first (width, height, bit depth, colour type, interlace), PLTE for a palette, the
// compressed rows in IDAT chunks, IEND last. Rows are stored top first, so a block-row can be
// packed as soon as its 64 rows are decoded. An interlaced picture's rows come in seven passes
// over the whole picture, which is then held decoded whole.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "packing/block_row.h"

namespace quorvex {

/// A PNG being decoded: libspng's context and the stream it reads.
struct png_decoding;

/// Frees libspng's context and all a decoding holds.
struct png_decoding_free {
    void operator()(png_decoding* png) const;
};
using png_decoder = std::unique_ptr<png_decoding, png_decoding_free>;

/// What a PNG's header chunk says of its size.
struct png_header {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    bool interlaced = false;
};

/// Starts decoding the PNG in `in`, of which `head` (the signature at least) has already been
/// read, and reads its header chunk into `header`. Empty, or why the PNG is refused. Reads from
/// `in` only onwards, so a pipe will do.
[[nodiscard]] std::string start_png(std::FILE* in, std::span<const unsigned char> head, png_decoder& into,
                                    png_header& header);

/// Reads the chunks before the pixels (the palette among them), once the size is accepted.
/// Empty, or why the PNG is refused.
[[nodiscard]] std::string begin_png_pixels(png_decoding& png);

/// Block-row `index` of the PNG, decoded into `buffer` as red, green, blue, colours as stored:
/// grey as grey, palette entries as the palette has them, 16-bit samples by their high byte,
/// alpha dropped. Block-rows are read in order from 0; after the last one the chunks up to and
/// with IEND are checked too. Nothing on failure: `refusal` says why, or for a failed read
/// errno.
[[nodiscard]] std::optional<block_row> read_png_block_row(png_decoding& png, std::size_t index,
                                                          std::vector<unsigned char>& buffer, std::string& refusal);

}  // namespace quorvex
