#include "packing/reduce_colours.h"

#include "conversion/block_geometry.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <limits>
#include <numeric>
#include <utility>

namespace quorvex {

// Everything below is integer arithmetic, so the result cannot depend on how a processor rounds.

namespace {

// Refinement rounds after the cuts at most; each round only lowers the error. Blocks of
// photographs settle after about six, and later rounds gain next to nothing.
constexpr int refinement_rounds = 16;

// Up to this many entries moved in a round, a colour whose own entry stayed put is checked
// against those alone rather than searched for anew.
constexpr std::size_t few_moved = 8;

// Farther than any two colours are apart (3 * 255 * 255).
constexpr int beyond_any_distance = 195076;

struct weighted_colour {
    colour value;
    std::int64_t count;  // pixels of this colour
};

using channel_sums = std::array<std::int64_t, 3>;

int distance(const colour& a, const colour& b) {
    int d = 0;
    for (std::size_t ch = 0; ch < 3; ++ch) {
        const int diff = int{a[ch]} - int{b[ch]};
        d += diff * diff;
    }
    return d;
}

// The error a set's mean takes away from its sum of squares: sum over channels of sum^2 / count.
// The sums of up to 2^22 pixels keep this within 64 bits.
std::int64_t explained(const channel_sums& s, std::int64_t count) {
    return (s[0] * s[0] + s[1] * s[1] + s[2] * s[2]) / count;
}

// The nearest integer colour to a set's mean, which is the best integer colour for the set.
colour rounded_mean(const channel_sums& s, std::int64_t count) {
    colour c{};
    for (std::size_t ch = 0; ch < 3; ++ch) {
        c[ch] = static_cast<unsigned char>((2 * s[ch] + count) / (2 * count));
    }
    return c;
}

struct colour_total {
    std::int64_t count = 0;
    channel_sums sums{};
};

// A run of colours to be cut in two: those whose channel `axis` is at most `threshold` and the
// rest, which removes `gain` squared error. Only the set matters, never the order in the run.
struct colour_box {
    std::size_t begin = 0;
    std::size_t end = 0;
    colour_total total;
    std::size_t axis = 0;
    int threshold = 0;
    std::int64_t gain = std::numeric_limits<std::int64_t>::min();
};

// Per channel and channel value, the totals of a run's colours; all zero between cuts.
using channel_bins = std::array<std::array<colour_total, 256>, 3>;

// Finds the cut of colours[begin, end) across one channel that removes the most squared error,
// from the run's totals per channel value: no sorting.
colour_box plan_cut(const std::vector<weighted_colour>& colours, std::size_t begin, std::size_t end,
                    channel_bins& bins) {
    colour_box box;
    box.begin = begin;
    box.end = end;
    std::array<int, 3> first{255, 255, 255};
    std::array<int, 3> last{0, 0, 0};
    for (std::size_t i = begin; i < end; ++i) {
        const auto& c = colours[i];
        const channel_sums weighted{c.count * c.value[0], c.count * c.value[1], c.count * c.value[2]};
        for (std::size_t axis = 0; axis < 3; ++axis) {
            auto& bin = bins[axis][c.value[axis]];
            bin.count += c.count;
            box.total.sums[axis] += weighted[axis];
            for (std::size_t ch = 0; ch < 3; ++ch) {
                bin.sums[ch] += weighted[ch];
            }
            first[axis] = std::min(first[axis], int{c.value[axis]});
            last[axis] = std::max(last[axis], int{c.value[axis]});
        }
        box.total.count += c.count;
    }
    const std::int64_t before = explained(box.total.sums, box.total.count);
    for (std::size_t axis = 0; axis < 3; ++axis) {
        colour_total lower;
        for (int v = first[axis]; v <= last[axis]; ++v) {
            auto& bin = bins[axis][static_cast<std::size_t>(v)];
            if (bin.count == 0) {
                continue;
            }
            lower.count += bin.count;
            channel_sums upper{};
            for (std::size_t ch = 0; ch < 3; ++ch) {
                lower.sums[ch] += bin.sums[ch];
                upper[ch] = box.total.sums[ch] - lower.sums[ch];
            }
            bin = {};
            if (v == last[axis]) {
                break;
            }
            const std::int64_t gain =
                explained(lower.sums, lower.count) + explained(upper, box.total.count - lower.count) - before;
            if (gain > box.gain) {
                box.gain = gain;
                box.axis = axis;
                box.threshold = v;
            }
        }
    }
    return box;
}

// The first palette: cut the colour box that gains most until there are `wanted` boxes,
// then take each box's mean. Needs more distinct colours than `wanted`.
std::vector<colour> cut_palette(std::vector<weighted_colour> colours, std::size_t wanted) {
    channel_bins bins{};
    std::vector<colour_box> boxes{plan_cut(colours, 0, colours.size(), bins)};
    while (boxes.size() < wanted) {
        // A box of one colour has no cut and the least gain; there is always a box of more.
        const auto chosen = std::max_element(boxes.begin(), boxes.end(), [](const colour_box& a, const colour_box& b) {
            return a.gain < b.gain;
        });
        const colour_box split = *chosen;
        const auto cut = std::partition(colours.begin() + static_cast<std::ptrdiff_t>(split.begin),
                                        colours.begin() + static_cast<std::ptrdiff_t>(split.end),
                                        [&split](const weighted_colour& c) {
                                            return c.value[split.axis] <= split.threshold;
                                        });
        const auto middle = static_cast<std::size_t>(cut - colours.begin());
        *chosen = plan_cut(colours, split.begin, middle, bins);
        boxes.push_back(plan_cut(colours, middle, split.end, bins));
    }
    std::vector<colour> palette(boxes.size());
    std::transform(boxes.begin(), boxes.end(), palette.begin(),
                   [](const colour_box& box) { return rounded_mean(box.total.sums, box.total.count); });
    return palette;
}

// A palette entry filed by the sum of its channels, for the nearest-colour search.
struct filed_entry {
    int brightness;
    colour value;
    unsigned char index;
};

int brightness_of(const colour& c) { return int{c[0]} + int{c[1]} + int{c[2]}; }

constexpr std::size_t brightness_levels = 3 * 255 + 1;

// The entries by brightness, and for every brightness where the first entry as bright or
// brighter stands.
struct filed_palette {
    std::vector<filed_entry> entries;
    std::array<std::size_t, brightness_levels> first_at{};
};

filed_palette file_palette(const std::vector<colour>& palette) {
    filed_palette filed;
    filed.entries.reserve(palette.size());
    for (std::size_t i = 0; i < palette.size(); ++i) {
        filed.entries.push_back({brightness_of(palette[i]), palette[i], static_cast<unsigned char>(i)});
    }
    std::sort(filed.entries.begin(), filed.entries.end(), [](const filed_entry& a, const filed_entry& b) {
        return std::pair(a.brightness, a.index) < std::pair(b.brightness, b.index);
    });
    std::size_t next = 0;
    for (std::size_t level = 0; level < brightness_levels; ++level) {
        while (next < filed.entries.size() && static_cast<std::size_t>(filed.entries[next].brightness) < level) {
            ++next;
        }
        filed.first_at[level] = next;
    }
    return filed;
}

struct nearest_entry {
    unsigned char index = 0;
    int distance = beyond_any_distance;
};

// The nearest entry, the lowest index among equals, given one entry and its distance as a start.
// Two colours whose channel sums differ by g are at least g * g / 3 apart, so the walk outward
// from c's own sum stops once g * g passes three times the best distance found: nothing farther
// out can be as near.
nearest_entry find_nearest(const filed_palette& palette, const colour& c, nearest_entry best) {
    const int own = brightness_of(c);
    const auto& filed = palette.entries;
    auto up = filed.begin() + static_cast<std::ptrdiff_t>(palette.first_at[static_cast<std::size_t>(own)]);
    auto down = up;
    const auto consider = [&](const filed_entry& e) {
        const int d = distance(e.value, c);
        if (d < best.distance || (d == best.distance && e.index < best.index)) {
            best = {e.index, d};
        }
    };
    bool going_up = up != filed.end();
    bool going_down = down != filed.begin();
    while (going_up || going_down) {
        if (going_up) {
            const int gap = up->brightness - own;
            going_up = gap * gap <= 3 * best.distance;
            if (going_up) {
                consider(*up);
                going_up = ++up != filed.end();
            }
        }
        if (going_down) {
            const int gap = own - std::prev(down)->brightness;
            going_down = gap * gap <= 3 * best.distance;
            if (going_down) {
                consider(*--down);
                going_down = down != filed.begin();
            }
        }
    }
    return best;
}

// Lloyd's refinement: map every colour to its nearest entry, move every entry to the mean of
// its colours, and again, until nothing moves. Returns each colour's entry for the final palette.
std::vector<unsigned char> refine(const std::vector<weighted_colour>& colours, std::vector<colour>& palette) {
    std::vector<unsigned char> nearest(colours.size());
    std::vector<bool> moved(palette.size(), true);
    std::vector<unsigned char> moved_entries;
    for (int round = 0;; ++round) {
        const auto filed = file_palette(palette);
        std::vector<channel_sums> sums(palette.size(), channel_sums{});
        std::vector<std::int64_t> counts(palette.size(), 0);
        for (std::size_t i = 0; i < colours.size(); ++i) {
            const colour& c = colours[i].value;
            nearest_entry found{nearest[i], distance(palette[nearest[i]], c)};
            if (moved[found.index] || moved_entries.size() > few_moved) {
                // The entry nearest last round is likely still near: its distance bounds the search.
                found = find_nearest(filed, c, found);
            } else {
                // Entries that stayed put are no nearer than before; only those that moved may be.
                for (const auto e : moved_entries) {
                    const int d = distance(palette[e], c);
                    if (d < found.distance || (d == found.distance && e < found.index)) {
                        found = {e, d};
                    }
                }
            }
            nearest[i] = found.index;
            for (std::size_t ch = 0; ch < 3; ++ch) {
                sums[found.index][ch] += colours[i].count * c[ch];
            }
            counts[found.index] += colours[i].count;
        }
        if (round == refinement_rounds) {
            return nearest;
        }
        moved_entries.clear();
        for (std::size_t e = 0; e < palette.size(); ++e) {
            // An entry that lost all its colours stays; that is rare in blocks of photographs.
            const colour next = counts[e] > 0 ? rounded_mean(sums[e], counts[e]) : palette[e];
            moved[e] = next != palette[e];
            if (moved[e]) {
                moved_entries.push_back(static_cast<unsigned char>(e));
            }
            palette[e] = next;
        }
        if (moved_entries.empty()) {
            return nearest;
        }
    }
}

// Pixel positions in ascending order of colour (blue, then green, then red): one stable
// counting pass per channel, last channel first.
std::vector<std::size_t> pixels_by_colour(std::span<const colour> pixels) {
    std::vector<std::size_t> order(pixels.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::vector<std::size_t> sorted(pixels.size());
    for (std::size_t ch = 3; ch-- > 0;) {
        std::array<std::size_t, 257> start{};
        for (const auto& p : pixels) {
            ++start[std::size_t{p[ch]} + 1];
        }
        std::partial_sum(start.begin(), start.end(), start.begin());
        for (const auto i : order) {
            sorted[start[pixels[i][ch]]++] = i;
        }
        order.swap(sorted);
    }
    return order;
}

}  // namespace

reduced_colours reduce_colours(std::span<const colour> pixels, std::size_t max_colours) {
    const std::size_t wanted =
        std::clamp<std::size_t>(max_colours, 1, static_cast<std::size_t>(block_geometry::palette_entries));

    // Distinct colours in ascending order, and each pixel's position among them.
    std::vector<weighted_colour> colours;
    std::vector<std::size_t> colour_of_pixel(pixels.size());
    for (const auto pixel : pixels_by_colour(pixels)) {
        if (colours.empty() || colours.back().value != pixels[pixel]) {
            colours.push_back({pixels[pixel], 0});
        }
        ++colours.back().count;
        colour_of_pixel[pixel] = colours.size() - 1;
    }

    reduced_colours result;
    std::vector<unsigned char> entry_of_colour;
    if (colours.size() <= wanted) {
        for (std::size_t i = 0; i < colours.size(); ++i) {
            result.palette.push_back(colours[i].value);
            entry_of_colour.push_back(static_cast<unsigned char>(i));
        }
    } else {
        result.palette = cut_palette(colours, wanted);
        entry_of_colour = refine(colours, result.palette);
    }
    result.indices.reserve(pixels.size());
    for (const auto c : colour_of_pixel) {
        result.indices.push_back(entry_of_colour[c]);
    }
    return result;
}

}  // namespace quorvex
