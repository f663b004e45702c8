#pragma once

// The first bytes of the pictures users keep beside their tile data. Tile data has no
// signature, so nothing proves a file is tile data; but a BMP or PNG handed over by a slip of
// the tab key must never be drawn as tiles, nor replaced by tiles, so these are refused.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace quorvex {

/// How many leading bytes starts_like_picture needs to tell: a BMP's file header and the size
/// field of its information header.
inline constexpr std::size_t picture_signature_bytes = 18;

/// True when `first` (a file's first bytes, fewer only where the file is shorter) starts
/// like a PNG (its 8-byte signature) or a BMP: "BM", both reserved fields 0 and a known
/// information-header size at byte 14. The BMP file-size field is not trusted: writers leave
/// it 0.
[[nodiscard]] constexpr bool starts_like_picture(std::span<const unsigned char> first) {
    constexpr std::array<unsigned char, 8> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (first.size() >= png.size() && std::equal(png.begin(), png.end(), first.begin())) return true;
    if (first.size() < picture_signature_bytes || first[0] != 'B' || first[1] != 'M') return false;
    if (first[6] != 0 || first[7] != 0 || first[8] != 0 || first[9] != 0) return false;
    const std::uint32_t header = static_cast<std::uint32_t>(first[14]) | static_cast<std::uint32_t>(first[15]) << 8 |
                                 static_cast<std::uint32_t>(first[16]) << 16 |
                                 static_cast<std::uint32_t>(first[17]) << 24;
    constexpr std::array<std::uint32_t, 6> known{12, 40, 52, 56, 108, 124};
    return std::find(known.begin(), known.end(), header) != known.end();
}

}  // namespace quorvex
