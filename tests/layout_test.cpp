#include "layout/layout_finder.h"
#include "layout/record_edges.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tests/test_support.h"

namespace quorvex {

namespace {

// A picture that repeats every `period` blocks across and every block down; drawn `width`
// blocks wide, any multiple of the period is as good a width as the true one.
bytes repeating_records(int period, int width, int height) {
    return picture_records(width, height, [=](int x, int y) -> std::array<unsigned char, 3> {
        // A triangle wave in steps of four pixels: at most 16 colours each way in a block.
        const auto wave = [](int at, int length) {
            return static_cast<unsigned char>(std::abs(at / 4 * 4 % length - length / 2) * 510 / length);
        };
        return {40, wave(y, 64), wave(x, 64 * period)};
    });
}

// The same noise every run: a linear congruential generator's high bytes; with `flat_sides`,
// each block's left and right columns all palette entry 0.
bytes random_bytes(std::size_t count, bool flat_sides = false) {
    bytes data(count);
    std::uint32_t state = 24;
    for (unsigned char& b : data) b = static_cast<unsigned char>((state = state * 1664525U + 1013904223U) >> 24);
    for (std::size_t at = 0; flat_sides && at < count; at += 64) if (at % 5120 >= 1024) data[at] = data[at + 63] = 0;
    return data;
}

bytes with(bytes data, const bytes& more) { data.insert(data.end(), more.begin(), more.end()); return data; }

bytes records_of(const bytes& data, std::size_t first, std::size_t count) {
    return {data.begin() + static_cast<std::ptrdiff_t>(first * 5120), data.begin() + static_cast<std::ptrdiff_t>((first + count) * 5120)};
}

}  // namespace

TEST(LayoutFinder, FindsTheLayoutOrSaysWhyNot) {
    const bytes png_start{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const bytes gradient = gradient_records(7, 4);
    struct row {
        const char* situation;
        bytes data;
        layout_refusal refusal;
        layout_guess best{};
        std::vector<layout_guess> also{};
    };
    const row rows[] = {
        {"a smooth gradient 3 wide", gradient_records(3, 5), layout_refusal::none, {3, 5, 0}},
        {"a smooth gradient 7 wide", gradient, layout_refusal::none, {7, 4, 0}},
        {"a smooth gradient 31 wide", gradient_records(31, 2), layout_refusal::none, {31, 2, 0}},
        // Every block's bottom row is the top row of the one below: pairs that meet exactly.
        {"blocks that meet exactly below", picture_records(5, 6, [](int x, int y) {
             return std::array<unsigned char, 3>{static_cast<unsigned char>(x / 4 * 4 * 255 / 319), static_cast<unsigned char>(std::abs(y % 64 / 4 * 4 - 30) * 3), 90};
         }), layout_refusal::none, {5, 6, 0}, {{10, 3, 0}, {15, 2, 0}}},
        {"a black frame, which says nothing", gradient_records(9, 6, true), layout_refusal::none, {9, 6, 0}},
        {"records copied after the last row", with(gradient, records_of(gradient, 3, 3)), layout_refusal::none, {7, 4, 3}},
        {"a single block-row", gradient_records(11, 1), layout_refusal::none, {11, 1, 0}},
        // Its end and the record after it are no pair side by side.
        {"a single block-row and a record after it", with(gradient_records(5, 1), records_of(gradient, 3, 1)), layout_refusal::none, {5, 1, 1}, {{3, 2, 0}}},
        {"a single column", gradient_records(1, 9), layout_refusal::none, {1, 9, 0}},
        // Every multiple of the period holding two rows fits as well; more pairs rank first, and
        // three at most are named.
        {"a pattern repeating every 3 blocks, 6 wide", repeating_records(3, 6, 6), layout_refusal::none, {3, 12, 0},
         {{6, 6, 0}, {9, 4, 0}, {12, 3, 0}}},
        // Drawn 4 wide, every block-row is the same. Under 18 records pairs at random are few.
        {"the same block-row 4 times", repeating_records(3, 4, 4), layout_refusal::none, {4, 4, 0}, {{8, 2, 0}}},
        // Past 129 records every width is first ranked on a sample of them, a single block-row too.
        {"more records than the first ranking samples", gradient_records(17, 9), layout_refusal::none, {17, 9, 0}},
        {"the same block-row 33 times", repeating_records(3, 4, 33), layout_refusal::none, {4, 33, 0}, {{8, 16, 4}, {12, 11, 0}, {16, 8, 4}}},
        {"a single block-row of 130", gradient_records(130, 1), layout_refusal::none, {130, 1, 0}},
        // Flat blocks meet each other perfectly at every width: counted, they would make random
        // pairs look perfect too.
        {"mostly one flat colour", picture_records(9, 10, [](int x, int y) {
             using colour = std::array<unsigned char, 3>;
             // Blue tells the columns apart, so that no neighbour of the true width comes close.
             if (y >= 128) return colour{30, 60, 120};
             return colour{static_cast<unsigned char>(x / 64 * 37 % 200), static_cast<unsigned char>(y / 8 * 16),
                           static_cast<unsigned char>(x / 4 * 4 * 255 / 575)};
         }), layout_refusal::none, {9, 10, 0}},
        // Edges across all flat; side by side, random pairs differ by a shade in one pixel.
        {"the same stripes in each block-row, a shade apart", picture_records(5, 2, [](int, int y) {
             return std::array<unsigned char, 3>{static_cast<unsigned char>(y % 64 < 2 ? 60 + y / 64 : 60), static_cast<unsigned char>(y % 64 * 3), 90}; }),
         layout_refusal::none, {5, 2, 0}},
        {"flat data", picture_records(6, 4, [](int, int) { return std::array<unsigned char, 3>{30, 60, 120}; }),
         layout_refusal::cannot_tell},
        // Its bottom row is its top row and its left column its right one: every pair meets.
        {"one block repeated", picture_records(5, 4, [](int x, int y) {
             const auto edge_or = [](int at, int inside) { return at % 64 == 0 || at % 64 == 63 ? 0 : inside; };
             return std::array<unsigned char, 3>{static_cast<unsigned char>(edge_or(x, x % 64 * 4)),
                                                 static_cast<unsigned char>(edge_or(y, 200)), 50};
         }), layout_refusal::cannot_tell},
        {"random bytes", random_bytes(40 * 5120), layout_refusal::cannot_tell},
        // No pair side by side counts: a single block-row, with no pair at all, is no answer either.
        {"random bytes between flat side columns", random_bytes(40 * 5120, true), layout_refusal::cannot_tell},
        {"one record", records_of(gradient, 5, 1), layout_refusal::single_record},
        // Nothing to compare their one pair with.
        {"two records", records_of(gradient, 0, 2), layout_refusal::cannot_tell},
        {"empty", {}, layout_refusal::empty},
        {"a PNG", with(png_start, bytes(5120 - 8)), layout_refusal::picture},
        {"a record and a byte", with(gradient, {0}), layout_refusal::not_whole_records},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.situation);
        // Any chunking of the same bytes finds the same: whole records, single bytes, chunks
        // that cut records and palettes anywhere.
        for (const std::size_t chunk : {std::size_t{5120 * 64}, std::size_t{1}, std::size_t{4099}, std::size_t{7}}) {
            if (chunk < 4099 && r.data.size() > 5120 * 8) continue;  // small chunks on small data only
            SCOPED_TRACE("chunks of " + std::to_string(chunk));
            layout_finder finder;
            for (std::size_t at = 0; at < r.data.size(); at += chunk) {
                finder.add(std::span(r.data).subspan(at, std::min(chunk, r.data.size() - at)));
            }
            const layout_result found = finder.find();
            EXPECT_EQ(static_cast<int>(r.refusal), static_cast<int>(found.refusal));
            EXPECT_EQ(static_cast<std::int64_t>(r.data.size() / 5120), found.records);
            if (r.refusal == layout_refusal::none) {
                EXPECT_EQ(r.best, found.best) << found.best.width << " x " << found.best.height << ", " << found.best.extra;
                EXPECT_TRUE(r.also == found.also) << found.also.size() << " runners-up, the first " << (found.also.empty() ? 0 : found.also[0].width);
            }
        }
    }
}

// A pair with a flat edge says nothing of where its blocks stand, whichever of the two holds
// it: here a block under a grid line, its top row all one colour.
TEST(RecordEdges, APairWithAFlatEdgeOnEitherSideIsLeftOut) {
    const bytes data = picture_records(1, 2, [](int x, int y) {
        return std::array<unsigned char, 3>{50, 90, static_cast<unsigned char>(y == 64 ? 0 : x * 3)};
    });
    const record_edges upper = reduce_record(std::span(data).first<5120>()), lower = reduce_record(std::span(data).subspan<5120, 5120>());
    EXPECT_FALSE(either_flat(upper.colour, bottom, upper.colour, top));
    EXPECT_TRUE(either_flat(upper.colour, bottom, lower.colour, top));
    EXPECT_TRUE(either_flat(lower.colour, top, upper.colour, bottom));
    EXPECT_TRUE(either_flat(upper.grey, bottom, lower.grey, top));
    // Each colour of an edge is the mean of two pixels side by side, rounded up; each grey, of
    // four, green weighing twice.
    for (const int at : {0, 5, 31}) EXPECT_EQ(6 * at + 2, upper.colour.edge[bottom][static_cast<std::size_t>(3 * at + 2)]) << at;
    for (const int at : {0, 7, 15}) EXPECT_EQ(59 + 3 * at, upper.grey.edge[bottom][static_cast<std::size_t>(at)]) << at;
    // Two edges are as far apart as all their bytes differ, the first and the last included.
    record_edges moved = upper;
    moved.colour.edge[bottom].front() += 10;
    moved.colour.edge[bottom].back() -= 3;
    EXPECT_EQ(13, edge_distance(moved.colour, bottom, upper.colour, bottom));
}

}  // namespace quorvex
