#include "conversion/bitmap_header.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

bytes header_for(std::int32_t width, std::int32_t height) {
    const auto size = plan_bitmap(width, height);
    if (!size) {
        ADD_FAILURE() << "no bitmap for " << width << " x " << height;
        return {};
    }
    unique_file out{std::tmpfile()};
    EXPECT_TRUE(write_bitmap_header(out.get(), *size));
    return read_all(out.get());
}

}  // namespace

TEST(BitmapHeader, RecordsSizesForEveryShape) {
    const struct {
        std::int32_t width, height;
        std::uint32_t file_size;
        std::int32_t width_field, height_field;
        std::uint32_t image_size;
    } cases[] = {
        {1, 1, 12342, 64, 64, 12288},
        {2, 3, 73782, 128, 192, 73728},
        {0, 5, 54, 0, 320, 0},
        {4, 0, 54, 256, 0, 0},
        {0, 0, 54, 0, 0, 0},
        {3, -1, 54, 192, -64, 0},
        {0, -2147483647 / 64, 54, 0, -2147483584, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        const bytes header = header_for(c.width, c.height);
        ASSERT_EQ(54u, header.size());
        EXPECT_EQ('B', header[0]);
        EXPECT_EQ('M', header[1]);
        EXPECT_EQ(c.file_size, u32_at(header, 2));
        EXPECT_EQ(0u, u32_at(header, 6));  // both reserved fields
        EXPECT_EQ(54u, u32_at(header, 10));
        EXPECT_EQ(40u, u32_at(header, 14));
        EXPECT_EQ(c.width_field, i32_at(header, 18));
        EXPECT_EQ(c.height_field, i32_at(header, 22));
        EXPECT_EQ(1, u16_at(header, 26));
        EXPECT_EQ(24, u16_at(header, 28));
        EXPECT_EQ(0u, u32_at(header, 30));
        EXPECT_EQ(c.image_size, u32_at(header, 34));
        for (std::size_t field = 38; field < 54; field += 4) EXPECT_EQ(0u, u32_at(header, field));
    }
}

TEST(BitmapHeader, RefusesWhatTheFieldsCannotHold) {
    const struct {
        std::int32_t width, height;
        bool fits;
    } cases[] = {
        {-1, 1, false},             // a negative width is no picture
        {-1, 0, false},
        {33554431, 0, true},        // 64 x width is the largest field value
        {33554432, 0, false},       // 64 x width passes 2^31 - 1
        {0, 33554432, false},
        {0, -33554432, true},       // exactly -2^31
        {0, -33554433, false},
        {349525, 1, true},          // 54 + 12288 x 349525 = 4294963254
        {349526, 1, false},         // past 4294967295
        {1, 349526, false},
        {591, 591, true},           // 4291964982 bytes
        {592, 592, false},
        {2147483647, 2147483647, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        EXPECT_EQ(c.fits, plan_bitmap(c.width, c.height).has_value());
    }
}

TEST(BitmapHeader, LargestFileSizeIsExact) {
    const auto size = plan_bitmap(349525, 1);
    ASSERT_TRUE(size.has_value());
    EXPECT_EQ(4294963254u, size->file_bytes);
    EXPECT_EQ(4294963200u, size->pixel_data_bytes);
}

// Found by fuzzing: 12288 x 33554431 x 33554431 overflowed 64 bits before it was compared
// with the largest file (undefined behaviour; caught by the sanitizer build).
TEST(BitmapHeader, RegressionLargestPixelSizesInBothDirectionsDoNotOverflow) {
    for (const std::int32_t height : {33554431, 33554430, 16777216}) {
        SCOPED_TRACE(height);
        EXPECT_FALSE(plan_bitmap(33554431, height).has_value());
    }
}
