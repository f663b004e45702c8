#include "conversion/block_pixels.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/test_support.h"

namespace {

using painter = void (*)(const unsigned char*, const unsigned char*, unsigned char*, std::size_t);

}  // namespace

TEST(PaintBlock, BothPathsLookUpEveryIndexAndTouchNothingElse) {
    // Index patterns that reach both halves of the palette, its ends and the 127/128 seam.
    bytes sweep = tile_record(5);
    for (std::size_t i = 0; i < 4096; ++i) sweep[1024 + i] = static_cast<unsigned char>(i * 13 + i / 256);
    bytes seam = tile_record(6);
    for (std::size_t i = 0; i < 4096; ++i) seam[1024 + i] = static_cast<unsigned char>(i % 2 ? 128 : 127);
    bytes ends = tile_record(7);
    for (std::size_t i = 0; i < 4096; ++i) ends[1024 + i] = static_cast<unsigned char>(i % 3 ? 255 : 0);
    const struct {
        const char* name;
        bytes record;
    } blocks[] = {{"seeded", tile_record(3)}, {"sweep", sweep}, {"seam", seam}, {"ends", ends}};
    const struct {
        const char* name;
        painter paint;
    } painters[] = {{"fastest", paint_block}, {"portable", paint_block_portable}};

    // The block sits in the middle column of a strip three blocks wide.
    constexpr std::size_t row_step = 3 * 192;
    constexpr std::size_t column_offset = 192;
    for (const auto& p : painters) {
        for (const auto& b : blocks) {
            SCOPED_TRACE(std::string(p.name) + ", " + b.name);
            bytes strip(64 * row_step, 0xEE);
            p.paint(b.record.data(), b.record.data() + 1024, strip.data() + column_offset, row_step);

            bytes expected(64 * row_step, 0xEE);
            for (std::size_t y = 0; y < 64; ++y) {
                for (std::size_t x = 0; x < 64; ++x) {
                    const std::size_t index = b.record[1024 + 64 * y + x];
                    for (std::size_t channel = 0; channel < 3; ++channel) {
                        expected[(63 - y) * row_step + column_offset + 3 * x + channel] = b.record[4 * index + channel];
                    }
                }
            }
            EXPECT_TRUE(expected == strip);
        }
    }
}
