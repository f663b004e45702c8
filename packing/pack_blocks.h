#pragma once

#include <cstdint>
#include <functional>

#include "packing/read_picture.h"
#include "streams/byte_sink.h"
#include "streams/byte_source.h"

namespace quorvex {

/// What a run asks of pack_blocks beyond the picture and the output.
struct pack_settings {
    unsigned threads = 1;         // blocks packed at once; 0 counts as 1
    byte_source* model = nullptr; // original tile data to follow block by block, or none
    /// Called after each block-row is written, with the block-rows done and all of them.
    std::function<void(std::size_t done, std::size_t rows)> progress;
    /// The most bytes of the model read: its size when the run began, so that output appended
    /// to it meanwhile is not read back.
    std::uint64_t model_bytes = UINT64_MAX;
};

/// Which file a failed run could not read or write.
enum class pack_stage { none, picture, model, output };

/// How a run ended and what it did to the blocks.
struct pack_result {
    pack_stage failed = pack_stage::none;
    int error = 0;                 // the system's error number for the failure, 0 when it gave none
    std::int64_t reduced = 0;      // blocks of more than 256 colours, reduced to 256
    std::int64_t unchanged = 0;    // with a model: blocks written as the model's record
    std::int64_t changed = 0;      // with a model: blocks that differ from it
    std::int64_t unmodelled = 0;   // with a model: blocks past the model's end
    std::int64_t kept = 0;         // with a model: its whole records past the picture's, copied after them
};

/// Writes the tile records of `pic`, whose sides are multiples of 64, to `out`: block-rows
/// from the top, left to right. A block of at most 256 colours is stored exactly, its palette
/// in order of first appearance (rows top first, left to right), unused entries zero; a block
/// of more colours is reduced to 256. With a model, each block follows the model's record as
/// pack_like says, and the model's bytes past the picture's records follow them. Blocks are
/// packed on `settings.threads` threads, the calling thread among them, which alone writes;
/// the next block-row's blocks begin while a block-row is written, and the block-row after is
/// read on a thread of its own meanwhile (with one thread, all on the calling one, a block-row
/// at a time); the bytes are the same whatever the number. The first
/// failed read or write ends the run; a PNG found damaged on the way leaves pic.refusal saying
/// why. `pic` is read once. Never opens or closes a file. A lack of memory on any thread is
/// thrown on the calling one (std::bad_alloc), once no other thread works.
[[nodiscard]] pack_result pack_blocks(picture& pic, byte_sink& out, const pack_settings& settings = {});

}  // namespace quorvex
