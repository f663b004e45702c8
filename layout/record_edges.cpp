#include "layout/record_edges.h"

#include <cstdlib>

namespace quorvex {

namespace {

constexpr int side = block_geometry::block_side;

// The palette entry (blue, green, red) of pixel `n` of an edge, counted along it.
const unsigned char* pixel(std::span<const unsigned char, block_geometry::record_bytes> record, edge e, int n) {
    const int row = e == top ? 0 : e == bottom ? side - 1 : n;
    const int column = e == left ? 0 : e == right ? side - 1 : n;
    const unsigned char index = record[static_cast<std::size_t>(block_geometry::palette_bytes + row * side + column)];
    return record.data() + static_cast<std::ptrdiff_t>(index) * block_geometry::palette_entry_bytes;
}

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
    for (const edge e : {top, bottom, left, right}) {
        std::array<int, coarse_samples> grey{};
        bool flat = true;
        const unsigned char* first = pixel(record, e, 0);
        for (int n = 0; n < side; n += 2) {
            const unsigned char* a = pixel(record, e, n);
            const unsigned char* b = pixel(record, e, n + 1);
            int sum = 0;
            for (int channel = 0; channel < 3; ++channel) {
                flat = flat && a[channel] == first[channel] && b[channel] == first[channel];
                const int two = a[channel] + b[channel];
                edges.colour.edge[static_cast<std::size_t>(e)][static_cast<std::size_t>(n / 2 * 3 + channel)] =
                    static_cast<unsigned char>((two + 1) / 2);
                // Green counts twice, as the eye weighs it.
                sum += channel == 1 ? 2 * two : two;
            }
            grey[static_cast<std::size_t>(n / 4)] += sum;
        }
        for (std::size_t n = 0; n < coarse_samples; ++n) {
            // Four pixels of weight four each: the grey mean is the sum over sixteen.
            edges.grey.edge[static_cast<std::size_t>(e)][n] = static_cast<unsigned char>((grey[n] + 8) / 16);
        }
        if (flat) edges.colour.flat = edges.grey.flat = static_cast<unsigned char>(edges.colour.flat | 1 << e);
    }
    return edges;
}

}  // namespace quorvex
