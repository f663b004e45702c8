#include "packing/pack_blocks.h"

#include <algorithm>
#include <array>

#include "packing/reduce_colours.h"

namespace {

using block_geometry::palette_bytes;
constexpr std::size_t side = block_geometry::block_side;
constexpr std::size_t pixel_bytes = block_geometry::pixel_bytes;
constexpr std::size_t entry_bytes = block_geometry::palette_entry_bytes;

using block_colours = std::array<colour, block_geometry::index_bytes>;

// Four slots per palette entry keep the probe runs of the colour table short.
constexpr std::size_t table_slots = 1024;
constexpr int table_bits = 10;
static_assert(table_slots == std::size_t{1} << table_bits);
static_assert(table_slots >= 4 * block_geometry::palette_entries);

void set_entry(std::span<unsigned char> record, std::size_t entry, const colour& c) {
    std::copy(c.begin(), c.end(), record.begin() + static_cast<std::ptrdiff_t>(entry * entry_bytes));
}

void store_reduced(const block_colours& pixels, std::span<unsigned char> record) {
    const reduced_colours reduced = reduce_colours(pixels, block_geometry::palette_entries);
    std::fill(record.begin(), record.end(), 0);
    for (std::size_t entry = 0; entry < reduced.palette.size(); ++entry) set_entry(record, entry, reduced.palette[entry]);
    std::copy(reduced.indices.begin(), reduced.indices.end(), record.begin() + palette_bytes);
}

}  // namespace

bool pack_block(const unsigned char* first, std::size_t row_bytes, std::span<unsigned char> record) {
    block_colours pixels;
    for (std::size_t y = 0; y < side; ++y) {
        const unsigned char* row = first + y * row_bytes;
        for (std::size_t x = 0; x < side; ++x) {
            const unsigned char* rgb = row + x * pixel_bytes;
            pixels[y * side + x] = {rgb[2], rgb[1], rgb[0]};
        }
    }

    // Each colour gets the next palette entry when first met. A table slot holds the colour
    // with a mark bit above it, so that zero means free and black is a colour like any other.
    std::fill(record.begin(), record.end(), 0);
    std::array<std::uint32_t, table_slots> keys{};
    std::array<unsigned char, table_slots> entries{};
    std::size_t used = 0;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const colour& c = pixels[i];
        const std::uint32_t key = 1U << 24 | std::uint32_t{c[2]} << 16 | std::uint32_t{c[1]} << 8 | c[0];
        std::size_t slot = (key * 2654435761U) >> (32 - table_bits);  // Fibonacci hashing
        while (keys[slot] != 0 && keys[slot] != key) slot = (slot + 1) % table_slots;
        if (keys[slot] == 0) {
            if (used == block_geometry::palette_entries) {
                store_reduced(pixels, record);
                return true;
            }
            keys[slot] = key;
            entries[slot] = static_cast<unsigned char>(used);
            set_entry(record, used++, c);
        }
        record[palette_bytes + i] = entries[slot];
    }
    return false;
}

std::optional<std::int64_t> pack_blocks(const picture& pic, std::FILE* out) {
    const std::size_t row_bytes = static_cast<std::size_t>(pic.width) * pixel_bytes;
    std::array<unsigned char, block_geometry::record_bytes> record;
    std::int64_t reduced = 0;
    for (std::size_t top = 0; top < static_cast<std::size_t>(pic.height); top += side) {
        for (std::size_t left = 0; left < static_cast<std::size_t>(pic.width); left += side) {
            if (pack_block(pic.pixels.get() + top * row_bytes + left * pixel_bytes, row_bytes, record)) ++reduced;
            if (std::fwrite(record.data(), 1, record.size(), out) != record.size()) return std::nullopt;
        }
    }
    return reduced;
}
