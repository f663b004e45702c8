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
inline constexpr std::size_t edge_bytes = edge_samples * 3;                  // blue, green, red
inline constexpr std::size_t coarse_samples = 16;                           // grey, each the mean of four pixels

/// The edges of one record at one resolution, and which of them are one flat colour (bit
/// 1 << edge): such an edge says nothing about where its block stands.
template <std::size_t Bytes>
struct edges_of {
    std::array<std::array<unsigned char, Bytes>, 4> edge;
    unsigned char flat = 0;
};
/// Each edge as 32 colours, the means of two pixels (385 bytes): to score a width.
using edge_colours = edges_of<edge_bytes>;
/// Each edge as 16 greys, the means of four pixels (65 bytes): to rank every width cheaply.
using edge_greys = edges_of<coarse_samples>;

struct record_edges {
    edge_colours colour;
    edge_greys grey;
};

/// The edges of one whole record (palette, then indices), looked up through its palette.
[[nodiscard]] record_edges reduce_record(std::span<const unsigned char, block_geometry::record_bytes> record);

/// How far edge `a` of one record is from edge `b` of another: the sum of absolute differences.
[[nodiscard]] int edge_distance(const edge_colours& one, edge a, const edge_colours& other, edge b);
[[nodiscard]] int edge_distance(const edge_greys& one, edge a, const edge_greys& other, edge b);

/// True when either edge is one flat colour: such a pair says nothing about where blocks stand.
template <std::size_t Bytes>
[[nodiscard]] bool either_flat(const edges_of<Bytes>& one, edge a, const edges_of<Bytes>& other, edge b) {
    return ((one.flat >> a) & 1) != 0 || ((other.flat >> b) & 1) != 0;
}

}  // namespace quorvex
