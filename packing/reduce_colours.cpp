#include "packing/reduce_colours.h"

#include "conversion/block_geometry.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <numeric>
#include <utility>

#include "packing/standard_fallbacks.h"

namespace quorvex {

// Everything below is integer arithmetic, or doubles only where every value they take is exact
// (see plan_cut_in_doubles), so the result cannot depend on how a processor rounds.

namespace {

// Refinement rounds after the cuts at most; each round only lowers the error. Blocks of
// photographs settle after about six, and later rounds gain next to nothing.
constexpr int refinement_rounds = 16;


// The totals of some pixels: their three channel sums, then their count. 32 bits hold them for
// up to 2^22 pixels, so that adding the totals of one colour is one vector addition.
using bin = std::array<std::int32_t, 4>;

void add_to(bin& to, const bin& from) {
    for (std::size_t k = 0; k < 4; ++k) to[k] += from[k];
}

struct weighted_colour {
    colour value;
    bin totals;  // of the pixels of this colour
};

using channel_sums = std::array<std::int64_t, 3>;

// Compared byte by byte: a library call for three bytes costs more than the comparison.
bool same_colour(const colour& a, const colour& b) { return a[0] == b[0] && a[1] == b[1] && a[2] == b[2]; }

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

// The nearest integer colour to the mean of a set with these totals, which is the best integer
// colour for the set.
colour rounded_mean(const bin& totals) {
    const std::int64_t count = totals[3];
    colour c{};
    for (std::size_t ch = 0; ch < 3; ++ch) {
        c[ch] = static_cast<unsigned char>((2 * std::int64_t{totals[ch]} + count) / (2 * count));
    }
    return c;
}

// One channel value that colours of a run have, and the totals of those colours.
struct value_total {
    int value = 0;
    bin totals{};
};

// Where a run's values of one channel lie, in ascending order, in the shared list of values.
struct value_range {
    std::size_t begin = 0;
    std::size_t end = 0;
};

// A run of colours to be cut in two: those whose channel `axis` is at most `threshold` and the
// rest, which removes `gain` squared error. Only the set matters, never the order in the run.
struct colour_box {
    std::size_t begin = 0;
    std::size_t end = 0;
    bin total{};
    std::array<value_range, 3> values;  // per channel
    std::size_t axis = 0;
    int threshold = 0;
    std::int64_t gain = std::numeric_limits<std::int64_t>::min();
};

// Finds the cut of the box across one channel that removes the most squared error, from the
// totals of its colours at each value of that channel: no sorting.
void plan_cut(const std::vector<value_total>& values, colour_box& box) {
    // In 64 bits from the start: the squares need them, and widening once beats widening each
    // cut's totals.
    const channel_sums total{box.total[0], box.total[1], box.total[2]};
    const std::int64_t count = box.total[3];
    // The best cut so far stays in locals, since stores to the box might alias the values read,
    // and is ranked by what its parts explain: its gain plus the box's own, the same for all.
    std::int64_t best = std::numeric_limits<std::int64_t>::min();
    std::size_t best_axis = 0;
    int best_threshold = 0;
    for (std::size_t axis = 0; axis < 3; ++axis) {
        channel_sums lower{};
        std::int64_t lower_count = 0;
        // No cut above the last value.
        const value_total* const last = values.data() + box.values[axis].end - 1;
        for (const value_total* v = values.data() + box.values[axis].begin; v < last; ++v) {
            for (std::size_t ch = 0; ch < 3; ++ch) lower[ch] += v->totals[ch];
            lower_count += v->totals[3];
            const channel_sums upper{total[0] - lower[0], total[1] - lower[1], total[2] - lower[2]};
            const std::int64_t explained_by_parts = explained(lower, lower_count) + explained(upper, count - lower_count);
            if (explained_by_parts > best) {
                best = explained_by_parts;
                best_axis = axis;
                best_threshold = v->value;
            }
        }
    }
    if (best == std::numeric_limits<std::int64_t>::min()) return;  // one colour: no cut
    box.gain = best - explained(total, count);
    box.axis = best_axis;
    box.threshold = best_threshold;
}

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
// Whether the processor has AVX2, asked once: the cuts and the refinement use it where it is.
bool has_avx2() {
    static const bool avx2 = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return avx2;
}

// Every candidate cut of a box, as plan_cut_in_doubles lists them: a box has at most 256
// values per channel. Held by the caller, as a frame this size would be probed page by page.
struct cut_candidates {
    static constexpr std::size_t most = 3 * 256;
    alignas(32) std::array<bin, most> lower;
    alignas(32) std::array<std::uint32_t, most> by_parts;  // two quotients below 2^31 each
    std::array<int, most> threshold;
};

// Boxes of at most this many pixels, all those of a block, may have their cut found in
// doubles, exactly: their sums are below 2^21, so the squares and their totals, below 2^44,
// are exact, and a quotient a / n, below 2^31, lies at least 1 / n >= 2^-13 from the next
// integer up unless it is one, far more than half the spacing of doubles there: the rounded
// quotient truncates to the exact one, and fits the 32-bit integers vectors convert to.
constexpr std::int32_t exact_in_doubles = std::int32_t{1} << 13;

// The same cut as plan_cut, in two passes: first every candidate's lower part, in the order
// plan_cut meets them, then what each one's parts explain, four at a time in one register,
// and last the first greatest of those, which is the one plan_cut's strict comparison keeps.
// The divider takes one integer quotient at a time; the vector one, four doubles.
__attribute__((target("avx2"))) void plan_cut_in_doubles(const std::vector<value_total>& values, colour_box& box,
                                                         cut_candidates& c) {
    std::array<std::size_t, 3> axis_end{};
    std::size_t candidates = 0;
    for (std::size_t axis = 0; axis < 3; ++axis) {
        bin lower{};
        const value_total* const last = values.data() + box.values[axis].end - 1;
        for (const value_total* v = values.data() + box.values[axis].begin; v < last; ++v, ++candidates) {
            add_to(lower, v->totals);
            c.lower[candidates] = lower;
            c.threshold[candidates] = v->value;
        }
        axis_end[axis] = candidates;
    }
    if (candidates == 0) return;  // one colour: no cut
    const double total_0 = box.total[0];
    const double total_1 = box.total[1];
    const double total_2 = box.total[2];
    const double count = box.total[3];
    for (std::size_t i = 0; i < candidates; ++i) {
        const double lower_0 = c.lower[i][0];
        const double lower_1 = c.lower[i][1];
        const double lower_2 = c.lower[i][2];
        const double lower_count = c.lower[i][3];
        const double upper_0 = total_0 - lower_0;
        const double upper_1 = total_1 - lower_1;
        const double upper_2 = total_2 - lower_2;
        const auto by_lower =
            static_cast<std::int32_t>((lower_0 * lower_0 + lower_1 * lower_1 + lower_2 * lower_2) / lower_count);
        const auto by_upper = static_cast<std::int32_t>((upper_0 * upper_0 + upper_1 * upper_1 + upper_2 * upper_2) /
                                                        (count - lower_count));
        c.by_parts[i] = static_cast<std::uint32_t>(by_lower) + static_cast<std::uint32_t>(by_upper);
    }
    // The greatest in integers, which vectors take too, where doubles' maxima go one by one.
    std::uint32_t best = 0;
    for (std::size_t i = 0; i < candidates; ++i) best = std::max(best, c.by_parts[i]);
    std::size_t chosen = 0;
    while (c.by_parts[chosen] != best) ++chosen;
    const channel_sums total{box.total[0], box.total[1], box.total[2]};
    box.gain = std::int64_t{best} - explained(total, box.total[3]);
    box.axis = chosen < axis_end[0] ? 0 : chosen < axis_end[1] ? 1 : 2;
    box.threshold = c.threshold[chosen];
}

#endif

// Per channel and channel value, the totals of some colours; all zero between uses.
using channel_bins = std::array<std::array<bin, 256>, 3>;

// The totals of colours[begin, end) per value of each channel of `axes`, added to `bins`. The
// channels come as a fixed number of them, so that the loop over them unrolls.
template <std::size_t channels>
void add_to_bins(const std::vector<weighted_colour>& colours, std::size_t begin, std::size_t end,
                 const std::array<std::size_t, channels>& axes, channel_bins& bins) {
    for (std::size_t i = begin; i < end; ++i) {
        const weighted_colour& c = colours[i];
        const bin totals = c.totals;  // a copy the bins cannot alias, held in one register
        for (const std::size_t axis : axes) add_to(bins[axis][c.value[axis]], totals);
    }
}

// Moves the bins of channel `axis` that hold pixels, in ascending order of value, to the end
// of `values`, leaving them zero; returns where they went.
value_range take_bins(std::size_t axis, channel_bins& bins, std::vector<value_total>& values) {
    const std::size_t begin = values.size();
    for (std::size_t v = 0; v < bins[axis].size(); ++v) {
        bin& taken = bins[axis][v];
        if (taken[3] == 0) continue;
        values.push_back({static_cast<int>(v), taken});
        taken = {};
    }
    return {begin, values.size()};
}

// The most entries a palette has.
constexpr std::size_t palette_size_limit = block_geometry::palette_entries;

// Box numbers, below the palette's size, take the low bits of a box's rank.
constexpr auto box_numbers = static_cast<std::int64_t>(palette_size_limit);

// A box's rank among boxes: the greater its gain, the greater, and among equal gains the lower
// its number, as one integer, so that ranking two boxes is one comparison. A gain lies between
// -1 (each part's truncation takes less than 1 from what it explains, and the parts explain at
// least what the box does) and what a set of at most 2^22 pixels explains, below 2^40, so it
// leaves room for the number; a box with no cut ranks below every gain.
std::int64_t box_rank(std::size_t number, std::int64_t gain) {
    const std::int64_t below = box_numbers - 1 - static_cast<std::int64_t>(number);
    return gain == std::numeric_limits<std::int64_t>::min() ? gain + box_numbers + below : gain * box_numbers + below;
}

// Below every box's rank.
constexpr std::int64_t no_box = std::numeric_limits<std::int64_t>::min();

// The number of the box of rank `rank`.
std::size_t numbered_by(std::int64_t rank) {
    return static_cast<std::size_t>(box_numbers - 1 - (rank & (box_numbers - 1)));
}

// The first palette: cut the colour box that gains most until there are `wanted` boxes,
// then take each box's mean. Needs more distinct colours than `wanted`.
//
// A cut box's parts need their totals per channel value. On the channel it is cut across,
// they are the two ends of the box's own. On the others, only the part of fewer colours is
// added up; the other part's totals are the box's less those, written over the box's.
//
// `plan(values, box)` plans a box's cut. Inlined into each build of `cut_and_refine` below.
template <typename Plan>
[[gnu::always_inline]] inline std::vector<colour> cut_palette_with(std::vector<weighted_colour> colours,
                                                                   std::size_t wanted, Plan plan) {
    channel_bins bins{};
    std::vector<value_total> values;
    // The lists of values reach two to three per colour by the last cut: one allocation, not
    // a dozen growths that copy them all.
    values.reserve(3 * colours.size());
    // The smaller part's values on one channel, at most one per channel value, before they
    // join the list.
    std::array<value_total, 256> smaller_values;
    colour_box whole;
    whole.end = colours.size();
    for (const auto& c : colours) add_to(whole.total, c.totals);
    add_to_bins<3>(colours, 0, colours.size(), {0, 1, 2}, bins);
    for (std::size_t axis = 0; axis < 3; ++axis) whole.values[axis] = take_bins(axis, bins, values);
    plan(values, whole);
    std::vector<colour_box> boxes{whole};
    boxes.reserve(wanted);
    // The boxes' ranks in a tree whose every node holds the greater of its two below, so that
    // the root is the greatest: replacing a box's rank takes one maximum per level, with no
    // branch to mispredict, where a heap's sifting branches on every comparison.
    std::array<std::int64_t, 2 * palette_size_limit> ranks;
    ranks.fill(no_box);
    const auto rank = [&ranks](std::size_t number, std::int64_t gain) {
        // The greatest so far stays in a register: read back from the node just written, it
        // would wait on that store at every level.
        std::int64_t greatest = box_rank(number, gain);
        for (std::size_t at = palette_size_limit + number; at > 0; at /= 2) {
            ranks[at] = greatest;
            greatest = std::max(greatest, ranks[at ^ 1]);
        }
    };
    rank(0, whole.gain);
    while (boxes.size() < wanted) {
        // A box of one colour has no cut and the least gain; there is always a box of more.
        const std::size_t chosen = numbered_by(ranks[1]);
        const colour_box split = boxes[chosen];
        const auto cut = std::partition(colours.begin() + static_cast<std::ptrdiff_t>(split.begin),
                                        colours.begin() + static_cast<std::ptrdiff_t>(split.end),
                                        [&split](const weighted_colour& c) {
                                            return c.value[split.axis] <= split.threshold;
                                        });
        const auto middle = static_cast<std::size_t>(cut - colours.begin());
        colour_box lower;
        colour_box upper;
        lower.begin = split.begin;
        lower.end = middle;
        upper.begin = middle;
        upper.end = split.end;
        // Across the cut channel: the values up to the threshold, and the rest.
        const value_range across = split.values[split.axis];
        std::size_t k = across.begin;
        for (; values[k].value <= split.threshold; ++k) add_to(lower.total, values[k].totals);
        for (std::size_t ch = 0; ch < 4; ++ch) upper.total[ch] = split.total[ch] - lower.total[ch];
        lower.values[split.axis] = {across.begin, k};
        upper.values[split.axis] = {k, across.end};
        // Along the other channels: add up the smaller part, subtract it from the box's.
        const bool lower_smaller = middle - split.begin <= split.end - middle;
        colour_box& smaller = lower_smaller ? lower : upper;
        colour_box& larger = lower_smaller ? upper : lower;
        const std::array<std::size_t, 2> others{split.axis == 0 ? 1U : 0U, split.axis == 2 ? 1U : 2U};
        add_to_bins(colours, smaller.begin, smaller.end, others, bins);
        for (const std::size_t axis : others) {
            // The smaller part's values are among the box's, in the same order: one pass over
            // the box's moves the smaller part's bins to the end of the list and leaves the
            // rest in place for the larger part. Every value is written to both parts' lists,
            // and each list's end advances only if the value is in that part: which values a
            // part has is as good as random, and a branch on it costs more than the writes.
            const value_range had = split.values[axis];
            std::size_t taken_count = 0;
            std::size_t kept = had.begin;
            for (std::size_t r = had.begin; r < had.end; ++r) {
                value_total rest = values[r];
                bin& taken = bins[axis][static_cast<std::size_t>(rest.value)];
                smaller_values[taken_count] = {rest.value, taken};
                taken_count += static_cast<std::size_t>(taken[3] > 0);
                for (std::size_t ch = 0; ch < 4; ++ch) rest.totals[ch] -= taken[ch];
                taken = {};
                values[kept] = rest;
                kept += static_cast<std::size_t>(rest.totals[3] > 0);
            }
            larger.values[axis] = {had.begin, kept};
            smaller.values[axis] = {values.size(), values.size() + taken_count};
            values.insert(values.end(), smaller_values.begin(),
                          smaller_values.begin() + static_cast<std::ptrdiff_t>(taken_count));
        }
        plan(values, lower);
        plan(values, upper);
        boxes[chosen] = lower;
        rank(chosen, lower.gain);
        rank(boxes.size(), upper.gain);
        boxes.push_back(upper);
    }
    std::vector<colour> palette(boxes.size());
    std::transform(boxes.begin(), boxes.end(), palette.begin(), [](const colour_box& box) {
        return rounded_mean(box.total);
    });
    return palette;
}

// The nearest-entry search. A key is a squared distance shifted left by 8 with the entry's
// index below it, so the least key is the nearest entry and, among equals, the lowest index.
using search_key = int;

// Farther than every entry: a search from it finds the nearest.
constexpr search_key no_entry = std::numeric_limits<search_key>::max();

// Entries compared at once: the distances to this many come from one plain loop, which the
// compiler turns into vector instructions.
constexpr std::size_t lanes = 8;

// Padding entries lie this far out on every channel: never nearest, and their keys still fit
// an int (3 * 1500 * 1500 < 2^23).
constexpr int far_channel = 1500;
// Beyond every projection of a colour, so that a search stops at the padding; its square
// still fits an int.
constexpr int far_position = 30000;

using direction = std::array<int, 3>;

// Every direction whose components are -1, 0 or 1, up to sign: the entries are ordered along
// the one in which they spread most, so no single channel sum, however equal, defeats the
// search.
constexpr std::array<direction, 13> directions{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 0}, {1, -1, 0},
                                                {1, 0, 1}, {1, 0, -1}, {0, 1, 1}, {0, 1, -1}, {1, 1, 1},
                                                {1, 1, -1}, {1, -1, 1}, {-1, 1, 1}}};

