#include "layout/record_edges.h"

#include <cstdlib>

namespace quorvex {

namespace {

constexpr int side = block_geometry::block_side;

// Out of line, so that it is compiled as the one loop over bytes that compilers turn into
// sums of absolute differences of whole vectors; inlined into the callers' loops it was not.
template <std::size_t Bytes>
int distance(const edges_of<Bytes>& one, edge a, const edges_of<Bytes>& other, edge b) {
    const auto& x = one.edge[static_cast<std::size_t>(a)];
    const auto& y = other.edge[static_cast<std::size_t>(b)];
    int sum = 0;
    for (std::size_t n = 0; n < Bytes; ++n) sum += std::abs(x[n] - y[n]);
    return sum;
}

}  // namespace

int edge_distance(const edge_colours& one, edge a, const edge_colours& other, edge b) {
    return distance(one, a, other, b);
}

int edge_distance(const edge_greys& one, edge a, const edge_greys& other, edge b) { return distance(one, a, other, b); }

record_edges reduce_record(std::span<const unsigned char, block_geometry::record_bytes> record) {
    record_edges edges{};
    const unsigned char* palette = record.data();
    const unsigned char* indices = record.data() + block_geometry::palette_bytes;
    // Where each edge starts among the indices, and the step along it.
    constexpr std::array<std::array<int, 2>, 4> walk{{{0, 1}, {(side - 1) * side, 1}, {0, side}, {side - 1, side}}};
    for (const edge e : {top, bottom, left, right}) {
        const auto [start, step] = walk[static_cast<std::size_t>(e)];
        std::array<const unsigned char*, side> colour;
        bool flat = true;
        for (int n = 0; n < side; ++n) {
            const int index = indices[start + n * step];
            colour[static_cast<std::size_t>(n)] = palette + index * block_geometry::palette_entry_bytes;
            const unsigned char* first = colour[0];
            const unsigned char* c = colour[static_cast<std::size_t>(n)];
            flat &= c[0] == first[0] && c[1] == first[1] && c[2] == first[2];
        }
        auto& means = edges.colour.edge[static_cast<std::size_t>(e)];
        auto& greys = edges.grey.edge[static_cast<std::size_t>(e)];
        for (std::size_t n = 0; n < coarse_samples; ++n) {
            int grey = 0;
            for (std::size_t pair = 2 * n; pair < 2 * n + 2; ++pair) {
                const unsigned char* a = colour[2 * pair];
                const unsigned char* b = colour[2 * pair + 1];
                for (std::size_t channel = 0; channel < 3; ++channel) {
                    const int two = a[channel] + b[channel];
                    means[pair * 3 + channel] = static_cast<unsigned char>((two + 1) / 2);
                    // Green counts twice, as the eye weighs it.
                    grey += channel == 1 ? 2 * two : two;
                }
            }
            // Four pixels of weight four each: the grey mean is the sum over sixteen.
            greys[n] = static_cast<unsigned char>((grey + 8) / 16);
        }
        if (flat) edges.colour.flat = edges.grey.flat = static_cast<unsigned char>(edges.colour.flat | 1 << e);
    }
    return edges;
}

}  // namespace quorvex
