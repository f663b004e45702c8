#pragma once

#include <cstddef>

namespace quorvex {

/// 64 pixel rows: `first` is the top-left pixel, rows lie `row_step` bytes apart, 3 bytes per
/// pixel, red first when `rgb` and blue first otherwise.
struct block_row {
    const unsigned char* first;
    std::ptrdiff_t row_step;
    bool rgb;
};

}  // namespace quorvex