int project(const direction& axis, const colour& c) {
    return axis[0] * int{c[0]} + axis[1] * int{c[1]} + axis[2] * int{c[2]};
}

int squared_length(const direction& axis) { return axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]; }

// The direction along which the entries' projections vary most for their length. A
// projection's sum and sum of squares follow from the entries' sums and sums of products per
// channel pair, taken in one pass: the same integers as summing each direction's projections.
direction widest_direction(const std::vector<colour>& palette) {
    std::array<std::int64_t, 3> sums{};
    std::array<std::array<std::int64_t, 3>, 3> products{};  // products[i][j], j >= i
    for (const auto& c : palette) {
        for (std::size_t i = 0; i < 3; ++i) {
            sums[i] += c[i];
            for (std::size_t j = i; j < 3; ++j) products[i][j] += c[i] * c[j];
        }
    }
    direction widest = directions[0];
    std::int64_t widest_spread = -1;
    int widest_length = 1;
    const auto n = static_cast<std::int64_t>(palette.size());
    for (const auto& axis : directions) {
        std::int64_t sum = 0;
        std::int64_t squares = 0;
        for (std::size_t i = 0; i < 3; ++i) {
            sum += axis[i] * sums[i];
            squares += axis[i] * axis[i] * products[i][i];
            for (std::size_t j = i + 1; j < 3; ++j) squares += 2 * axis[i] * axis[j] * products[i][j];
        }
        // n * variance over the squared length, compared without division.
        const std::int64_t spread = n * squares - sum * sum;
        const int length = squared_length(axis);
        if (spread * widest_length > widest_spread * length) {
            widest = axis;
            widest_spread = spread;
            widest_length = length;
        }
    }
    return widest;
}

