#pragma once

#include <cstddef>

namespace quorvex {

/// Turns one block's 64 x 64 indices (4096 bytes, top row first) into 3-byte pixels through
/// its 256-entry palette (1024 bytes, blue, green, red, unused). Index row y goes to
/// `bottom_row + (63 - y) * row_step`, 192 bytes; the fourth palette byte is never written.
/// Uses the widest vector code this processor runs; the bytes written are always the same.
void paint_block(const unsigned char* palette, const unsigned char* indices,
                 unsigned char* bottom_row, std::size_t row_step);

/// The same with plain integer code on any processor. Exposed so tests can pin both.
void paint_block_portable(const unsigned char* palette, const unsigned char* indices,
                          unsigned char* bottom_row, std::size_t row_step);

}  // namespace quorvex
