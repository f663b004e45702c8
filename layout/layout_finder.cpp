#include "layout/layout_finder.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace quorvex {

namespace {

constexpr std::size_t record_size = block_geometry::record_bytes;

// The rules, in one place. Costs are taken relative to what two blocks taken at random cost (1).
// A pair meeting at `neutral` of that says nothing; closer pairs count for the width, farther
// ones against it, down to -(worst - neutral), so that a width is not won by pairs alone.
constexpr double neutral = 0.75;
constexpr double worst = 1.5;
// Every width is ranked on the grey edges of at most `sampled` records, then the best
// `finalists` and a single block-row on all the colours of every record.
constexpr std::int64_t sampled = 128;
constexpr std::size_t finalists = 16;
constexpr std::int64_t spread_offsets = 16;  // record distances that stand for "at random"
// A runner-up puts a better block below at least this share of the records where it and the
// best width clearly differ (by `decisive` of the random cost).
constexpr double close_share = 0.4;
constexpr double decisive = 0.25;
constexpr std::size_t most_runners_up = 3;
constexpr std::size_t runner_up_candidates = 8;  // the next best widths, each judged record by record

using index = std::int64_t;

// The costs of one stage: grey edges of a sample of records first, all colours after.
template <class Edges>
struct stage {
    const std::vector<Edges>& records;
    double vertical_base = 0;  // what pairs at random cost, from set_bases
    double horizontal_base = 0;

