#include "packing/pack_blocks.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <optional>
#include <mutex>
#include <span>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "conversion/block_geometry.h"
#include "packing/pack_like.h"
#include "packing/reduce_colours.h"
#include "packing/standard_fallbacks.h"

namespace quorvex {

namespace {

using block_geometry::palette_bytes;
constexpr std::size_t side = block_geometry::block_side;
constexpr std::size_t pixel_bytes = block_geometry::pixel_bytes;
constexpr std::size_t entry_bytes = block_geometry::palette_entry_bytes;
constexpr std::size_t palette_size = block_geometry::palette_entries;
using record_span = std::span<unsigned char, block_geometry::record_bytes>;

// Eight slots per palette entry keep the probe runs of the colour table short; four
// measured a third slower on blocks of 256 colours, sixteen no faster.
constexpr std::size_t table_slots = 2048;
constexpr int table_bits = 11;
static_assert(table_slots == std::size_t{1} << table_bits);
static_assert(table_slots == 8 * palette_size);

// The colours of one block met so far and their palette entries. A slot holds a colour with a
// mark bit above it, so that zero means free and black is a colour like any other. Probes run
// forward without wrapping round: a block fills at most 257 slots, so past the hashed slots
// there are enough spare ones for any run. Only the slots a block filled are cleared after it.
struct colour_table {
    std::array<std::uint32_t, table_slots + palette_size + 1> keys{};
    std::array<unsigned char, table_slots + palette_size + 1> entries{};
    std::array<std::size_t, palette_size + 1> filled{};
    std::size_t used = 0;