// The lowest projection on any of the directions, and how many values projections can take.
constexpr int lowest_position = -255;
constexpr std::size_t positions = 4 * 255 + 1;

// The palette in ascending order along one direction, channel by channel in separate arrays,
// padded with `lanes` far entries at both ends so that every chunk a search reads exists.
struct ordered_palette {
    direction axis{};
    int length = 1;  // the axis's squared length
    std::vector<int> position;
    std::array<std::vector<int>, 3> channel;
    std::vector<int> index;
    // Where the entries at or past a projection start; 16 bits hold it and keep the table small.
    std::array<std::uint16_t, positions> first_at{};
};

// Orders the entries of `palette` listed in `subset`, or all of them when it is empty.
void order_palette(const std::vector<colour>& palette, const direction& axis, ordered_palette& ordered,
                   const std::vector<std::size_t>& subset = {}) {
    const std::size_t count = subset.empty() ? palette.size() : subset.size();
    const auto entry = [&subset](std::size_t i) { return subset.empty() ? i : subset[i]; };
    const std::size_t size = count + 2 * lanes;
    ordered.axis = axis;
    ordered.length = squared_length(axis);
    // Only the padding is written here: every place between is written once below.
    const auto pad = [size](std::vector<int>& list, int low, int high) {
        list.resize(size);
        std::fill_n(list.begin(), lanes, low);
        std::fill_n(list.end() - lanes, lanes, high);
    };
    pad(ordered.position, -far_position, far_position);
    for (auto& ch : ordered.channel) pad(ch, far_channel, far_channel);
    pad(ordered.index, 0, 0);
    // A counting sort on the projection, which also gives first_at: count the entries at each
    // projection, sum the counts up to and including it, and place the entries from the last,
    // each one place before those of its projection placed so far. Equal projections keep the
    // order of their entries. The sums are taken only over the projections the entries span,
    // often a few hundred of the thousand: before those all entries lie ahead, past them none.
    std::array<int, palette_size_limit> level_of{};
    int least = static_cast<int>(positions) - 1;
    int greatest = 0;
    for (std::size_t i = 0; i < count; ++i) {
        level_of[i] = project(axis, palette[entry(i)]) - lowest_position;
        least = std::min(least, level_of[i]);
        greatest = std::max(greatest, level_of[i]);
    }
    least = std::min(least, greatest);  // no entries: a span of one, with none in it
    auto& first_at = ordered.first_at;
    const auto spanned = first_at.begin() + least;
    const auto past = first_at.begin() + greatest + 1;
    std::fill(first_at.begin(), spanned, static_cast<std::uint16_t>(lanes));
    std::fill(spanned, past, 0);
    std::fill(past, first_at.end(), static_cast<std::uint16_t>(lanes + count));
    for (std::size_t i = 0; i < count; ++i) ++first_at[static_cast<std::size_t>(level_of[i])];
    std::size_t below = lanes;
    for (auto at = spanned; at < past; ++at) {
        below += *at;
        *at = static_cast<std::uint16_t>(below);
    }
    for (std::size_t i = count; i-- > 0;) {
        const auto level = static_cast<std::size_t>(level_of[i]);
        const std::size_t place = --first_at[level];
        const std::size_t e = entry(i);
        ordered.position[place] = static_cast<int>(level) + lowest_position;
        for (std::size_t ch = 0; ch < 3; ++ch) ordered.channel[ch][place] = palette[e][ch];
        ordered.index[place] = static_cast<int>(e);
    }
}

