#include "packing/pack_like.h"

#include <algorithm>
#include <array>

#include "conversion/block_geometry.h"

namespace quorvex {

namespace {

using block_geometry::palette_bytes;
using block_geometry::record_bytes;
constexpr std::size_t side = block_geometry::block_side;
constexpr std::size_t entries = block_geometry::palette_entries;
constexpr std::size_t entry_bytes = block_geometry::palette_entry_bytes;
constexpr std::size_t pixel_bytes = block_geometry::pixel_bytes;
constexpr std::uint16_t none = 0xFFFF;

// A colour as one number, blue highest, with a mark bit above it so that zero means no colour.
constexpr std::uint32_t key(unsigned char blue, unsigned char green, unsigned char red) {
    return 1U << 24 | std::uint32_t{blue} << 16 | std::uint32_t{green} << 8 | red;
}

// Colours of one block and a number for each, by open addressing: eight slots per palette
// entry keep the probe runs short even with 256 palette colours and 256 new ones.
class colour_numbers {
public:
    // The slot of `colour`, which holds `none` as its number if the colour is new.
    std::size_t find(std::uint32_t colour) {
        std::size_t slot = (colour * 2654435761U) >> (32 - bits);  // Fibonacci hashing
        while (keys_[slot] != 0 && keys_[slot] != colour) slot = (slot + 1) % slots;
        if (keys_[slot] == 0) {
            keys_[slot] = colour;
            numbers_[slot] = none;
        }
        return slot;
    }
    std::uint16_t& number(std::size_t slot) { return numbers_[slot]; }

private:
    static constexpr int bits = 12;
    static constexpr std::size_t slots = std::size_t{1} << bits;
    std::array<std::uint32_t, slots> keys_{};
    std::array<std::uint16_t, slots> numbers_{};
};

}  // namespace

model_rows::model_rows(byte_source& model, std::size_t columns, std::uint64_t bytes)
    : model_(model), left_(bytes) {
    for (std::vector<unsigned char>& row : records_) row.resize(std::max<std::size_t>(columns, 1) * record_bytes);
}

bool model_rows::read_next() {
    std::vector<unsigned char>& into = records_[rows_read_ % 2];
    std::size_t& have = have_[rows_read_ % 2];
    have = model_.read({into.data(), static_cast<std::size_t>(std::min<std::uint64_t>(into.size(), left_))});
    left_ -= have;
    ++rows_read_;
    return !model_.failed();
}

std::span<const unsigned char> model_rows::record(std::size_t row, std::size_t column) const {
    const std::size_t start = column * record_bytes;
    if (have_[row % 2] < start + record_bytes) return {};
    return {records_[row % 2].data() + start, record_bytes};
}

pack_stage model_rows::copy_rest(byte_sink& out, std::int64_t& records) {
    // Every block is packed by now: either row's buffer will do.
    std::vector<unsigned char>& buffer = records_[0];
    std::uint64_t copied = 0;
    for (;;) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), left_));
        const std::size_t got = want == 0 ? 0 : model_.read({buffer.data(), want});
        left_ -= got;
        copied += got;
        records = static_cast<std::int64_t>(copied / record_bytes);
        if (got > 0 && !out.write({buffer.data(), got})) return pack_stage::output;
        if (got < want || want == 0) return model_.failed() ? pack_stage::model : pack_stage::none;
    }
}

