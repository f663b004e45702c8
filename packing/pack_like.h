#pragma once

// Packing that follows an original tile file, so that an edit of a few blocks changes only
// their records, and in them only what the edit needs.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

#include "packing/pack_blocks.h"
#include "packing/read_picture.h"

namespace quorvex {

/// The original's records, read in order one block-row at a time; the block-row read before
/// the last is kept too, as its blocks may still be packing while the next ones begin.
class model_rows {
public:
    /// Reads at most `bytes` of `model` from where it stands, for a picture `columns` blocks wide.
    model_rows(byte_source& model, std::size_t columns, std::uint64_t bytes);
    /// Reads the next block-row's records over those of the block-row before the last. False
    /// only when a read fails: an original that ends early simply has no records from there on.
    [[nodiscard]] bool read_next();
    /// Block `column`'s record in block-row `row` (0 at the top), the one read last or the one
    /// before it; empty when the original ended before its last byte. Touches nothing that
    /// read_next changes for another block-row, so other threads may call it meanwhile.
    [[nodiscard]] std::span<const unsigned char> record(std::size_t row, std::size_t column) const;
    /// Copies whatever the original holds past the block-rows read, to its end or its bytes,
    /// to `out`, and counts the whole records copied into `records`. Returns the stage that
    /// failed, or pack_stage::none.
    [[nodiscard]] pack_stage copy_rest(byte_sink& out, std::int64_t& records);

private:
    byte_source& model_;
    std::uint64_t left_;  // bytes it may still read
    std::array<std::vector<unsigned char>, 2> records_;  // block-row r's in records_[r % 2]
    std::array<std::size_t, 2> have_{};                  // the bytes of each read
    std::size_t rows_read_ = 0;
};

/// What following the original did with one block.
enum class likeness {
    unchanged,         // the original's record, byte for byte
    changed,           // the original's record, changed only where the pixels need it
    too_many_colours,  // changed, but more than 256 colours: pack it without the original
    no_record,         // the original ends before this block: pack it without the original
};

/// Packs block `column` of `pixels` into `record` after the original record `model`, unless
/// that is short of a whole record or the block has more than 256 colours, and then leaves
/// `record` to the ordinary packing. Whenever it packs, the record converts back exactly:
///  - a pixel that is the model's pixel there keeps the model's index;
///  - any other pixel takes the lowest entry of its colour in the model's palette;
///  - a colour the palette lacks takes the lowest entry that no pixel uses any longer, which
///    keeps its fourth byte; only when there are not enough of those, pixels of an entry
///    that repeats a lower entry's colour move to that lower entry, highest entries first,
///    until the new colours fit.
[[nodiscard]] likeness pack_like(const block_row& pixels, std::size_t column,
                                 std::span<const unsigned char> model, std::span<unsigned char> record);

/// Counts one block's outcome into `result`'s unchanged, changed and unmodelled blocks.
void count_likeness(likeness outcome, pack_result& result);

/// True when the block is still to be packed without the original.
[[nodiscard]] inline bool packs_afresh(likeness outcome) {
    return outcome == likeness::too_many_colours || outcome == likeness::no_record;
}

}  // namespace quorvex