// The least of `best` and the keys of the `width` entries of `p` from `from`, but for the key
// `left_out` when `leaving_out`.
template <bool leaving_out, std::size_t width = lanes>
[[gnu::always_inline]] inline search_key chunk_least(const ordered_palette& p, std::size_t from, const std::array<int, 3>& c,
                                                     search_key best, search_key left_out) {
    const int* const channel_0 = p.channel[0].data() + from;
    const int* const channel_1 = p.channel[1].data() + from;
    const int* const channel_2 = p.channel[2].data() + from;
    const int* const index = p.index.data() + from;
    // One loop kept whole, so that the compiler takes the keys as one vector and their least
    // with a few halvings of it, where keys held in an array are compared one by one. Keys are
    // not negative, so the one left out becomes all ones as unsigned: a mask, not a choice,
    // which stays in vectors too.
    auto least = static_cast<unsigned>(best);
#pragma GCC unroll 1
    for (std::size_t i = 0; i < width; ++i) {
        const int d0 = channel_0[i] - c[0];
        const int d1 = channel_1[i] - c[1];
        const int d2 = channel_2[i] - c[2];
        auto key = static_cast<unsigned>((d0 * d0 + d1 * d1 + d2 * d2) << 8 | index[i]);
        if constexpr (leaving_out) key |= 0U - static_cast<unsigned>(key == static_cast<unsigned>(left_out));
        least = std::min(least, key);
    }
    return static_cast<search_key>(least);
}

