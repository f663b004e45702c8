#pragma once

// A tile record reduced to what the search for its layout needs: the colours along its four
// edges, looked up through its own palette. Neighbouring blocks of a picture continue into
// each other across these edges; nothing inside a block tells where it stands.

#include <array>
#include <cstdint>
#include <span>

#include "conversion/block_geometry.h"

namespace quorvex {

/// The edges in the order record_edges keeps them.
enum edge : int { top, bottom, left, right };

inline constexpr int edge_samples = block_geometry::block_side / 2;  // each the mean of two pixels
inline constexpr int edge_bytes = edge_samples * 3;                   // blue, green, red
inline constexpr int coarse_samples = 16;                             // grey, each the mean of four pixels

/// 452 bytes per record, whatever the picture: the finder keeps one per record.
struct record_edges {
    std::array<std::array<unsigned char, edge_bytes>, 4> colour;
    std::array<std::array<unsigned char, coarse_samples>, 4> grey;  // for the first, cheap ranking
    unsigned char flat = 0;  // bit (1 << edge) set when all 64 pixels of that edge are one colour
};

/// The edges of one whole record (palette, then indices) as record_edges keeps them.
[[nodiscard]] record_edges reduce_record(std::span<const unsigned char, block_geometry::record_bytes> record);

/// How far edge `a` of one record is from edge `b` of another: the sum of absolute differences
/// of their colours, or of their grey forms when `coarse`.
[[nodiscard]] int edge_distance(const record_edges& one, edge a, const record_edges& other, edge b, bool coarse);

/// True when either edge is one flat colour: such a pair says nothing about where blocks stand.
[[nodiscard]] inline bool either_flat(const record_edges& one, edge a, const record_edges& other, edge b) {
    return ((one.flat >> a) & 1) != 0 || ((other.flat >> b) & 1) != 0;
}

}  // namespace quorvex
