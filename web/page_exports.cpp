// The functions the page's worker calls. Bytes go in through buffers the worker fills with
// malloc'd space it then hands over; the last result stays here until the next call or
// page_result_release, so the worker can copy it out.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <optional>
#include <span>
#include <string_view>

#include "app/messages.h"
#include "conversion/block_geometry.h"
#include "packing/refusals.h"
#include "web/core_face.h"

extern "C" {
// Given by the worker's script (web/progress.js): tells the page how far packing is.
void page_progress(std::size_t done, std::size_t rows);
}

namespace {

quorvex::face_result last;

// Running out of memory anywhere below is the same refusal the programs give.
template <typename Work>
int answered(Work work, std::string_view subject) {
    try {
        last = work();
    } catch (const std::bad_alloc&) {
        last = {};
        last.line = std::string(subject).append(quorvex::refusals::no_memory);
    }
    return last.written ? 1 : 0;
}

}  // namespace

extern "C" {

/// Converts `size` tile bytes at `tiles` (freed here) at width x height blocks; 1 when written.
int page_convert(unsigned char* tiles, std::size_t size, const char* name, std::int32_t width, std::int32_t height) {
    const int written = answered([&] { return quorvex::convert_in_memory(name, {tiles, size}, width, height); }, name);
    std::free(tiles);
    return written;
}

/// Packs the picture's bytes (freed here), following the original's when `original` is not
/// null (freed too); 1 when written.
int page_pack(unsigned char* picture, std::size_t picture_size, const char* picture_name, unsigned char* original,
              std::size_t original_size, const char* original_name) {
    const int written = answered(
        [&] {
            std::vector<unsigned char> bytes(picture, picture + picture_size);
            std::free(picture);
            picture = nullptr;
            std::optional<quorvex::original_tiles> like;
            if (original != nullptr) like = quorvex::original_tiles{original_name, {original, original_size}};
            return quorvex::pack_in_memory(picture_name, std::move(bytes), like, page_progress);
        },
        picture_name);
    std::free(picture);
    std::free(original);
    return written;
}

/// Says that `size` bytes of `name` could not be had in memory, as the programs say it; 0.
int page_out_of_memory(const char* name) {
    last = {};
    last.line = std::string(name).append(quorvex::refusals::no_memory);
    return 0;
}

/// The side of a block in pixels and the bytes of one record, for the page's grid.
int page_block_side() { return quorvex::block_geometry::block_side; }
int page_record_bytes() { return quorvex::block_geometry::record_bytes; }

const unsigned char* page_result_bytes() { return last.bytes.data(); }
std::size_t page_result_size() { return last.bytes.size(); }
const char* page_result_line() { return last.line.c_str(); }
void page_result_release() { last = {}; }
}