// The least key of the entries of `p` nearer to `c` than `best` and of `best` itself. Two
// colours whose projections differ by g are at least g * g / length apart, so the walk outward
// from c's own projection stops on each side once g * g passes length times the best distance.
// With `leaving_out`, the key `left_out` does not count.
template <bool leaving_out = false>
[[gnu::always_inline]] inline search_key nearest_key(const ordered_palette& p, const colour& c, search_key best,
                                                     search_key left_out = no_entry) {
    const int own = project(p.axis, c);
    const std::array<int, 3> value{c[0], c[1], c[2]};
    const auto too_far = [&p, &best](int gap) { return gap * gap > p.length * (best >> 8); };
    std::size_t up = p.first_at[static_cast<std::size_t>(own - lowest_position)];
    std::size_t down = up;
    if (too_far(std::min(p.position[up] - own, own - p.position[down - 1]))) return best;
    // Most searches read a chunk on each side, so the first reading takes both at once: one
    // least of twice the keys and one test fewer. Where it reaches into the padding, the walk
    // goes on from the padding's edge, which never passes the test.
    best = chunk_least<leaving_out, 2 * lanes>(p, up - lanes, value, best, left_out);
    up = std::min(up + lanes, p.position.size() - lanes);
    down = std::max(down - lanes, lanes);
    // Then the side whose next entry lies nearer in projection goes first; once that one is too
    // far, so is the other.
    for (;;) {
        const int gap_up = p.position[up] - own;
        const int gap_down = own - p.position[down - 1];
        const bool upward = gap_up <= gap_down;
        if (too_far(upward ? gap_up : gap_down)) break;
        best = chunk_least<leaving_out>(p, upward ? up : down - lanes, value, best, left_out);
        up += upward ? lanes : 0;
        down -= upward ? 0 : lanes;
    }
    return best;
}

