#include "packing/pack_blocks.h"

#include <algorithm>
#include <cerrno>
#include <array>
#include <span>
#include <vector>

#include "conversion/block_geometry.h"
#include "packing/pack_like.h"
#include "packing/reduce_colours.h"

namespace quorvex {

namespace {

using block_geometry::palette_bytes;
constexpr std::size_t side = block_geometry::block_side;
constexpr std::size_t pixel_bytes = block_geometry::pixel_bytes;
constexpr std::size_t entry_bytes = block_geometry::palette_entry_bytes;

// Eight slots per palette entry keep the probe runs of the colour table short; four
// measured a third slower on blocks of 256 colours, sixteen no faster.
constexpr std::size_t table_slots = 2048;
constexpr int table_bits = 11;
static_assert(table_slots == std::size_t{1} << table_bits);
static_assert(table_slots == 8 * block_geometry::palette_entries);

// Stores the pixel at `pixel` (red first when `rgb`) as palette entry `entry`: blue, green, red.
void set_entry(std::span<unsigned char> record, std::size_t entry, const unsigned char* pixel, std::size_t blue) {
    unsigned char* at = record.data() + entry * entry_bytes;
    at[0] = pixel[blue];
    at[1] = pixel[1];
    at[2] = pixel[2 - blue];
}

// The block's colours did not fit a palette: all its pixels go to the reduction.
void store_reduced(const unsigned char* first, std::ptrdiff_t row_step, std::size_t blue,
                   std::span<unsigned char> record) {
    std::vector<colour> pixels(block_geometry::index_bytes);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const unsigned char* pixel = first + static_cast<std::ptrdiff_t>(i / side) * row_step + i % side * pixel_bytes;
        pixels[i] = {pixel[blue], pixel[1], pixel[2 - blue]};
    }
    const reduced_colours reduced = reduce_colours(pixels, block_geometry::palette_entries);
    std::fill(record.begin(), record.end(), 0);
    for (std::size_t entry = 0; entry < reduced.palette.size(); ++entry) {
        std::copy(reduced.palette[entry].begin(), reduced.palette[entry].end(), record.begin() + static_cast<std::ptrdiff_t>(entry * entry_bytes));
    }
    std::copy(reduced.indices.begin(), reduced.indices.end(), record.begin() + palette_bytes);
}

// Fills `record` from the block whose top-left pixel is `first`; true when it was reduced.
bool pack_block(const unsigned char* first, std::ptrdiff_t row_step, bool rgb, std::span<unsigned char> record) {
    const std::size_t blue = rgb ? 2 : 0;
    // Each colour gets the next palette entry when first met. A table slot holds the colour
    // with a mark bit above it, so that zero means free and black is a colour like any other.
    std::fill(record.begin(), record.end(), 0);
    std::array<std::uint32_t, table_slots> keys{};
    std::array<unsigned char, table_slots> entries{};
    std::size_t used = 0;
    std::uint32_t last_key = 0;  // neighbours often share a colour: no table look-up then
    unsigned char last_entry = 0;
    unsigned char* index = record.data() + palette_bytes;
    for (std::size_t y = 0; y < side; ++y) {
        const unsigned char* pixel = first + static_cast<std::ptrdiff_t>(y) * row_step;
        for (std::size_t x = 0; x < side; ++x, pixel += pixel_bytes) {
            const std::uint32_t key = 1U << 24 | std::uint32_t{pixel[0]} << 16 | std::uint32_t{pixel[1]} << 8 | pixel[2];
            if (key != last_key) {
                std::size_t slot = (key * 2654435761U) >> (32 - table_bits);  // Fibonacci hashing
                while (keys[slot] != 0 && keys[slot] != key) slot = (slot + 1) % table_slots;
                if (keys[slot] == 0) {
                    if (used == block_geometry::palette_entries) {
                        store_reduced(first, row_step, blue, record);
                        return true;
                    }
                    keys[slot] = key;
                    entries[slot] = static_cast<unsigned char>(used);
                    set_entry(record, used++, pixel, blue);
                }
                last_key = key;
                last_entry = entries[slot];
            }
            *index++ = last_entry;
        }
    }
    return false;
}

}  // namespace

pack_result pack_blocks(const picture& pic, std::FILE* out, const pack_settings& settings) {
    std::vector<unsigned char> buffer;
    std::array<unsigned char, block_geometry::record_bytes> record;
    pack_result result;
    const auto fail = [&result](pack_stage stage) {
        result.failed = stage;
        result.error = errno;
        return result;
    };
    const std::size_t rows = static_cast<std::size_t>(pic.height) / side;
    std::optional<model_rows> model;
    if (settings.model != nullptr) model.emplace(settings.model, static_cast<std::size_t>(pic.width) / side);
    for (std::size_t index = 0; index < rows; ++index) {
        errno = 0;
        const std::optional<block_row> pixels = read_block_row(pic, index, buffer);
        if (!pixels) return fail(pack_stage::picture);
        if (model && !model->read_next()) return fail(pack_stage::model);
        for (std::size_t left = 0; left < static_cast<std::size_t>(pic.width); left += side) {
            const likeness like = model ? pack_like(*pixels, left / side, model->record(left / side), record) : likeness::no_record;
            if (model) count_likeness(like, result);
            if (packs_afresh(like) && pack_block(pixels->first + left * pixel_bytes, pixels->row_step, pixels->rgb, record)) ++result.reduced;
            if (std::fwrite(record.data(), 1, record.size(), out) != record.size()) return fail(pack_stage::output);
        }
        if (settings.progress) settings.progress(index + 1, rows);
    }
    if (model) {
        errno = 0;
        if (const pack_stage stage = model->copy_rest(out); stage != pack_stage::none) return fail(stage);
    }
    return result;
}

}  // namespace quorvex