    void clear() {
        for (std::size_t i = 0; i < used; ++i) keys[filled[i]] = 0;
        used = 0;
    }
};

// The colour of the pixel at `pixel` as a table key: its three bytes and a byte of ones, so
// that no key is zero. Four bytes are read at once, the fourth ignored, so a byte must follow
// the pixel. The same colour gives the same key; which number that is depends on the byte
// order, and nothing but the table sees it.
std::uint32_t colour_key(const unsigned char* pixel) {
    std::uint32_t four = 0;
    std::memcpy(&four, pixel, sizeof four);
    return four | (std::endian::native == std::endian::little ? 0xFF000000U : 0xFFU);
}

// The same for a pixel that may be the last byte of its buffer: the last of a block's row.
std::uint32_t last_colour_key(const unsigned char* pixel) {
    const std::array<unsigned char, 4> four{pixel[0], pixel[1], pixel[2], 0};
    return colour_key(four.data());
}

// The pixels of the block of `pixels` whose left edge is pixel column `left`, row by row, as
// colours; blue is byte `blue` of a pixel. Fixed when compiled, so that the copy is shuffles.
template <std::size_t blue>
void block_colours(const block_row& pixels, std::size_t left, std::vector<colour>& block) {
    auto to = block.begin();
    for (std::size_t y = 0; y < side; ++y) {
        const unsigned char* pixel = pixels.first + static_cast<std::ptrdiff_t>(y) * pixels.row_step + left * pixel_bytes;
        for (std::size_t x = 0; x < side; ++x, pixel += pixel_bytes, ++to) *to = {pixel[blue], pixel[1], pixel[2 - blue]};
    }
}

// The block's colours did not fit a palette: all its pixels go to the reduction.
void store_reduced(const block_row& pixels, std::size_t left, record_span record) {
    std::vector<colour> block(block_geometry::index_bytes);
    if (pixels.rgb) {
        block_colours<2>(pixels, left, block);
    } else {
        block_colours<0>(pixels, left, block);
    }
    const reduced_colours reduced = reduce_colours(block, palette_size);
    std::fill(record.begin(), record.end(), 0);
    for (std::size_t entry = 0; entry < reduced.palette.size(); ++entry) {
        std::copy(reduced.palette[entry].begin(), reduced.palette[entry].end(),
                  record.begin() + static_cast<std::ptrdiff_t>(entry * entry_bytes));
    }
    std::copy(reduced.indices.begin(), reduced.indices.end(), record.begin() + palette_bytes);
}

// The palette entry of the colour `marked` (a colour_key) of the pixel at `pixel`: its own,
// or the next one of `record`'s palette when first met; -1 when the palette is already full.
[[gnu::always_inline]] inline int entry_of(std::uint32_t marked, const unsigned char* pixel, std::size_t blue,
                                          record_span record, colour_table& table) {
    std::size_t slot = (marked * 2654435761U) >> (32 - table_bits);  // Fibonacci hashing
    // Nearly every colour sits in its own slot or the next: the choice between them takes no
    // branch, and only a longer run or a new colour takes the loop.
    slot += table.keys[slot] == marked ? 0U : 1U;
    if (table.keys[slot] != marked) {
        slot -= 1;
        while (table.keys[slot] != marked && table.keys[slot] != 0) ++slot;
        if (table.keys[slot] == 0) {
            if (table.used == palette_size) return -1;
            table.keys[slot] = marked;
            table.entries[slot] = static_cast<unsigned char>(table.used);
            unsigned char* entry = record.data() + table.used * entry_bytes;
            entry[0] = pixel[blue];
            entry[1] = pixel[1];
            entry[2] = pixel[2 - blue];
            table.filled[table.used++] = slot;
        }
    }
    return table.entries[slot];
}

// Fills `record` from the block of `pixels` whose left edge is pixel column `left`: every
// colour gets the next palette entry when first met; past 256 colours the block is reduced,
// and then true is returned.
bool pack_block(const block_row& pixels, std::size_t left, record_span record, colour_table& table) {
    const std::size_t blue = pixels.rgb ? 2 : 0;
    std::fill_n(record.begin(), palette_bytes, 0);
    unsigned char* index = record.data() + palette_bytes;
    const auto reduce = [&] {
        table.clear();
        store_reduced(pixels, left, record);
        return true;
    };
    for (std::size_t y = 0; y < side; ++y) {
        const unsigned char* pixel = pixels.first + static_cast<std::ptrdiff_t>(y) * pixels.row_step + left * pixel_bytes;
        for (std::size_t x = 0; x + 1 < side; ++x, pixel += pixel_bytes) {
            const int entry = entry_of(colour_key(pixel), pixel, blue, record, table);
            if (entry < 0) return reduce();
            *index++ = static_cast<unsigned char>(entry);
        }
        const int entry = entry_of(last_colour_key(pixel), pixel, blue, record, table);
        if (entry < 0) return reduce();
        *index++ = static_cast<unsigned char>(entry);
    }
    table.clear();
    return false;
}

/// What became of one block: how it followed the model, and whether it was reduced.
struct block_outcome {
    likeness like = likeness::no_record;  // without a model no block has a record to follow
    bool reduced = false;
};

// All the work of block `column` of block-row `row`, whose pixels are `pixels`, done on
// whichever thread packs it: after the model's record where there is one, else afresh.
block_outcome pack_one(const block_row& pixels, std::size_t row, std::size_t column, const model_rows* model,
                       record_span record, colour_table& table) {
    block_outcome outcome;
    const std::span<const unsigned char> original =
        model != nullptr ? model->record(row, column) : std::span<const unsigned char>{};
    if (model != nullptr) outcome.like = pack_like(pixels, column, original, record);
    if (packs_afresh(outcome.like)) {
        outcome.reduced = pack_block(pixels, column * side, record, table);
        // A block reduced as it was when the original was made comes out as its record again.
        if (outcome.like == likeness::too_many_colours && std::equal(record.begin(), record.end(), original.begin())) {
            outcome.like = likeness::unchanged;
        }
    }
    return outcome;
}

// Packs blocks on `threads` threads, the calling thread among them, each block into a record
// slot of its own, and hands the records over in block order on the calling thread, which
// alone writes. Each thread keeps one colour table. Blocks are numbered through the picture,
// so that threads go on to the next block-row's blocks while the last of a block-row are
// still being packed: a reduced block costs a hundred times one of a few colours, and
// threads that waited at the end of each block-row for its last blocks left one of two cores
// idle for 8 % of a run on photographs. A thread waits only when every slot holds a record
// not yet written: with a few slots per thread, threads waited and were woken every few
// blocks, which cost as much as packing them.
class packing_crew {
public:
    /// A crew for block-rows of `columns` blocks, following `model` where it is not null.
    packing_crew(unsigned threads, std::size_t columns, const model_rows* model)
        : columns_(columns), model_(model), slots_(std::max<std::size_t>(min_slots, 2 * std::size_t{threads})) {
        for (unsigned t = 1; t < threads; ++t) {
            try {
                workers_.emplace_back([this] { work(); });
            } catch (const std::system_error&) {
                break;  // the system gives no more threads: those there are do the work
            }
        }
    }