// What a round knows of each colour and entry, to pass over the colours that keep their entry.
struct keep_test {
    const weighted_colour* colours;
    const unsigned char* entry_of;  // per colour
    const unsigned char* all_keep;  // per entry, as below
    const colour* palette;
    const int* to_rivals;  // per entry, as below
    int* reach;            // per entry, as below
};

// A colour that may be nearer to another entry than to its own: its place and its distance
// to its own.
struct to_search {
    std::uint32_t colour;
    int own_distance;
};

// Lists the colours of [0, n) that may be nearer to another entry than to its own in `found`,
// in order, and returns how many; those that keep their entry raise its reach. A colour of an
// entry that all its colours keep is passed over; any other is written to the list, whose end
// advances only if it is one to search: which ones are is as good as random, and a branch on
// it costs more than the writes. Nothing here reads what the searches change, so they may all
// come after it.
[[gnu::noinline]] std::size_t colours_to_search(const keep_test& t, std::size_t n, to_search* found) {
    std::size_t listed = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t entry = t.entry_of[i];
        if (t.all_keep[entry] != 0) continue;
        const int d = distance(t.palette[entry], t.colours[i].value);
        const bool search = 4 * d >= t.to_rivals[entry];
        t.reach[entry] = std::max(t.reach[entry], search ? 0 : d);  // keeps its entry: see to_rivals
        found[listed] = {static_cast<std::uint32_t>(i), d};
        listed += static_cast<std::size_t>(search);
    }
    return listed;
}

// Colours per entry from which the first round measures the entries' rivals (see refine_with).
// Blocks of photographs with 8 to 16 an entry were reduced faster without; blocks of 4096
// distinct colours took as long either way.
constexpr std::size_t rivals_first_from = 16;

// Lloyd's refinement: map every colour to its nearest entry, move every entry to the mean of
// its colours, and again, until nothing moves. Returns each colour's entry for the final palette.
// Inlined, with the search, into each build of `cut_and_refine` below.
[[gnu::always_inline]] inline std::vector<unsigned char> refine_with(const std::vector<weighted_colour>& colours,
                                                                     std::vector<colour>& palette) {
    std::vector<unsigned char> nearest(colours.size());
    const direction axis = widest_direction(palette);
    // Every entry, and those that moved in the last round. Entries that stayed put are no
    // nearer to a colour than before, so a colour whose own entry stayed put needs only be
    // compared with those that moved.
    ordered_palette everyone;
    ordered_palette movers;
    order_palette(palette, axis, everyone);
    std::vector<unsigned char> has_moved(palette.size(), 1);  // a byte each: read for every colour
    // Per entry, the squared distance to the nearest other entry that may have come nearer to
    // its colours: for one that stayed put, the nearest that moved; for one that moved, the
    // nearest of all. A colour less than half that far from its own entry is nearer to it than
    // to any of those (triangle inequality), so it needs no search at all. For one that stayed
    // put with no mover within four times its reach, only that bound plus one. Zero: unknown.
    std::vector<int> to_rivals(palette.size(), 0);
    // Per entry, the squared distance to the farthest of its colours, or more; and whether all
    // of them keep it by the test above, so that none needs even its distance measured.
    std::vector<int> reach(palette.size(), 0);
    std::vector<unsigned char> all_keep(palette.size(), 0);
    // The totals of each entry's colours, kept up to date as colours change entries: a part of
    // the block's, so they fit a bin, and moving a colour is one vector addition.
    std::vector<bin> sums(palette.size());
    // Whether an entry gained or lost colours since its mean was last taken: if not, its mean
    // stands, and late rounds take few of the divisions a mean costs.
    std::vector<unsigned char> changed(palette.size(), 1);
    // The colours a round searches, listed before it searches any (see colours_to_search).
    // Written before they are read, up to where the listing ends.
    const auto searched = uninitialised_array<to_search>(colours.size());
    const auto move_colour = [&](const weighted_colour& c, std::size_t entry, std::int32_t sign) {
        for (std::size_t k = 0; k < 4; ++k) sums[entry][k] += sign * c.totals[k];
        changed[entry] = 1;
    };
    const auto measure_rivals = [&](std::size_t e) __attribute__((always_inline)) {
        const auto self = static_cast<search_key>(e);  // the key of the entry itself, at distance 0
        to_rivals[e] = nearest_key<true>(everyone, palette[e], no_entry, self) >> 8;
    };
    // The first round, where every entry counts as moved. The colours come in the order of
    // their interleaved keys, near after near, so the entry of the one before is a good guess:
    // a search from it starts with a tight bound, and it is often near enough, by its rivals,
    // to need no search at all. Measuring them first takes a search per entry, which pays only
    // where entries have many colours; without it, every colour is searched from its guess.
    if (colours.size() >= rivals_first_from * palette.size()) {
        for (std::size_t e = 0; e < palette.size(); ++e) measure_rivals(e);
    }
    for (std::size_t i = 0, n = colours.size(), guess = 0; i < n; ++i) {
        const colour& c = colours[i].value;
        int found = distance(palette[guess], c);
        std::size_t entry = guess;
        if (4 * found >= to_rivals[guess]) {
            const search_key key = nearest_key(everyone, c, found << 8 | static_cast<int>(guess));
            entry = static_cast<std::size_t>(key & 255);
            found = key >> 8;
        }
        reach[entry] = std::max(reach[entry], found);
        move_colour(colours[i], entry, 1);
        nearest[i] = static_cast<unsigned char>(entry);
        guess = entry;
    }
    // Had once, for every round: growing it entry by entry each round took a dozen allocations.
    std::vector<std::size_t> moved_entries;
    moved_entries.reserve(palette.size());
    for (int round = 1;; ++round) {
        moved_entries.clear();
        for (std::size_t e = 0; e < palette.size(); ++e) {
            has_moved[e] = 0;
            if (changed[e] == 0) continue;
            changed[e] = 0;
            // An entry that lost all its colours stays; that is rare in blocks of photographs.
            const colour next = sums[e][3] > 0 ? rounded_mean(sums[e]) : palette[e];
            has_moved[e] = same_colour(next, palette[e]) ? 0 : 1;
            if (has_moved[e]) moved_entries.push_back(e);
            palette[e] = next;
        }
        if (moved_entries.empty()) {
            return nearest;
        }
        order_palette(palette, axis, everyone);
        order_palette(palette, axis, movers, moved_entries);
        for (std::size_t e = 0; e < palette.size(); ++e) {
            if (has_moved[e]) {
                measure_rivals(e);
                all_keep[e] = 0;
            } else {
                // Only whether a mover comes within four times the reach matters, and the
                // search stops sooner for knowing it.
                const search_key beyond_reach = (4 * reach[e] + 1) << 8;
                to_rivals[e] = nearest_key(movers, palette[e], beyond_reach) >> 8;
                all_keep[e] = 4 * reach[e] < to_rivals[e] ? 1 : 0;
            }
        }
        // The reach of an entry whose colours all keep it stands; the others' is measured anew.
        for (std::size_t e = 0; e < palette.size(); ++e) reach[e] = all_keep[e] ? reach[e] : 0;
        const keep_test kept{colours.data(), nearest.data(), all_keep.data(),
                             palette.data(), to_rivals.data(), reach.data()};
        const std::size_t listed = colours_to_search(kept, colours.size(), searched.get());
        for (std::size_t k = 0; k < listed; ++k) {
            const std::size_t i = searched[k].colour;
            const colour& c = colours[i].value;
            const search_key own = searched[k].own_distance << 8 | nearest[i];
            const search_key found = nearest_key(has_moved[nearest[i]] ? everyone : movers, c, own);
            const auto entry = static_cast<std::size_t>(found & 255);
            reach[entry] = std::max(reach[entry], found >> 8);
            if (entry != nearest[i]) {
                move_colour(colours[i], nearest[i], -1);
                move_colour(colours[i], entry, 1);
                nearest[i] = static_cast<unsigned char>(entry);
            }
        }
        if (round == refinement_rounds) {
            return nearest;
        }
    }
}

