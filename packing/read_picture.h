#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

/// Frees pixels the picture decoder allocated.
struct decoded_pixels_free {
    void operator()(unsigned char* pixels) const;
};

/// A decoded picture: red, green, blue per pixel, rows top first, no padding.
struct picture {
    std::int32_t width = 0;   // pixels
    std::int32_t height = 0;  // pixels
    std::unique_ptr<unsigned char, decoded_pixels_free> pixels;
};

enum class picture_problem { none, unreadable, size_not_in_blocks };

/// Reads a BMP or PNG from the start of `in`, told apart by content. Grey becomes grey RGB,
/// 16-bit samples keep their high byte, alpha is dropped. The size is checked before any
/// pixel is decoded: on size_not_in_blocks `into` holds the size found but no pixels.
[[nodiscard]] picture_problem read_picture(std::FILE* in, picture& into);