    /// Every thread finishes the block it packs, begins no other, and is joined: whatever way
    /// a run ends, no thread reads the pixels or the model once the crew is gone.
    ~packing_crew() {
        {
            const std::lock_guard hold(lock_);
            stopping_ = true;
        }
        wake_workers_.notify_all();
    }

    packing_crew(const packing_crew&) = delete;
    packing_crew& operator=(const packing_crew&) = delete;

    /// Adds the next block-row, whose model records are read by now: its blocks may be begun
    /// at once. At most two block-rows are added and not yet written; `pixels` must stay as
    /// they are until write_row has handed over the block-row's records.
    void add_row(const block_row& pixels) {
        const std::lock_guard hold(lock_);
        // The block-row two before this one, whose place it takes, is written: no thread reads it.
        rows_[rows_added_++ % rows_.size()] = pixels;
        if (workers_waiting_ > 0) wake_workers_.notify_all();
    }

    /// Packs blocks of the first block-row not yet written, and of the one after it where that
    /// is added, and calls `take(record, outcome)` for each block of the first in order, on the
    /// calling thread. When `take` returns false, no further block is taken or begun, and the
    /// call returns false once no thread packs any more. What a block's packing throws (a lack
    /// of memory) is thrown here when its block's turn comes, once no thread packs any more.
    template <typename Take>
    bool write_row(Take take) {
        std::unique_lock hold(lock_);
        std::size_t end = written_ + columns_;
        bool ok = true;
        while (written_ < end) {
            if (ready(written_)) {
                // Every record ready in order is written in one go; their slots are not
                // touched by another thread until they are handed back below.
                std::size_t last = written_;
                while (last < end && last < written_ + slots_.size() && ready(last)) ++last;
                hold.unlock();
                for (std::size_t block = written_; block < last; ++block) {
                    const slot& s = slots_[block % slots_.size()];
                    ok = ok && !s.failed && take(std::span<const unsigned char, block_geometry::record_bytes>(s.record), s.outcome);
                }
                hold.lock();
                for (std::size_t block = written_; block < last; ++block) slots_[block % slots_.size()].ready = false;
                written_ = last;
                if (!ok) {
                    // Finish the blocks begun, of this block-row or the next, begin no more.
                    stopped_ = true;
                    end = next_;
                }
                if (workers_waiting_ > 0) wake_workers_.notify_all();
            } else if (can_begin()) {
                pack_next(hold, own_table_);
            } else {
                caller_waiting_ = true;
                wake_caller_.wait(hold, [this] { return ready(written_); });
                caller_waiting_ = false;
            }
        }
        if (!ok && failure_) std::rethrow_exception(failure_);
        return ok;
    }

private:
    static constexpr std::size_t min_slots = 32;

    struct slot {
        std::array<unsigned char, block_geometry::record_bytes> record;
        block_outcome outcome;
        bool ready = false;
        bool failed = false;  // its packing threw; failure_ holds what
    };

    [[nodiscard]] bool ready(std::size_t block) const { return slots_[block % slots_.size()].ready; }

    // A block is added and left to begin, and its slot is free.
    [[nodiscard]] bool can_begin() const {
        return !stopped_ && next_ < rows_added_ * columns_ && next_ < written_ + slots_.size();
    }