// A palette of `wanted` entries for `colours`, cut then refined, and each colour's entry.
// One body, built twice below.
template <typename Plan>
[[gnu::always_inline]] inline std::vector<unsigned char> cut_and_refine_with(const std::vector<weighted_colour>& colours,
                                                                            std::size_t wanted, Plan plan,
                                                                            std::vector<colour>& palette) {
    palette = cut_palette_with(colours, wanted, plan);
    return refine_with(colours, palette);
}

std::vector<unsigned char> cut_and_refine_portable(const std::vector<weighted_colour>& colours, std::size_t wanted,
                                                   std::vector<colour>& palette) {
    return cut_and_refine_with(colours, wanted, plan_cut, palette);
}

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
// The search is most of the refinement's work. Its eight entries at a time fill one 256-bit
// register, whose multiplications and minima the processors of the last ten years have, where
// the instructions every x86-64 has take several each; the cutting's loops gain too. Same
// integers, same result. Only this build plans cuts in doubles, so only it has room for
// candidates.
__attribute__((target("avx2"))) std::vector<unsigned char> cut_and_refine_avx2(
    const std::vector<weighted_colour>& colours, std::size_t wanted, std::vector<colour>& palette) {
    const auto candidates = uninitialised_array<cut_candidates>(1);
    const auto plan = [&candidates](const std::vector<value_total>& values, colour_box& box) {
        if (box.total[3] <= exact_in_doubles) {
            plan_cut_in_doubles(values, box, candidates[0]);
        } else {
            plan_cut(values, box);
        }
    };
    return cut_and_refine_with(colours, wanted, plan, palette);
}

std::vector<unsigned char> cut_and_refine(const std::vector<weighted_colour>& colours, std::size_t wanted,
                                          std::vector<colour>& palette) {
    return has_avx2() ? cut_and_refine_avx2(colours, wanted, palette) : cut_and_refine_portable(colours, wanted, palette);
}
#else
std::vector<unsigned char> cut_and_refine(const std::vector<weighted_colour>& colours, std::size_t wanted,
                                          std::vector<colour>& palette) {
    return cut_and_refine_portable(colours, wanted, palette);
}
#endif

// A pixel's position takes the low bits of its sort key, below its colour.
constexpr int position_bits = 22;