    const Edges& at(index k) const { return records[static_cast<std::size_t>(k)]; }
    // Record `upper` standing above `lower`, or `one` left of `other`; -1 where an edge is flat.
    int vertical(index upper, index lower) const {
        if (either_flat(at(upper), bottom, at(lower), top)) return -1;
        return edge_distance(at(upper), bottom, at(lower), top);
    }
    int horizontal(index one, index other) const {
        if (either_flat(at(one), right, at(other), left)) return -1;
        return edge_distance(at(one), right, at(other), left);
    }
};

// The records whose pairs are compared: all but the last, or an even spread of them.
std::vector<index> pick_records(index n, index most) {
    std::vector<index> picked;
    const index count = std::min(n - 1, most);
    for (index i = 0; i < count; ++i) picked.push_back(i * (n - 1) / count);
    return picked;
}

// The median cost of pairs that are nearly all no neighbours: records an even spread of
// distances apart; 0 when no pair has a cost.
template <class Edges>
double random_cost(const stage<Edges>& s, const std::vector<index>& picked, bool vertical) {
    const auto n = static_cast<index>(s.records.size());
    std::vector<int> costs;
    for (index j = 0; j < spread_offsets && n > 2; ++j) {
        const index offset = 2 + j * (n - 2) / spread_offsets;
        if (j > 0 && offset == 2 + (j - 1) * (n - 2) / spread_offsets) continue;
        for (const index k : picked) {
            if (k + offset >= n) break;
            const int cost = vertical ? s.vertical(k, k + offset) : s.horizontal(k, k + offset);
            if (cost >= 0) costs.push_back(cost);
        }
    }
    if (costs.empty()) return 0;
    auto middle = costs.begin() + static_cast<std::ptrdiff_t>(costs.size() / 2);
    std::nth_element(costs.begin(), middle, costs.end());
    return *middle;
}

// A pair's cost relative to random pairs, capped.
double relative(int cost, double base) { return std::min(cost / base, worst); }

struct width_score {
    index width = 0;
    double score = 0;  // the evidence for the width: the sum over its pairs
};

// The evidence of each picked record meeting the next one side by side, by record (0 for a
// record not picked or a flat edge), and their sum.
struct side_by_side {
    std::vector<double> evidence;
    double sum = 0;
};

template <class Edges>
side_by_side beside(const stage<Edges>& s, const std::vector<index>& picked) {
    side_by_side found{std::vector<double>(s.records.size(), 0.0)};
    for (const index k : picked) {
        if (const int cost = s.horizontal(k, k + 1); cost >= 0) {
            found.evidence[static_cast<std::size_t>(k)] = neutral - relative(cost, s.horizontal_base);
            found.sum += found.evidence[static_cast<std::size_t>(k)];
        }
    }
    return found;
}

// How well the picked records meet their neighbours at `width`: the one below (`width`
// records on, which may be one of the records after the last full row) and the next one, except
// at a row end. The picked records ascend.
template <class Edges>
width_score score_width(const stage<Edges>& s, const std::vector<index>& picked, const side_by_side& next,
                        index width) {
    const auto n = static_cast<index>(s.records.size());
    width_score w{width, next.sum};
    const double scale = 1 / s.vertical_base;
    for (const index k : picked) {
        if (k + width >= n) break;
        if (const int cost = s.vertical(k, k + width); cost >= 0) w.score += neutral - std::min(cost * scale, worst);
    }
    // The row ends are not side by side: a division per record would cost more than the rest.
    for (index end = width - 1; end < n - 1; end += width) w.score -= next.evidence[static_cast<std::size_t>(end)];
    return w;
}

// Whether `other` is nearly as good a width as `best`, block by block: for each record, is the
// block `other` puts below it as good a match as the one `best` puts there? Only clear
// differences count (`decisive`); `other` is close when it wins at least `close_share` of them,
// or when there are none, as on a pattern that repeats.
// `ours` holds the costs of the best width's pairs by upper record, -1 where not compared.
bool close_to(const stage<edge_colours>& s, const std::vector<int>& ours_by_record, index other) {
    index compared = 0, decided = 0, won = 0;
    for (index k = 0; k + other < static_cast<index>(s.records.size()); ++k) {
        const int ours = ours_by_record[static_cast<std::size_t>(k)];
        if (ours < 0) continue;
        const int theirs = s.vertical(k, k + other);
        if (theirs < 0) continue;
        ++compared;
        const double difference = relative(ours, s.vertical_base) - relative(theirs, s.vertical_base);
        if (std::abs(difference) < decisive) continue;
        ++decided;
        won += difference > 0 ? 1 : 0;
    }
    return compared > 0 && static_cast<double>(won) >= close_share * static_cast<double>(decided);
}

bool better(const width_score& a, const width_score& b) {
    return a.score != b.score ? a.score > b.score : a.width < b.width;
}

layout_guess guess(index n, index width) { return {width, n / width, n % width}; }

// Sets both baselines of a stage; false when no pair of either kind has a cost.
template <class Edges>
bool set_bases(stage<Edges>& s, const std::vector<index>& picked) {
    const double vertical = random_cost(s, picked, true), horizontal = random_cost(s, picked, false);
    if (vertical <= 0 && horizontal <= 0) return false;
    // Where one kind has no pairs to tell by (two or three records), the other stands in.
    s.vertical_base = vertical > 0 ? vertical : horizontal;
    s.horizontal_base = horizontal > 0 ? horizontal : vertical;
    return true;
}

}  // namespace

void layout_finder::add(std::span<const unsigned char> bytes) {
    size_ += bytes.size();
    const std::size_t wanted = std::min(picture_signature_bytes - first_.size(), bytes.size());
    first_.insert(first_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(wanted));
    while (!bytes.empty()) {
        const std::size_t take = std::min(record_size - partial_.size(), bytes.size());
        const bool whole = partial_.empty() && take == record_size;
        if (!whole) partial_.insert(partial_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(take));
        const std::span<const unsigned char> record = whole ? bytes.first(record_size) : std::span(partial_);
        bytes = bytes.subspan(take);
        if (record.size() < record_size) break;
        // Past the limit only the size is counted: find() refuses such data.
        if (static_cast<std::int64_t>(colours_.size()) < max_records) {
            const record_edges edges = reduce_record(record.first<record_size>());
            colours_.push_back(edges.colour);
            greys_.push_back(edges.grey);
        }
        partial_.clear();
    }
}