    // Packs the next block with `hold` released meanwhile.
    void pack_next(std::unique_lock<std::mutex>& hold, colour_table& table) {
        const std::size_t block = next_++;
        const std::size_t row = block / columns_;
        slot& s = slots_[block % slots_.size()];
        const block_row pixels = rows_[row % rows_.size()];
        hold.unlock();
        block_outcome outcome;
        std::exception_ptr thrown;
        // What escaped a thread's function would end the program: it goes to the calling thread.
        try {
            outcome = pack_one(pixels, row, block % columns_, model_, s.record, table);
        } catch (...) {
            thrown = std::current_exception();
        }
        hold.lock();
        s.outcome = outcome;
        s.failed = thrown != nullptr;
        if (thrown && !failure_) failure_ = thrown;
        s.ready = true;
        if (caller_waiting_ && block == written_) wake_caller_.notify_one();
    }

    void work() {
        colour_table table;
        std::unique_lock hold(lock_);
        for (;;) {
            if (!stopping_ && !can_begin()) {
                ++workers_waiting_;
                wake_workers_.wait(hold, [this] { return stopping_ || can_begin(); });
                --workers_waiting_;
            }
            if (stopping_) return;
            pack_next(hold, table);
        }
    }

    const std::size_t columns_;     // blocks in a block-row
    const model_rows* const model_;
    std::mutex lock_;
    std::condition_variable wake_workers_;
    std::condition_variable wake_caller_;
    bool stopping_ = false;
    bool stopped_ = false;  // a record could not be taken: no block is begun any more
    bool caller_waiting_ = false;
    unsigned workers_waiting_ = 0;
    std::array<block_row, 2> rows_{};  // block-row r's pixels in rows_[r % 2]
    std::size_t rows_added_ = 0;
    std::size_t next_ = 0;     // the next block to begin, counted through the picture
    std::size_t written_ = 0;  // blocks handed over and done with
    std::vector<slot> slots_;  // block k goes to slot k % size
    colour_table own_table_;   // the calling thread's
    std::exception_ptr failure_;  // the first a block's packing threw
    std::vector<joining_thread> workers_;  // last: stopped and joined before the rest goes
};

// Hands records to the output several at a time: one write of 80 KB costs the system far
// less than sixteen of 5 KB, and a record is larger than the output's own buffer.
class record_writer {
public:
    explicit record_writer(byte_sink& out) : out_(out) { pending_.reserve(held_bytes); }

    /// Adds `record`, writing out those held once there are enough; false when a write failed.
    bool put(std::span<const unsigned char, block_geometry::record_bytes> record) {
        pending_.insert(pending_.end(), record.begin(), record.end());
        return pending_.size() < held_bytes || flush();
    }

    /// Writes out the records held; false when the write failed.
    bool flush() {
        if (ok_ && !pending_.empty() && !out_.write(pending_)) {
            ok_ = false;
            error_ = errno;
        }
        pending_.clear();
        return ok_;
    }

    /// The system's error number of the failed write, kept at once: the threads' hand-over runs
    /// before the failure is reported.
    [[nodiscard]] int error() const { return error_; }

private:
    static constexpr std::size_t held_bytes = 16 * block_geometry::record_bytes;
    byte_sink& out_;
    std::vector<unsigned char> pending_;
    bool ok_ = true;
    int error_ = 0;
};

// A block-row as read, and the system's error number when the read failed.
struct read_row {
    std::optional<block_row> pixels;
    int error = 0;
};

// The block-row to pack next: read on the calling thread, or on a thread of its own while the
// calling thread packs.
class row_ahead {
public:
    /// Reads block-row `index` into `buffer` on the calling thread.
    void read(picture& pic, std::size_t index, std::vector<unsigned char>& buffer) {
        errno = 0;
        // What escaped the reading thread would end the program: take() throws it instead.
        try {
            row_.pixels = read_block_row(pic, index, buffer);
        } catch (...) {
            row_.pixels.reset();
            thrown_ = std::current_exception();
        }
        row_.error = errno;
    }

    /// Reads it on a thread of its own, or on the calling thread when the system gives none.
    void start(picture& pic, std::size_t index, std::vector<unsigned char>& buffer) {
        try {
            reader_ = joining_thread([this, &pic, index, &buffer] { read(pic, index, buffer); });
        } catch (const std::system_error&) {
            read(pic, index, buffer);
        }
    }

