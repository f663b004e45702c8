#include "conversion/picture_signature.h"

#include <gtest/gtest.h>

#include <string>

#include "conversion/bitmap_header.h"
#include "tests/test_support.h"

namespace quorvex {

namespace {

// The first 18 bytes of a BMP: "BM", a file size, two reserved fields, the pixels' offset and
// the information header's size, each little-endian.
bytes bitmap_start(std::uint32_t header_size, std::uint32_t file_size = 12342) {
    bytes data{'B', 'M'};
    for (const std::uint32_t v : {file_size, 0u, 54u, header_size}) {
        for (int i = 0; i < 4; ++i) data.push_back(static_cast<unsigned char>(v >> (8 * i)));
    }
    return data;
}

bytes with(bytes data, std::size_t at, unsigned char value) {
    data[at] = value;
    return data;
}

}  // namespace

TEST(StartsLikePicture, TellsPicturesFromTileDataByTheirFirstBytes) {
    bytes ours;
    byte_sink sink = byte_sink::memory(ours);
    ASSERT_TRUE(write_bitmap_header(sink, *plan_bitmap(2, 1)));
    const bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const struct {
        std::string what;
        bytes first;
        bool picture;
    } rows[] = {
        {"a PNG's signature alone", png, true},
        {"a PNG's signature with one byte other", with(png, 7, '\r'), false},
        {"a PNG's signature cut short", bytes(png.begin(), png.end() - 1), false},
        {"the header this program writes", ours, true},
        {"a file size of 0", bitmap_start(40, 0), true},
        {"the first reserved field not 0", with(bitmap_start(40), 6, 1), false},
        {"the first reserved field's high byte not 0", with(bitmap_start(40), 7, 1), false},
        {"the second reserved field not 0", with(bitmap_start(40), 8, 1), false},
        {"the second reserved field's high byte not 0", with(bitmap_start(40), 9, 1), false},
        {"an unknown header size", bitmap_start(41), false},
        {"a header size of 40 plus 16 x 2^8", bitmap_start(4136), false},
        {"a header size of 40 plus 16 x 2^16", with(bitmap_start(40), 16, 16), false},
        {"a header size of 40 plus 16 x 2^24", with(bitmap_start(40), 17, 16), false},
        {"BM cut before the header size's last byte", bytes(ours.begin(), ours.begin() + 17), false},
        {"bm", with(bitmap_start(40), 0, 'b'), false},
        {"nothing", {}, false},
        {"tile data", tile_records(1), false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(r.picture, starts_like_picture(r.first));
    }
    for (const std::uint32_t header_size : {12u, 40u, 52u, 56u, 108u, 124u}) {
        EXPECT_TRUE(starts_like_picture(bitmap_start(header_size))) << header_size;
    }
}

}  // namespace quorvex