// Evidence: each pair of edges the width puts together counts for it by how much better than
// two random blocks they meet (`neutral` - relative cost), flat edges not at all. Summing
// rather than averaging lets a width that explains more pairs win, and penalises the random
// pairs of a wrong width, however few.
// Cannot tell: when the best width's evidence is not above 0, that is when its pairs on the
// whole meet no better than `neutral` times random pairs: flat data, noise, identical blocks.
// Runners-up: among the next `runner_up_candidates` widths, one with evidence above 0 and two
// full rows that close_to finds nearly as good, record by record: each multiple of the period
// of a repeating pattern.
layout_result layout_finder::find() const {
    layout_result result;
    const auto n = static_cast<index>(size_ / record_size);
    result.records = n;
    if (size_ == 0) result.refusal = layout_refusal::empty;
    else if (starts_like_picture(first_)) result.refusal = layout_refusal::picture;
    else if (size_ % record_size != 0) result.refusal = layout_refusal::not_whole_records;
    else if (n == 1) result.refusal = layout_refusal::single_record;
    else if (n > max_records) result.refusal = layout_refusal::too_many_records;
    if (result.refusal != layout_refusal::none) return result;
    result.refusal = layout_refusal::cannot_tell;

    // First every width on the grey edges of a sample, unless the sample would be all records.
    std::vector<index> candidates;
    const std::vector<index> sample = pick_records(n, sampled);
    if (n - 1 > sampled) {
        stage<edge_greys> coarse{greys_};
        if (!set_bases(coarse, sample)) return result;
        const side_by_side next = beside(coarse, sample);
        std::vector<width_score> ranked;
        ranked.reserve(static_cast<std::size_t>(n));
        for (index width = 1; width < n; ++width) ranked.push_back(score_width(coarse, sample, next, width));
        const std::size_t kept = std::min(finalists, ranked.size());
        std::partial_sort(ranked.begin(), ranked.begin() + static_cast<std::ptrdiff_t>(kept), ranked.end(), better);
        for (std::size_t i = 0; i < kept; ++i) candidates.push_back(ranked[i].width);
        // A single block-row has no pair below: the greys give it only the side-by-side sum every
        // width starts from, and pairs below whose red and green differ oppositely meet better in
        // grey than in colour, putting other widths above it. So it is scored on every colour too.
        candidates.push_back(n);
    } else {
        for (index width = 1; width <= n; ++width) candidates.push_back(width);
    }

    // Then the candidates on every colour of every record.
    stage<edge_colours> fine{colours_};
    if (!set_bases(fine, sample)) return result;
    const std::vector<index> all = pick_records(n, n);
    const side_by_side next = beside(fine, all);
    std::vector<width_score> ranked(candidates.size());
    std::transform(candidates.begin(), candidates.end(), ranked.begin(),
                   [&](index width) { return score_width(fine, all, next, width); });
    std::sort(ranked.begin(), ranked.end(), better);
    if (ranked.empty() || ranked.front().score <= 0) return result;
    const width_score best = ranked.front();
    result.refusal = layout_refusal::none;
    result.best = guess(n, best.width);
    std::vector<int> ours(static_cast<std::size_t>(n), -1);
    for (index k = 0; k + best.width < n; ++k) ours[static_cast<std::size_t>(k)] = fine.vertical(k, k + best.width);
    const auto last = ranked.begin() + static_cast<std::ptrdiff_t>(std::min(ranked.size(), 1 + runner_up_candidates));
    for (auto w = ranked.begin() + 1; w != last && result.also.size() < most_runners_up; ++w) {
        // A single row with records after it has too few pairs one row apart to judge.
        if (w->score > 0 && 2 * w->width <= n && close_to(fine, ours, w->width)) result.also.push_back(guess(n, w->width));
    }
    return result;
}

}  // namespace quorvex
