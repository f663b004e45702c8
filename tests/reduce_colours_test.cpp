#include "packing/reduce_colours.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace quorvex {

namespace {

int distance(const colour& a, const colour& b) {
    return (a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]);
}

// Channel sums and pixel count of a group of pixels, and the group's rounded mean colour.
using group_sums = std::array<int, 4>;

void add(group_sums& s, const colour& c) { s = {s[0] + c[0], s[1] + c[1], s[2] + c[2], s[3] + 1}; }

// The integer colour of least squared error over a group: per channel, of the two integers
// around the mean, the one for which count * v * v - 2 * v * sum (the error less a constant)
// is least, the higher on a tie.
colour best_colour(const group_sums& s) {
    colour best;
    for (std::size_t c = 0; c < 3; ++c) {
        const int below = s[c] / s[3], above = std::min(below + 1, 255);
        const auto error = [&](int v) { return s[3] * v * v - 2 * v * s[c]; };
        best[c] = static_cast<unsigned char>(error(above) <= error(below) ? above : below);
    }
    return best;
}

int total_error(const std::vector<colour>& pixels, const reduced_colours& reduced) {
    int error = 0;
    for (std::size_t i = 0; i < pixels.size(); ++i) error += distance(pixels[i], reduced.palette.at(reduced.indices[i]));
    return error;
}

}  // namespace

// Equal sums: every colour has the same red + green + blue, which no brightness order can tell
// apart. Those rows and the row of 100 colours in 16 have colours equally near two entries.
TEST(ReduceColours, IsExactUpToTheLimitAndMapsToTheNearestBeyondIt) {
    const struct {
        std::size_t distinct, pixels, max_colours;
        bool equal_sums;
    } cases[] = {{1, 10, 1, false},       {256, 4096, 256, false}, {257, 4096, 256, false}, {4096, 4096, 16, false},
                 {300, 300, 1, false},    {50, 100, 2, false},     {100, 4096, 16, false},  {4096, 4096, 256, true},
                 {300, 4096, 64, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.distinct);
        SCOPED_TRACE(c.max_colours);
        std::vector<colour> pixels;  // cycling through `distinct` colours in a scattered order
        for (std::size_t i = 0; i < c.pixels; ++i) {
            const std::size_t j = i * 7919 % c.distinct;
            if (c.equal_sums) {
                const std::size_t b = 64 + j % 64, g = 64 + j / 64;
                pixels.push_back({static_cast<unsigned char>(b), static_cast<unsigned char>(g),
                                  static_cast<unsigned char>(382 - b - g)});
            } else {
                pixels.push_back({static_cast<unsigned char>(j), static_cast<unsigned char>(j / 256 * 17),
                                  static_cast<unsigned char>(j * 37)});
            }
        }
        const auto reduced = reduce_colours(pixels, c.max_colours);
        EXPECT_GE(c.max_colours, reduced.palette.size());
        ASSERT_EQ(pixels.size(), reduced.indices.size());
        std::vector<group_sums> sums(reduced.palette.size());
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            ASSERT_GT(reduced.palette.size(), reduced.indices[i]);
            const int error = distance(pixels[i], reduced.palette[reduced.indices[i]]);
            // The nearest entry, and the first of those as near.
            for (std::size_t e = 0; e < reduced.palette.size(); ++e) {
                const int other = distance(pixels[i], reduced.palette[e]);
                ASSERT_TRUE(error < other || (error == other && reduced.indices[i] <= e)) << "pixel " << i << ", entry " << e;
            }
            add(sums[reduced.indices[i]], pixels[i]);
        }
        EXPECT_EQ(c.distinct <= c.max_colours, total_error(pixels, reduced) == 0);
        // Refined to the end: every entry in use is the best colour for its pixels.
        for (std::size_t e = 0; e < sums.size(); ++e) {
            EXPECT_TRUE(sums[e][3] == 0 || best_colour(sums[e]) == reduced.palette[e]) << "entry " << e;
        }
        // The palette depends on the colours and their counts alone, not on the pixels' order.
        std::reverse(pixels.begin(), pixels.end());
        const auto reversed = reduce_colours(pixels, c.max_colours);
        EXPECT_EQ(reduced.palette, reversed.palette);
        EXPECT_TRUE(std::equal(reduced.indices.rbegin(), reduced.indices.rend(), reversed.indices.begin()));
    }
}

// Against the least error over every grouping of a few colours, each group at its best colour.
// Refinement ends in a local optimum: on these rows but the last two (and on about three in four
// random sets this small) the best one; `slack` is how far over the best a row may end, in percent.
TEST(ReduceColours, ReachesTheBestGroupingOfAFewColours) {
    const struct {
        std::uint32_t seed;
        std::size_t pixels, max_colours;
        int slack;  // in percent
    } cases[] = {{1, 6, 2, 0},  {8, 8, 3, 0},  {15, 9, 2, 0}, {37, 8, 4, 0},
                 {60, 9, 3, 0}, {86, 8, 4, 0}, {5, 9, 3, 10}, {64, 9, 4, 41}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seed);
        std::vector<colour> pixels;
        for (std::uint32_t i = 0, state = c.seed; i < c.pixels; ++i) {
            state = state * 1664525U + 1013904223U;
            pixels.push_back({static_cast<unsigned char>(state >> 24U), static_cast<unsigned char>(state >> 16U),
                              static_cast<unsigned char>(state >> 8U)});
        }
        int best = 1 << 30;  // every grouping in turn, counting in base max_colours
        std::vector<std::size_t> group(pixels.size(), 0);
        for (std::size_t i = 0; i < group.size();) {
            std::vector<group_sums> sums(c.max_colours);
            for (std::size_t p = 0; p < pixels.size(); ++p) add(sums[group[p]], pixels[p]);
            int error = 0;
            for (std::size_t p = 0; p < pixels.size(); ++p) error += distance(pixels[p], best_colour(sums[group[p]]));
            best = std::min(best, error);
            for (i = 0; i < group.size() && ++group[i] == c.max_colours; ++i) group[i] = 0;
        }
        const int error = total_error(pixels, reduce_colours(pixels, c.max_colours));
        EXPECT_LE(best, error);
        EXPECT_LE(error * 100, best * (100 + c.slack));
    }
}

}  // namespace quorvex
