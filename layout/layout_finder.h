#pragma once

// Finding the layout of tile data, which records neither its width nor its height in blocks.
// In a picture cut into blocks, the bottom row of a block continues in the top row of the block
// one row below, `width` records later, and the right column of a block in the left column of
// the next record, except at row ends. The finder is fed the data in chunks of any size, as a
// file is read or as a web page hands bytes over, keeps only each record's edges and ranks
// every width by how well they meet.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "conversion/block_geometry.h"
#include "conversion/picture_signature.h"
#include "layout/record_edges.h"

namespace quorvex {

/// Why find() gave no layout; `none` when it gave one.
enum class layout_refusal {
    none,
    empty,              // no byte at all
    picture,            // starts like a BMP or PNG
    not_whole_records,  // the size is not a whole number of records
    single_record,      // one block has no neighbour to tell by
    too_many_records,   // more than layout_finder::max_records
    cannot_tell,        // no width is clearly better than the others
};

/// `width` x `height` blocks, then `extra` records after the last full block-row.
struct layout_guess {
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::int64_t extra = 0;
    bool operator==(const layout_guess&) const = default;
};

struct layout_result {
    layout_refusal refusal = layout_refusal::none;
    std::int64_t records = 0;
    layout_guess best;               // only when refusal is none
    std::vector<layout_guess> also;  // close runners-up, the closest first; at most three
};

class layout_finder {
public:
    /// The most records kept (a tile file of 5 GiB, 450 bytes of edges each); more are refused.
    static constexpr std::int64_t max_records = std::int64_t{1} << 20;

    /// Takes the next bytes of the tile data. Any chunking of the same bytes finds the same.
    void add(std::span<const unsigned char> bytes);
    /// Ranks every width from 1 to the record count by how well the edges meet, given all the
    /// bytes added so far; see layout_finder.cpp for the rules of "cannot tell" and runners-up.
    [[nodiscard]] layout_result find() const;

private:
    // Apart, so that ranking every width on the greys runs through 65 bytes a record.
    std::vector<edge_colours> colours_;
    std::vector<edge_greys> greys_;
    std::vector<unsigned char> partial_;  // the start of a record not yet whole
    std::vector<unsigned char> first_;    // the first bytes, to tell a picture by
    std::uint64_t size_ = 0;
};

}  // namespace quorvex
