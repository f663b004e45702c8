#include "packing/reduce_colours.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

// `count` pixels cycling through `distinct` different colours, in a scattered order.
std::vector<colour> made_pixels(std::size_t distinct, std::size_t count) {
    std::vector<colour> pixels;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t j = i * 7919 % distinct;
        pixels.push_back({static_cast<unsigned char>(j % 256), static_cast<unsigned char>(j / 256 * 17),
                          static_cast<unsigned char>(j * 37 % 256)});
    }
    return pixels;
}

int distance(const colour& a, const colour& b) {
    int d = 0;
    for (std::size_t ch = 0; ch < 3; ++ch) {
        d += (a[ch] - b[ch]) * (a[ch] - b[ch]);
    }
    return d;
}

int nearest_distance(const colour& c, const std::vector<colour>& palette) {
    int nearest = 1 << 30;
    for (const auto& entry : palette) {
        nearest = std::min(nearest, distance(c, entry));
    }
    return nearest;
}

}  // namespace

TEST(ReduceColours, IsExactUpToTheLimitAndMapsToTheNearestBeyondIt) {
    const struct {
        std::size_t distinct;
        std::size_t pixels;
        std::size_t max_colours;
    } cases[] = {
        {1, 10, 1}, {256, 4096, 256}, {257, 4096, 256}, {4096, 4096, 16}, {300, 300, 1}, {50, 100, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.distinct);
        const auto pixels = made_pixels(c.distinct, c.pixels);
        const auto reduced = reduce_colours(pixels, c.max_colours);
        EXPECT_GE(c.max_colours, reduced.palette.size());
        ASSERT_EQ(pixels.size(), reduced.indices.size());
        int total_error = 0;
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            ASSERT_GT(reduced.palette.size(), reduced.indices[i]);
            const int error = distance(pixels[i], reduced.palette[reduced.indices[i]]);
            EXPECT_EQ(nearest_distance(pixels[i], reduced.palette), error);
            total_error += error;
        }
        EXPECT_EQ(c.distinct <= c.max_colours, total_error == 0);
        const auto again = reduce_colours(pixels, c.max_colours);
        EXPECT_EQ(reduced.palette, again.palette);
        EXPECT_EQ(reduced.indices, again.indices);
    }
}

// Against the least error over every split of a few colours into k groups, each group at its rounded mean.
TEST(ReduceColours, ReachesTheBestSplitOfAFewColours) {
    const struct {
        std::uint32_t seed;
        std::size_t pixels;
        std::size_t max_colours;
    } cases[] = {{1, 6, 2}, {2, 7, 3}, {3, 8, 2}, {4, 8, 3}, {5, 9, 3}, {6, 8, 4}, {7, 9, 2}, {8, 9, 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seed);
        std::vector<colour> pixels;
        std::uint32_t state = c.seed;
        for (std::size_t i = 0; i < c.pixels; ++i) {
            state = state * 1664525U + 1013904223U;
            pixels.push_back({static_cast<unsigned char>(state >> 24U), static_cast<unsigned char>(state >> 16U),
                              static_cast<unsigned char>(state >> 8U)});
        }
        int best = 1 << 30;
        std::vector<std::size_t> group(pixels.size(), 0);
        for (std::size_t split = 0;; ++split) {
            std::vector<colour> palette;
            for (std::size_t g = 0; g < c.max_colours; ++g) {
                std::array<int, 3> sums{};
                int count = 0;
                for (std::size_t i = 0; i < pixels.size(); ++i) {
                    if (group[i] == g) {
                        for (std::size_t ch = 0; ch < 3; ++ch) sums[ch] += pixels[i][ch];
                        ++count;
                    }
                }
                if (count > 0) {
                    palette.push_back({static_cast<unsigned char>((2 * sums[0] + count) / (2 * count)),
                                       static_cast<unsigned char>((2 * sums[1] + count) / (2 * count)),
                                       static_cast<unsigned char>((2 * sums[2] + count) / (2 * count))});
                }
            }
            int error = 0;
            for (const auto& p : pixels) error += nearest_distance(p, palette);
            best = std::min(best, error);
            std::size_t i = 0;
            while (i < group.size() && ++group[i] == c.max_colours) group[i++] = 0;
            if (i == group.size()) break;
        }
        const auto reduced = reduce_colours(pixels, c.max_colours);
        int error = 0;
        for (std::size_t i = 0; i < pixels.size(); ++i) error += distance(pixels[i], reduced.palette[reduced.indices[i]]);
        // Refinement ends in a local optimum, which need not be the best one: within a tenth here.
        EXPECT_LE(error * 10, best * 11);
        EXPECT_LE(best, error);
    }
}
