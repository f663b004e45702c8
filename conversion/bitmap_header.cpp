#include "conversion/bitmap_header.h"

#include <array>
#include <cstddef>
#include <limits>

#include "conversion/block_geometry.h"

namespace quorvex {

namespace {

constexpr std::size_t file_header_bytes = 14;
constexpr std::size_t info_header_bytes = 40;
static_assert(file_header_bytes + info_header_bytes == block_geometry::bitmap_header_bytes);

constexpr std::uint16_t signature = 0x4D42;  // "BM", little-endian
constexpr std::uint16_t planes = 1;
constexpr std::uint16_t bits_per_pixel = 24;
constexpr std::uint32_t no_compression = 0;

// Every field is little-endian whatever the host's byte order.
template <std::size_t N>
class field_writer {
public:
    void u16(std::uint16_t v) { put(v, 2); }
    void u32(std::uint32_t v) { put(v, 4); }
    void i32(std::int32_t v) { put(static_cast<std::uint32_t>(v), 4); }
    [[nodiscard]] const std::array<unsigned char, N>& bytes() const { return bytes_; }

private:
    void put(std::uint32_t v, int width) {
        for (int i = 0; i < width; ++i) bytes_[at_++] = static_cast<unsigned char>(v >> (8 * i));
    }
    std::array<unsigned char, N> bytes_{};
    std::size_t at_ = 0;
};

// The most blocks whose pixels, with the header, fit the 32-bit file size field.
constexpr std::int64_t most_blocks =
    (std::int64_t{std::numeric_limits<std::uint32_t>::max()} - block_geometry::bitmap_header_bytes) /
    block_geometry::block_strip_bytes;

bool fits_i32(std::int64_t v) {
    return v >= std::numeric_limits<std::int32_t>::min() &&
           v <= std::numeric_limits<std::int32_t>::max();
}

}  // namespace

std::optional<bitmap_size> plan_bitmap(std::int32_t width_blocks, std::int32_t height_blocks) {
    using namespace block_geometry;
    if (width_blocks < 0) return std::nullopt;

    const std::int64_t width_pixels = std::int64_t{block_side} * width_blocks;
    const std::int64_t height_pixels = std::int64_t{block_side} * height_blocks;
    if (!fits_i32(width_pixels) || !fits_i32(height_pixels)) return std::nullopt;

    const bool has_rows = width_blocks >= 1 && height_blocks >= 1;
    // Both counts are below 2^25 here, so their product fits 64 bits but 12288 times it may
    // not: the block count is held against the largest file before it is multiplied.
    const std::int64_t blocks = has_rows ? static_cast<std::int64_t>(width_blocks) * height_blocks : 0;
    if (blocks > most_blocks) return std::nullopt;
    const std::int64_t pixel_data = std::int64_t{block_strip_bytes} * blocks;
    const std::int64_t file_bytes = bitmap_header_bytes + pixel_data;

    return bitmap_size{static_cast<std::int32_t>(width_pixels),
                       static_cast<std::int32_t>(height_pixels),
                       static_cast<std::uint32_t>(pixel_data), static_cast<std::uint32_t>(file_bytes),
                       has_rows};
}

bool write_bitmap_header(byte_sink& out, const bitmap_size& size) {
    field_writer<file_header_bytes> file;
    file.u16(signature);
    file.u32(size.file_bytes);
    file.u16(0);  // reserved
    file.u16(0);  // reserved
    file.u32(block_geometry::bitmap_header_bytes);  // pixel data follows the header at once

    field_writer<info_header_bytes> info;
    info.u32(info_header_bytes);
    info.i32(size.width_pixels);
    info.i32(size.height_pixels);  // positive: rows are stored bottom-up
    info.u16(planes);
    info.u16(bits_per_pixel);
    info.u32(no_compression);
    info.u32(size.pixel_data_bytes);
    info.u32(0);  // horizontal resolution
    info.u32(0);  // vertical resolution
    info.u32(0);  // colours used: none, there is no colour table
    info.u32(0);  // important colours

    return out.write(file.bytes()) && out.write(info.bytes());
}

}  // namespace quorvex
