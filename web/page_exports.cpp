// The functions the page's worker calls. Bytes go in through buffers the worker fills with
// malloc'd space it then hands over; the last result stays here until the next call or
// page_result_release, so the worker can copy it out.

#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "app/messages.h"
#include "conversion/block_geometry.h"
#include "web/core_face.h"

extern "C" {
// Given by the worker's script (web/progress.js): tells the page how far packing is, and hands
// the worker each piece of a bitmap as it is made.
void page_progress(std::size_t done, std::size_t rows);
void page_piece(const unsigned char* bytes, std::size_t size);
}

namespace {

quorvex::face_result last;
quorvex::face_layout guessed;  // the last layout guessed, read by the worker a guess at a time

// Running out of memory anywhere below is the same refusal the programs give.
template <typename Work>
int answered(Work work, std::string_view subject) {
    try {
        last = work();
    } catch (const std::bad_alloc&) {
        last = {};
        last.line = std::string(subject).append(quorvex::pack_messages::no_memory);
    }
    return last.written ? 1 : 0;
}

}  // namespace

extern "C" {

/// Converts `size` tile bytes at `tiles` (kept by the worker for the next layout) at width x
/// height blocks, handing the bitmap to page_piece as it is made; 1 when written.
int page_convert(const unsigned char* tiles, std::size_t size, const char* name, std::int32_t width,
                 std::int32_t height) {
    return answered(
        [&] {
            return quorvex::convert_in_pieces(name, {tiles, size}, width, height,
                                              [](std::span<const unsigned char> piece) { page_piece(piece.data(), piece.size()); });
        },
        name);
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

/// Guesses the layout of `size` tile bytes at `tiles` as quorvex-layout does: the number of
/// layouts found (the best first, then the runners-up; 0 after a refusal). The result's line
/// holds quorvex-layout's lines for it, one to a line.
int page_layout(const unsigned char* tiles, std::size_t size, const char* name) {
    last = {};
    guessed = {};
    try {
        guessed = quorvex::guess_layout_in_memory(name, {tiles, size});
        for (const std::string& line : guessed.lines) last.line.append(last.line.empty() ? "" : "\n").append(line);
    } catch (const std::bad_alloc&) {
        // The edges of a huge file on a small machine: quorvex-layout's words for it.
        guessed = {};
        last.line = std::string(name).append(quorvex::layout_messages::because).append(quorvex::layout_messages::no_memory);
        return 0;
    }
    if (guessed.found.refusal != quorvex::layout_refusal::none) return 0;
    return static_cast<int>(1 + guessed.found.also.size());
}

/// Width and height in blocks of layout `index` of the last guess (0 the best).
std::int32_t page_layout_width(int index) {
    const auto& g = index == 0 ? guessed.found.best : guessed.found.also.at(static_cast<std::size_t>(index - 1));
    return static_cast<std::int32_t>(g.width);
}
std::int32_t page_layout_height(int index) {
    const auto& g = index == 0 ? guessed.found.best : guessed.found.also.at(static_cast<std::size_t>(index - 1));
    return static_cast<std::int32_t>(g.height);
}

/// Says that `size` bytes of `name` could not be had in memory, as the programs say it; 0.
int page_out_of_memory(const char* name) {
    last = {};
    last.line = std::string(name).append(quorvex::pack_messages::no_memory);
    return 0;
}

/// The side of a block in pixels and the bytes of one record, for the page's grid.
int page_block_side() { return quorvex::block_geometry::block_side; }
int page_record_bytes() { return quorvex::block_geometry::record_bytes; }

/// Turns `rows` bitmap rows of `pixels` 3-byte pixels (blue first, the bottom row first) into
/// the canvas's RGBA rows, top first: where the page would spend most of its time in script.
void page_rgba(const unsigned char* bitmap_rows, std::size_t pixels, std::size_t rows, unsigned char* rgba) {
    for (std::size_t y = 0; y < rows; ++y) {
        const unsigned char* from = bitmap_rows + (rows - 1 - y) * pixels * 3;
        unsigned char* to = rgba + y * pixels * 4;
        for (std::size_t x = 0; x < pixels; ++x, from += 3, to += 4) {
            to[0] = from[2];
            to[1] = from[1];
            to[2] = from[0];
            to[3] = 255;
        }
    }
}

/// The same rows made smaller for the canvas: `wide` x `high` RGBA pixels, top first, each the
/// mean of the bitmap pixels it covers, so a large picture is shown without a full-size canvas.
void page_rgba_smaller(const unsigned char* bitmap_rows, std::size_t pixels, std::size_t rows, unsigned char* rgba,
                       std::size_t wide, std::size_t high) {
    for (std::size_t oy = 0; oy < high; ++oy) {
        const std::size_t y0 = oy * rows / high;
        const std::size_t y1 = std::max(y0 + 1, (oy + 1) * rows / high);
        for (std::size_t ox = 0; ox < wide; ++ox) {
            const std::size_t x0 = ox * pixels / wide;
            const std::size_t x1 = std::max(x0 + 1, (ox + 1) * pixels / wide);
            std::uint32_t blue = 0, green = 0, red = 0;
            for (std::size_t y = y0; y < y1; ++y) {
                // Bitmap rows are stored bottom first.
                const unsigned char* from = bitmap_rows + ((rows - 1 - y) * pixels + x0) * 3;
                for (std::size_t x = x0; x < x1; ++x, from += 3) {
                    blue += from[0];
                    green += from[1];
                    red += from[2];
                }
            }
            const auto count = static_cast<std::uint32_t>((y1 - y0) * (x1 - x0));
            unsigned char* to = rgba + (oy * wide + ox) * 4;
            to[0] = static_cast<unsigned char>((red + count / 2) / count);
            to[1] = static_cast<unsigned char>((green + count / 2) / count);
            to[2] = static_cast<unsigned char>((blue + count / 2) / count);
            to[3] = 255;
        }
    }
}

const unsigned char* page_result_bytes() { return last.bytes.data(); }
std::size_t page_result_size() { return last.bytes.size(); }
const char* page_result_line() { return last.line.c_str(); }
void page_result_release() { last = {}; }
}
