#pragma once

#include <cstdint>
#include <optional>

#include "streams/byte_sink.h"

namespace quorvex {

/// The sizes a bitmap of `width_blocks` x `height_blocks` blocks records in its header.
struct bitmap_size {
    std::int32_t width_pixels;
    std::int32_t height_pixels;      // negative or zero when no rows are written
    std::uint32_t pixel_data_bytes;  // 0 when no rows are written
    std::uint32_t file_bytes;
    bool has_rows;                   // both block counts are at least 1
};

/// Works out the header's sizes, all in 64-bit. Empty when the width is negative or a
/// size does not fit its 32-bit header field; such a bitmap is never started.
[[nodiscard]] std::optional<bitmap_size> plan_bitmap(std::int32_t width_blocks,
                                                     std::int32_t height_blocks);

/// Writes the 54-byte header for `size` at the output's position: the file header in one
/// write, the information header in another. False when a write fails.
[[nodiscard]] bool write_bitmap_header(byte_sink& out, const bitmap_size& size);

}  // namespace quorvex
