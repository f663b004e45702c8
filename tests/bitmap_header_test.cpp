#include "conversion/bitmap_header.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/test_support.h"

namespace quorvex {

TEST(BitmapHeader, RecordsEverySizeAndRefusesWhatItsFieldsCannotHold) {
    // A file size of 0 marks a picture that must be refused.
    const struct {
        std::int32_t width, height;
        std::uint32_t file_size = 0;
        std::int32_t width_field = 0, height_field = 0;
        std::uint32_t image_size = 0;
    } cases[] = {
        {1, 1, 12342, 64, 64, 12288},
        {2, 3, 73782, 128, 192, 73728},
        {0, 5, 54, 0, 320, 0},
        {4, 0, 54, 256, 0, 0},
        {3, -1, 54, 192, -64, 0},
        {33554431, 0, 54, 2147483584, 0, 0},       // 64 x width is the largest field value
        {0, -33554432, 54, 0, -2147483647 - 1, 0},
        {349525, 1, 4294963254, 22369600, 64, 4294963200},  // the largest file
        {591, 591, 4291964982, 37824, 37824, 4291964928},
        {-1, 1}, {-1, 0}, {33554432, 0}, {0, 33554432}, {0, -33554433}, {349526, 1}, {1, 349526}, {592, 592},
        // 12288 x 33554431 x 33554431 overflows 64 bits unless the block count is held first.
        {2147483647, 2147483647}, {33554431, 33554431}, {33554431, 16777216},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        const auto size = plan_bitmap(c.width, c.height);
        ASSERT_EQ(c.file_size != 0, size.has_value());
        if (!size) continue;
        bytes expected{'B', 'M'};
        // Four-byte fields but for the two-byte planes (1) and bits per pixel (24).
        for (const std::uint32_t v : {c.file_size, 0u, 54u, 40u, static_cast<std::uint32_t>(c.width_field),
                                      static_cast<std::uint32_t>(c.height_field), 1u | 24u << 16, 0u, c.image_size, 0u,
                                      0u, 0u, 0u}) {
            for (int i = 0; i < 4; ++i) expected.push_back(static_cast<unsigned char>(v >> (8 * i)));
        }
        bytes written;
        byte_sink out = byte_sink::memory(written);
        ASSERT_TRUE(write_bitmap_header(out, *size));
        EXPECT_EQ(expected, written);
    }
}

}  // namespace quorvex