    /// The block-row, once read; throws what its reading threw.
    read_row take() {
        if (reader_.joinable()) reader_.join();
        if (thrown_) std::rethrow_exception(std::exchange(thrown_, nullptr));
        return row_;
    }

private:
    read_row row_;
    std::exception_ptr thrown_;
    joining_thread reader_;  // last: joined before the rest goes
};

}  // namespace

pack_result pack_blocks(picture& pic, byte_sink& out, const pack_settings& settings) {
    pack_result result;
    const auto fail = [&result](pack_stage stage) {
        result.failed = stage;
        result.error = errno;
        return result;
    };
    record_writer records(out);
    std::optional<model_rows> model;
    const auto write = [&result, &records, &model](std::span<const unsigned char, block_geometry::record_bytes> record,
                                                   block_outcome outcome) {
        if (outcome.reduced) ++result.reduced;
        if (model) count_likeness(outcome.like, result);
        return records.put(record);
    };
    const std::size_t rows = static_cast<std::size_t>(pic.height) / side;
    const std::size_t columns = static_cast<std::size_t>(pic.width) / side;
    // More threads than blocks in a row would have nothing to do.
    const auto threads = static_cast<unsigned>(std::min<std::size_t>(settings.threads, columns));
    if (settings.model != nullptr) model.emplace(*settings.model, columns, settings.model_bytes);
    // With more than one thread, block-rows are read on a thread of their own: one is written
    // while the next is packed too, and the one after that is read. With one, the calling
    // thread reads each block-row into the one buffer once the one before is written.
    const bool read_ahead = threads > 1;
    std::array<std::vector<unsigned char>, 3> buffers;
    row_ahead ahead;
    // Last: its threads are joined before the buffers and the model they read go.
    packing_crew crew(threads, columns, model ? &*model : nullptr);
    // Makes block-row `index` ready to pack: read (or taken from the reading thread), the
    // model's records of it read, handed to the crew; then starts reading the next one ahead.
    // The stage that failed, errno saying why, or none.
    const auto bring = [&](std::size_t index) {
        if (!read_ahead || index == 0) ahead.read(pic, index, buffers[0]);
        const read_row row = ahead.take();
        if (!row.pixels) {
            errno = row.error;
            return pack_stage::picture;
        }
        if (model && !model->read_next()) return pack_stage::model;
        crew.add_row(*row.pixels);
        if (read_ahead && index + 1 < rows) {
            // The buffer is had here, where a lack of memory ends the run with its line; the
            // reading thread only fills it. Every block-row takes what the first took. It is
            // that of the block-row three before, written by now.
            std::vector<unsigned char>& next = buffers[(index + 1) % buffers.size()];
            next.reserve(buffers[0].capacity());
            ahead.start(pic, index + 1, next);
        }
        return pack_stage::none;
    };
    if (const pack_stage stage = bring(0); stage != pack_stage::none) return fail(stage);
    for (std::size_t index = 0; index < rows; ++index) {
        // Why the next block-row cannot be packed, said once the rows before it are written.
        pack_stage stop = pack_stage::none;
        int stop_error = 0;
        const bool more = index + 1 < rows;
        if (more && read_ahead) {
            stop = bring(index + 1);
            stop_error = errno;
        }
        if (!crew.write_row(write) || !records.flush()) {
            errno = records.error();
            return fail(pack_stage::output);
        }
        if (more && !read_ahead) {
            stop = bring(index + 1);
            stop_error = errno;
        }
        if (settings.progress) settings.progress(index + 1, rows);
        if (stop != pack_stage::none) {
            errno = stop_error;
            return fail(stop);
        }
    }
    // The original's bytes past the picture's records follow, so the output can replace it.
    if (model) {
        errno = 0;
        if (const pack_stage stage = model->copy_rest(out, result.kept); stage != pack_stage::none) return fail(stage);
    }
    return result;
}

}  // namespace quorvex
