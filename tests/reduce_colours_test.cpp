#include "packing/reduce_colours.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace quorvex {

namespace {

colour bytes(std::size_t a, std::size_t b, std::size_t c) {
    return {static_cast<unsigned char>(a), static_cast<unsigned char>(b), static_cast<unsigned char>(c)};
}

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

}  // namespace

// Scattered rows cycle through `distinct` colours; equal sums give every colour the same red +
// green + blue, which no brightness order can tell apart (those rows and the row of 100 colours
// in 16 have colours equally near two entries); in shades with noise, 4096 colours from these
// seeds, a colour lies exactly half as far from its first guess as that entry from the next, or
// an entry moves near a colour late; in greens, an entry as green as it is red moves in green
// alone; random rows draw a few colours from a seed and are held
// against the least error over every grouping of them, each group at its best colour.
// Refinement ends in a local optimum: on the random rows but the last two (and on about three in
// four random sets this small) the best one; `slack` is how far over the best a row may end.
TEST(ReduceColours, MapsToTheNearestEntryAndReachesTheBestGroupingOfAFewColours) {
    enum kind { scattered, equal_sums, shades, greens, random };
    const struct {
        kind is;
        std::size_t distinct_or_seed, pixels, max_colours;
        int slack;  // in percent
    } cases[] = {{scattered, 1, 10, 1, 0},     {scattered, 256, 4096, 256, 0}, {scattered, 257, 4096, 256, 0},
                 {scattered, 4096, 4096, 16, 0}, {scattered, 300, 300, 1, 0},  {scattered, 50, 100, 2, 0},
                 {scattered, 100, 4096, 16, 0}, {scattered, 200, 4096, 256, 0}, {equal_sums, 4096, 4096, 256, 0},
                 {equal_sums, 300, 4096, 64, 0},  {shades, 641443, 4096, 256, 0}, {shades, 2700383, 4096, 256, 0}, {greens, 206387, 4096, 3, 0},
                 {random, 1, 6, 2, 0},  {random, 8, 8, 3, 0},  {random, 15, 9, 2, 0},
                 {random, 37, 8, 4, 0}, {random, 60, 9, 3, 0}, {random, 86, 8, 4, 0}, {random, 5, 9, 3, 10}, {random, 64, 9, 4, 41}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.is << ": " << c.distinct_or_seed << ", " << c.max_colours << " colours");
        std::vector<colour> pixels;
        for (std::uint32_t i = 0, state = static_cast<std::uint32_t>(c.distinct_or_seed); i < c.pixels; ++i) {
            state = state * 1664525U + 1013904223U;
            const std::size_t j = i * 7919 % c.distinct_or_seed, b = 64 + j % 64, g = 64 + j / 64;
            const std::size_t x = i % 64, y = i / 64, noise = state >> 28U;
            pixels.push_back(c.is == random       ? bytes(state >> 24U, state >> 16U, state >> 8U)
                             : c.is == shades     ? bytes(4 * x + noise / 4, 4 * y + noise % 4, x + y + (state >> 24U) % 16)
                             : c.is == greens     ? bytes(90, 40 + (state >> 24U) % 100, 60)
                             : c.is == equal_sums ? bytes(b, g, 382 - b - g)
                                                  : bytes(j, j / 256 * 17, j * 37));
        }
        const auto reduced = reduce_colours(pixels, c.max_colours);
        EXPECT_GE(c.max_colours, reduced.palette.size());
        ASSERT_EQ(pixels.size(), reduced.indices.size());
        std::vector<group_sums> sums(reduced.palette.size());
        int error = 0;  // over all pixels
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            ASSERT_GT(reduced.palette.size(), reduced.indices[i]);
            const int own = distance(pixels[i], reduced.palette[reduced.indices[i]]);
            error += own;
            // The nearest entry, and the first of those as near.
            for (std::size_t e = 0; e < reduced.palette.size(); ++e) {
                const int other = distance(pixels[i], reduced.palette[e]);
                ASSERT_TRUE(own < other || (own == other && reduced.indices[i] <= e)) << "pixel " << i << ", entry " << e;
            }
            add(sums[reduced.indices[i]], pixels[i]);
        }
        EXPECT_TRUE(c.is >= shades || (c.distinct_or_seed <= c.max_colours) == (error == 0));
        // A palette of every colour lists them in ascending order, whatever order they are met in.
        EXPECT_TRUE(c.is >= shades || c.distinct_or_seed > c.max_colours || std::is_sorted(reduced.palette.begin(), reduced.palette.end()));
        // Refined to the end: every entry in use is the best colour for its pixels.
        for (std::size_t e = 0; e < sums.size(); ++e) EXPECT_TRUE(sums[e][3] == 0 || best_colour(sums[e]) == reduced.palette[e]);
        // The palette depends on the colours and their counts alone, not on the pixels' order.
        std::reverse(pixels.begin(), pixels.end());
        const auto reversed = reduce_colours(pixels, c.max_colours);
        EXPECT_EQ(reduced.palette, reversed.palette);
        EXPECT_TRUE(std::equal(reduced.indices.rbegin(), reduced.indices.rend(), reversed.indices.begin()));
        if (c.is != random) continue;
        int best = 1 << 30;  // every grouping in turn, counting in base max_colours
        std::vector<std::size_t> group(pixels.size(), 0);
        for (std::size_t i = 0; i < group.size();) {
            std::vector<group_sums> group_totals(c.max_colours);
            for (std::size_t p = 0; p < pixels.size(); ++p) add(group_totals[group[p]], pixels[p]);
            int grouped = 0;
            for (std::size_t p = 0; p < pixels.size(); ++p) grouped += distance(pixels[p], best_colour(group_totals[group[p]]));
            best = std::min(best, grouped);
            for (i = 0; i < group.size() && ++group[i] == c.max_colours; ++i) group[i] = 0;
        }
        EXPECT_LE(best, error);
        EXPECT_LE(error * 100, best * (100 + c.slack));
    }
}

// A reduced block is part of a tile file's bytes: the same on every machine and through every
// change meant only to make it faster. Smooth shades with noise, which settle in 9 rounds, and
// noise alone, which stops at the limit of rounds, also over 16384 pixels, whose first
// cuts are planned in integers on every machine, pinned by a digest (FNV-1a) of the palettes
// and the indices.
TEST(ReduceColours, ABlockReducesToTheSameBytesEverywhere) {
    std::uint32_t digest = 2166136261U;
    for (const std::size_t noise_pixels : {std::size_t{0}, std::size_t{4096}, std::size_t{16384}}) {
        const bool shades = noise_pixels == 0;
        std::vector<colour> pixels;
        std::uint32_t state = shades ? 1 : 43;
        for (std::size_t i = 0; i < (shades ? 4096 : noise_pixels); ++i) {
            state = state * 1664525U + 1013904223U;
            const std::size_t x = i % 64, y = i / 64, noise = state >> 28U;
            pixels.push_back(shades ? bytes(2 * x + noise, 3 * y + noise, x + y + (state >> 24U) % 8) : bytes(state >> 24U, state >> 16U, state >> 8U));
        }
        const auto reduced = reduce_colours(pixels, 256);
        for (const auto& c : reduced.palette) {
            for (const auto b : c) digest = (digest ^ b) * 16777619U;
        }
        for (const auto i : reduced.indices) digest = (digest ^ i) * 16777619U;
    }
    EXPECT_EQ(0xC4544073U, digest);
}

}  // namespace quorvex
