#include "packing/read_png.h"

#include <spng.h>

#include <algorithm>
#include <cerrno>
#include <new>

#include "conversion/block_geometry.h"
#include "packing/refusals.h"

namespace quorvex {

namespace {

constexpr std::size_t rgb_channels = 3;
// Text, colour profiles and unknown chunks are kept by libspng while it decodes, compressed
// ones inflated: a picture's own chunks need far less, a bomb is stopped here.
constexpr std::size_t chunk_bytes_limit = std::size_t{16} << 20;

struct spng_context_free {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};

}  // namespace

struct png_decoding {
    std::unique_ptr<spng_ctx, spng_context_free> ctx;
    std::FILE* in = nullptr;
    std::vector<unsigned char> head;  // read before the decoding began, handed over first
    std::size_t head_used = 0;
    int read_error = 0;  // the system's error number when reading `in` failed
    png_header header;
    std::size_t next_block_row = 0;
    std::vector<unsigned char> whole;  // an interlaced picture, decoded whole
};

void png_decoding_free::operator()(png_decoding* png) const { delete png; }

namespace {

// libspng's reader: the bytes read ahead, then the stream itself, exactly `length` of them.
int read_stream(spng_ctx* /*ctx*/, void* user, void* into, std::size_t length) {
    png_decoding& png = *static_cast<png_decoding*>(user);
    auto* out = static_cast<unsigned char*>(into);
    const std::size_t early = std::min(length, png.head.size() - png.head_used);
    std::copy_n(png.head.begin() + static_cast<std::ptrdiff_t>(png.head_used), early, out);
    png.head_used += early;
    const std::size_t rest = length - early;
    if (rest == 0) return 0;
    // Bytes handed over in memory have no stream after them.
    if (png.in == nullptr) return SPNG_IO_EOF;
    errno = 0;
    if (std::fread(out + early, 1, rest, png.in) == rest) return 0;
    if (std::ferror(png.in) == 0) return SPNG_IO_EOF;
    png.read_error = errno;
    return SPNG_IO_ERROR;
}

// The refusal for libspng's error `error`: every check it makes that is not about the input's
// end, a read, memory or a limit is damage, named as libspng names it.
std::string refusal_of(int error) {
    switch (error) {
        case SPNG_IO_EOF:
        case SPNG_EOF:
            return std::string(refusals::png_cut_short);
        case SPNG_IO_ERROR:
        case SPNG_EIO:
            return std::string(refusals::unreadable);
        case SPNG_EMEM:
            return std::string(refusals::no_memory);
        case SPNG_ECHUNK_LIMITS:
            return std::string(refusals::png_chunks_too_large);
        case SPNG_EOVERFLOW:
        case SPNG_EUSER_WIDTH:
        case SPNG_EUSER_HEIGHT:
            return std::string(refusals::png_too_large);
        default:
            return refusals::text(refusals::png_damaged, spng_strerror(error));
    }
}

std::size_t row_bytes(const png_header& header) { return std::size_t{header.width} * rgb_channels; }

// Decodes the seven passes of an interlaced picture into png.whole; libspng says where each
// row goes. 0 or libspng's error.
int decode_interlaced(png_decoding& png) {
    const std::size_t step = row_bytes(png.header);
    try {
        png.whole.resize(step * png.header.height);
    } catch (const std::bad_alloc&) {
        return SPNG_EMEM;  // on the reading thread: no exception may leave it
    }
    int error = 0;
    do {
        spng_row_info row{};
        error = spng_get_row_info(png.ctx.get(), &row);
        if (error == 0) error = spng_decode_row(png.ctx.get(), png.whole.data() + row.row_num * step, step);
    } while (error == 0);
    return error;
}

}  // namespace

std::string start_png(std::FILE* in, std::span<const unsigned char> head, png_decoder& into, png_header& header) {
    into.reset(new png_decoding{});
    png_decoding& png = *into;
    png.ctx.reset(spng_ctx_new(0));
    if (!png.ctx) return std::string(refusals::no_memory);
    png.in = in;
    png.head.assign(head.begin(), head.end());
    // The sides are judged by the caller, which knows the limits and their texts; libspng's own
    // bound is the format's.
    constexpr std::uint32_t format_largest_side = 0x7FFFFFFF;
    spng_ihdr ihdr{};
    int error = spng_set_image_limits(png.ctx.get(), format_largest_side, format_largest_side);
    if (error == 0) error = spng_set_chunk_limits(png.ctx.get(), chunk_bytes_limit, chunk_bytes_limit);
    if (error == 0) error = spng_set_png_stream(png.ctx.get(), read_stream, &png);
    if (error == 0) error = spng_get_ihdr(png.ctx.get(), &ihdr);
    if (error != 0) return refusal_of(error);
    png.header = {ihdr.width, ihdr.height, ihdr.interlace_method != 0};
    header = png.header;
    return {};
}

std::string begin_png_pixels(png_decoding& png) {
    // Colours as stored: no gamma correction, and tRNS is not applied to anything.
    const int error = spng_decode_image(png.ctx.get(), nullptr, 0, SPNG_FMT_RGB8, SPNG_DECODE_PROGRESSIVE);
    return error == 0 ? std::string() : refusal_of(error);
}

std::optional<block_row> read_png_block_row(png_decoding& png, std::size_t index, std::vector<unsigned char>& buffer,
                                            std::string& refusal) {
    constexpr std::size_t side = block_geometry::block_side;
    const std::size_t step = row_bytes(png.header);
    const std::size_t block_rows = png.header.height / side;
    // The decoder goes forwards only; block-rows come in order from the one packing loop.
    if (index != png.next_block_row || index >= block_rows) return std::nullopt;
    ++png.next_block_row;
    const auto fail = [&png, &refusal](int error) -> std::optional<block_row> {
        // A failed read is the system's to explain, as for a BMP; anything else is the PNG's.
        if (error == SPNG_IO_ERROR) {
            errno = png.read_error;
        } else {
            refusal = refusal_of(error);
        }
        return std::nullopt;
    };
    const bool last = index + 1 == block_rows;
    int error = 0;
    if (png.header.interlaced) {
        if (index == 0 && (error = decode_interlaced(png)) != SPNG_EOI) return fail(error);
    } else {
        try {
            buffer.resize(step * side);
        } catch (const std::bad_alloc&) {
            return fail(SPNG_EMEM);
        }
        for (std::size_t y = 0; y < side; ++y) {
            error = spng_decode_row(png.ctx.get(), buffer.data() + y * step, step);
            // The last row of the picture says so; any other row must not.
            if (error != ((last && y + 1 == side) ? SPNG_EOI : 0)) return fail(error);
        }
    }
    // What follows the pixels must be sound too, through the end chunk: a PNG cut short after
    // its last row is still cut short.
    if (last && (error = spng_decode_chunks(png.ctx.get())) != 0) return fail(error);
    const unsigned char* first =
        png.header.interlaced ? png.whole.data() + index * side * step : buffer.data();
    return block_row{first, static_cast<std::ptrdiff_t>(step), true};
}

}  // namespace quorvex