likeness pack_like(const block_row& pixels, std::size_t column, std::span<const unsigned char> model,
                   std::span<unsigned char> record) {
    if (model.size() < static_cast<std::size_t>(record_bytes)) return likeness::no_record;
    const std::size_t blue = pixels.rgb ? 2 : 0;
    std::array<std::uint32_t, entries> palette;
    for (std::size_t e = 0; e < entries; ++e) {
        const unsigned char* entry = model.data() + e * entry_bytes;
        palette[e] = key(entry[0], entry[1], entry[2]);
    }
    const unsigned char* model_index = model.data() + palette_bytes;

    // The common case first: the block as the original converts, kept whole.
    std::array<std::uint32_t, side * side> colours;
    bool same = true;
    for (std::size_t y = 0; y < side; ++y) {
        const unsigned char* pixel = pixels.first + static_cast<std::ptrdiff_t>(y) * pixels.row_step +
                                     column * side * pixel_bytes;
        for (std::size_t x = 0; x < side; ++x, pixel += pixel_bytes) {
            const std::size_t i = y * side + x;
            colours[i] = key(pixel[blue], pixel[1], pixel[2 - blue]);
            same = same && colours[i] == palette[model_index[i]];
        }
    }
    if (same) {
        std::copy(model.begin(), model.end(), record.begin());
        return likeness::unchanged;
    }

    // Numbers below 256 are palette entries, the lowest of each colour; from 256 on, new colours.
    colour_numbers numbers;
    for (std::size_t e = entries; e-- > 0;) numbers.number(numbers.find(palette[e])) = static_cast<std::uint16_t>(e);
    std::array<std::uint32_t, entries> added;
    std::size_t new_colours = 0;
    std::array<std::uint16_t, side * side> chosen;
    std::array<bool, entries> used{};
    for (std::size_t i = 0; i < chosen.size(); ++i) {
        if (colours[i] == palette[model_index[i]]) {
            chosen[i] = model_index[i];
        } else {
            std::uint16_t& number = numbers.number(numbers.find(colours[i]));
            if (number == none) {
                if (new_colours == entries) return likeness::too_many_colours;
                added[new_colours] = colours[i];
                number = static_cast<std::uint16_t>(entries + new_colours++);
            }
            chosen[i] = number;
        }
        if (chosen[i] < entries) used[chosen[i]] = true;
    }

    // Entries that only repeat a lower used entry's colour give way, highest first, while the
    // new colours lack room; the table now numbers each colour by its lowest used entry.
    std::size_t spare = static_cast<std::size_t>(std::count(used.begin(), used.end(), false));
    std::array<std::uint16_t, entries> moved_to;
    for (std::size_t e = 0; e < entries; ++e) moved_to[e] = static_cast<std::uint16_t>(e);
    if (new_colours > spare) {
        colour_numbers lowest_used;
        std::array<std::uint16_t, entries> repeats;
        for (std::size_t e = 0; e < entries; ++e) {
            if (!used[e]) continue;
            std::uint16_t& lowest = lowest_used.number(lowest_used.find(palette[e]));
            repeats[e] = lowest;
            if (lowest == none) lowest = static_cast<std::uint16_t>(e);
        }
        for (std::size_t e = entries; e-- > 0 && new_colours > spare;) {
            if (!used[e] || repeats[e] == none) continue;
            moved_to[e] = repeats[e];
            used[e] = false;
            ++spare;
        }
        if (new_colours > spare) return likeness::too_many_colours;
    }

    // New colours take the lowest free entries, in the order they first appear.
    std::copy(model.begin(), model.begin() + palette_bytes, record.begin());
    std::array<std::uint16_t, entries> placed;
    for (std::size_t e = 0, n = 0; n < new_colours; ++e) {
        if (used[e]) continue;
        unsigned char* entry = record.data() + e * entry_bytes;
        entry[0] = static_cast<unsigned char>(added[n] >> 16);
        entry[1] = static_cast<unsigned char>(added[n] >> 8);
        entry[2] = static_cast<unsigned char>(added[n]);
        placed[n++] = static_cast<std::uint16_t>(e);
    }
    for (std::size_t i = 0; i < chosen.size(); ++i) {
        const std::uint16_t entry = chosen[i] < entries ? moved_to[chosen[i]] : placed[chosen[i] - entries];
        record[palette_bytes + i] = static_cast<unsigned char>(entry);
    }
    return likeness::changed;
}

void count_likeness(likeness outcome, pack_result& result) {
    switch (outcome) {
        case likeness::unchanged: ++result.unchanged; break;
        case likeness::no_record: ++result.unmodelled; break;
        case likeness::changed:
        case likeness::too_many_colours: ++result.changed; break;
    }
}

}  // namespace quorvex