// Each channel's bits three apart, so that the three channels interleave: colours whose keys
// are near are near on every channel, mostly.
constexpr std::array<std::uint32_t, 256> spread_bits = [] {
    std::array<std::uint32_t, 256> spread{};
    for (std::uint32_t v = 0; v < 256; ++v) {
        for (std::uint32_t bit = 0; bit < 8; ++bit) spread[v] |= (v >> bit & 1U) << (3 * bit);
    }
    return spread;
}();

// A colour's bits interleaved, blue's highest of each three: a key in one to one with the colour.
std::uint64_t interleaved(const colour& c) {
    return std::uint64_t{spread_bits[c[0]] << 2 | spread_bits[c[1]] << 1 | spread_bits[c[2]]};
}

// Each pixel as its colour's interleaved key above its position, in ascending order of key:
// colours near in the list are near in colour, which the cuts and the refinement run through
// faster than an order of blue, then green, then red. One stable counting pass per byte of the
// key, lowest first. The counts of all three come from one reading of the pixels, and the first
// pass makes the keys as it places them (kept in a list they cost more in all). Both lists are
// written in full before they are read, so neither is cleared first.
std::unique_ptr<std::uint64_t[]> pixels_by_colour(std::span<const colour> pixels) {
    std::array<std::array<std::uint32_t, 257>, 3> start{};
    for (const colour& p : pixels) {
        const std::uint64_t key = interleaved(p);
        for (std::size_t d = 0; d < 3; ++d) {
            auto& counts = start[d];
            ++counts[(key >> (8 * d) & 255) + 1U];
        }
    }
    for (auto& at : start) std::partial_sum(at.begin(), at.end(), at.begin());
    auto order = uninitialised_array<std::uint64_t>(pixels.size());
    auto sorted = uninitialised_array<std::uint64_t>(pixels.size());
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const std::uint64_t key = interleaved(pixels[i]);
        order[start[0][key & 255]++] = key << position_bits | i;
    }
    for (std::size_t d = 1; d < 3; ++d) {
        auto& at = start[d];
        const auto shift = static_cast<unsigned>(position_bits) + 8 * static_cast<unsigned>(d);
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            const std::uint64_t key = order[i];
            sorted[at[(key >> shift) & 255]++] = key;
        }
        order.swap(sorted);
    }
    return order;
}

}  // namespace

reduced_colours reduce_colours(std::span<const colour> pixels, std::size_t max_colours) {
    const std::size_t wanted =
        std::clamp<std::size_t>(max_colours, 1, static_cast<std::size_t>(block_geometry::palette_entries));

    // Distinct colours in ascending order of their interleaved keys, and each pixel's place
    // among them.
    // Room for a colour per pixel: each pixel writes its colour to the current place and
    // counts itself there, and the place moves on at a new colour. No branch on it: colours
    // change about as often as they stay.
    std::vector<weighted_colour> colours(pixels.size());
    // Every pixel's place is written below before it is read.
    const auto colour_of_pixel = uninitialised_array<std::uint32_t>(pixels.size());
    const auto by_colour = pixels_by_colour(pixels);
    std::uint64_t last_colour = pixels.empty() ? 0 : by_colour[0] >> position_bits;
    std::size_t distinct = 0;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const std::uint64_t key = by_colour[i];
        const auto pixel = static_cast<std::size_t>(key & ((std::uint64_t{1} << position_bits) - 1));
        distinct += static_cast<std::size_t>(key >> position_bits != last_colour);
        last_colour = key >> position_bits;
        colours[distinct].value = pixels[pixel];
        ++colours[distinct].totals[3];
        colour_of_pixel[pixel] = static_cast<std::uint32_t>(distinct);
    }
    colours.resize(pixels.empty() ? 0 : distinct + 1);
    for (auto& c : colours) {
        for (std::size_t ch = 0; ch < 3; ++ch) c.totals[ch] = c.totals[3] * c.value[ch];
    }

    reduced_colours result;
    std::vector<unsigned char> entry_of_colour;
    if (colours.size() <= wanted) {
        // Every colour is an entry, in ascending order (blue, then green, then red); a sort of
        // at most `wanted` colours, each with its place below its value.
        std::vector<std::uint32_t> ascending(colours.size());
        for (std::size_t i = 0; i < colours.size(); ++i) {
            const colour& c = colours[i].value;
            ascending[i] = (std::uint32_t{c[0]} << 16 | std::uint32_t{c[1]} << 8 | c[2]) << 8 | static_cast<std::uint32_t>(i);
        }
        std::sort(ascending.begin(), ascending.end());
        entry_of_colour = std::vector<unsigned char>(colours.size());
        for (std::size_t e = 0; e < ascending.size(); ++e) {
            const std::uint32_t i = ascending[e] & 255;
            result.palette.push_back(colours[i].value);
            entry_of_colour[i] = static_cast<unsigned char>(e);
        }
    } else {
        entry_of_colour = cut_and_refine(colours, wanted, result.palette);
    }
    result.indices.resize(pixels.size());
    for (std::size_t i = 0; i < pixels.size(); ++i) result.indices[i] = entry_of_colour[colour_of_pixel[i]];
    return result;
}

}  // namespace quorvex
