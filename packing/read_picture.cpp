#include "packing/read_picture.h"

#include <algorithm>
#include <array>
#include <climits>
#include <limits>
#include <span>

#include "conversion/block_geometry.h"
#include "conversion/file_offsets.h"
#include "packing/picture_limits.h"
#include "packing/refusals.h"

// The PNG decoder is built here and nowhere else, for PNG alone, without file access of its
// own (the caller opens the file). A side past 2^20 pixels is refused before any allocation;
// the decoder also refuses pictures of more than 1 GiB decoded.
#define STBI_NO_STDIO
#define STBI_ONLY_PNG
#define STBI_NO_LINEAR
#define STBI_MAX_DIMENSIONS (1 << 20)
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

namespace quorvex {

namespace {

constexpr int rgb_channels = 3;
constexpr std::array<unsigned char, 8> png_signature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// The signature, then the header chunk: its length, its name, then width and height.
constexpr std::uint64_t png_sizes_end = 24;
constexpr std::uint32_t png_largest_side = STBI_MAX_DIMENSIONS;

std::uint32_t big_endian(std::span<const unsigned char> data, std::size_t at) {
    return std::uint32_t{data[at]} << 24 | std::uint32_t{data[at + 1]} << 16 | std::uint32_t{data[at + 2]} << 8 |
           std::uint32_t{data[at + 3]};
}

int read_bytes(void* file, char* data, int size) {
    return static_cast<int>(std::fread(data, 1, static_cast<std::size_t>(size), static_cast<std::FILE*>(file)));
}

// The decoder skips forward only, within a chunk; a failed seek shows as a short read afterwards.
void skip_bytes(void* file, int count) { (void)std::fseek(static_cast<std::FILE*>(file), count, SEEK_CUR); }

int at_end(void* file) { return std::feof(static_cast<std::FILE*>(file)); }

constexpr stbi_io_callbacks file_callbacks{read_bytes, skip_bytes, at_end};

// The size of `in`, a seekable file, which is left at its start; nothing for a pipe.
std::optional<std::uint64_t> seekable_size(std::FILE* in) {
    if (!seek_to(in, 0, SEEK_END)) return std::nullopt;
    const std::int64_t end = position_of(in);
    if (end < 0 || !seek_to(in, 0)) return std::nullopt;
    return static_cast<std::uint64_t>(end);
}

// What `in` holds, added to `into` until that holds `most` bytes or `in` ends; false on a read error.
bool read_up_to(std::FILE* in, std::vector<unsigned char>& into, std::uint64_t most) {
    std::array<unsigned char, 1 << 16> chunk;
    while (into.size() < most) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), most - into.size()));
        const std::size_t got = std::fread(chunk.data(), 1, want, in);
        into.insert(into.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(got));
        if (got < want) break;
    }
    return std::ferror(in) == 0;
}

// A picture from a pipe, of which only the headers are held so far, is held whole now: up to
// the most bytes a picture of its declared size takes, so that a pipe without end is refused
// in bounded memory. Nothing to do for a file. Empty, or why it is refused.
std::string read_rest(std::FILE* pipe, picture& into) {
    if (pipe == nullptr) return {};
    const std::uint64_t most = picture_limits::largest_file_bytes(into.width, into.height);
    if (!read_up_to(pipe, into.source.whole, most + 1)) return std::string(refusals::unreadable);
    into.source.size = into.source.whole.size();
    if (into.source.size <= most) return {};
    return refusals::text(refusals::more_than, most, refusals::most_a_picture, into.width, refusals::by, into.height,
                          refusals::pixels_takes);
}

bool fits_blocks(std::int64_t width, std::int64_t height) {
    return width > 0 && height > 0 && width % block_geometry::block_side == 0 &&
           height % block_geometry::block_side == 0;
}

picture_problem refuse(picture& into, std::string reason) {
    into.refusal = std::move(reason);
    return picture_problem::refused;
}

// Whether the chunks of the PNG in `source` all lie within it, up to and with its end chunk.
bool png_complete(const picture_source& source) {
    std::uint64_t at = png_signature.size();
    std::array<unsigned char, 8> chunk{};  // its length and name
    while (source.read_at(at, chunk)) {
        at += chunk.size() + std::uint64_t{big_endian(chunk, 0)} + 4;
        if (std::equal(chunk.begin() + 4, chunk.end(), "IEND")) return at <= source.size;
    }
    return false;
}

picture_problem read_png(std::FILE* pipe, picture& into) {
    const picture_source& source = into.source;
    std::array<unsigned char, png_sizes_end> head{};
    if (!source.read_at(0, head)) {
        return refuse(into, refusals::text(refusals::header_cut, png_sizes_end, refusals::bytes_and, source.size,
                                           refusals::present));
    }
    const std::uint32_t width = big_endian(head, 16);
    const std::uint32_t height = big_endian(head, 20);
    if (!std::equal(head.begin() + 12, head.begin() + 16, "IHDR") || width > INT32_MAX || height > INT32_MAX) {
        return refuse(into, std::string(refusals::png_damaged));
    }
    into.width = static_cast<std::int32_t>(width);
    into.height = static_cast<std::int32_t>(height);
    if (std::string refused = picture_limits::size_refusal(width, height); !refused.empty()) return refuse(into, std::move(refused));
    if (!fits_blocks(width, height)) return picture_problem::size_not_in_blocks;
    if (width > png_largest_side || height > png_largest_side) return refuse(into, std::string(refusals::png_too_large));
    if (std::string refused = read_rest(pipe, into); !refused.empty()) return refuse(into, std::move(refused));
    if (!png_complete(source)) return refuse(into, std::string(refusals::png_cut_short));

    int decoded_width = 0;
    int decoded_height = 0;
    int channels = 0;
    if (source.file == nullptr) {
        if (source.whole.size() > INT_MAX) return refuse(into, std::string(refusals::png_too_large));
        into.pixels.reset(stbi_load_from_memory(source.whole.data(), static_cast<int>(source.whole.size()),
                                                &decoded_width, &decoded_height, &channels, rgb_channels));
    } else if (std::fseek(source.file, 0, SEEK_SET) == 0) {
        into.pixels.reset(stbi_load_from_callbacks(&file_callbacks, source.file, &decoded_width, &decoded_height,
                                                   &channels, rgb_channels));
    }
    if (source.file != nullptr && std::ferror(source.file) != 0) return refuse(into, std::string(refusals::unreadable));
    if (!into.pixels) {
        const std::string_view why = stbi_failure_reason() == nullptr ? "" : stbi_failure_reason();
        if (why == "too large") return refuse(into, std::string(refusals::png_too_large));
        if (why == "outofmem") return refuse(into, std::string(refusals::no_memory));
        return refuse(into, std::string(refusals::png_damaged));
    }
    // The second look must agree with the first: the file may have changed in between.
    if (decoded_width != into.width || decoded_height != into.height) {
        into.pixels.reset();
        return refuse(into, std::string(refusals::png_damaged));
    }
    return picture_problem::none;
}

picture_problem read_bmp(std::FILE* pipe, picture& into) {
    if (std::string refused = read_bmp_header(into.source, into.width, into.height, into.bmp); !refused.empty()) {
        return refuse(into, std::move(refused));
    }
    if (std::string refused = picture_limits::size_refusal(into.width, into.height); !refused.empty()) {
        return refuse(into, std::move(refused));
    }
    if (!fits_blocks(into.width, into.height)) return picture_problem::size_not_in_blocks;
    if (std::string refused = read_rest(pipe, into); !refused.empty()) return refuse(into, std::move(refused));
    if (std::string refused = check_bmp_data(into.source, into.width, into.height, into.bmp); !refused.empty()) {
        return refuse(into, std::move(refused));
    }
    return picture_problem::none;
}

// Tells a BMP from a PNG by its first bytes, once `into.source` is set, and reads it; `pipe`
// is where the rest of a picture from a pipe is, or null.
picture_problem read_source(std::FILE* pipe, picture& into) {
    std::array<unsigned char, png_signature.size()> magic{};
    const auto got = static_cast<std::size_t>(std::min<std::uint64_t>(into.source.size, magic.size()));
    if (!into.source.read_at(0, {magic.data(), got})) return refuse(into, std::string(refusals::unreadable));
    if (got >= 2 && magic[0] == 'B' && magic[1] == 'M') return read_bmp(pipe, into);
    if (got == magic.size() && magic == png_signature) return read_png(pipe, into);
    return picture_problem::unreadable;
}

}  // namespace

void decoded_pixels_free::operator()(unsigned char* pixels) const { stbi_image_free(pixels); }

picture_problem read_picture(std::FILE* in, picture& into) {
    into = picture{};
    // A pipe cannot seek: what it holds is read into memory, its headers first, and the rest
    // only once they show a picture of a size within the limits.
    std::FILE* pipe = nullptr;
    if (const std::optional<std::uint64_t> size = seekable_size(in)) {
        into.source.file = in;
        into.source.size = *size;
    } else {
        std::clearerr(in);
        pipe = in;
        if (!read_up_to(in, into.source.whole, bmp_headers_bytes)) return refuse(into, std::string(refusals::unreadable));
        into.source.size = into.source.whole.size();
    }
    return read_source(pipe, into);
}

picture_problem read_picture(std::vector<unsigned char> bytes, picture& into) {
    into = picture{};
    into.source.whole = std::move(bytes);
    into.source.size = into.source.whole.size();
    return read_source(nullptr, into);
}

std::optional<block_row> read_block_row(const picture& pic, std::size_t index, std::vector<unsigned char>& buffer) {
    if (!pic.pixels) return read_bmp_block_row(pic.source, pic.bmp, pic.width, pic.height, index, buffer);
    const auto row_bytes = static_cast<std::ptrdiff_t>(pic.width) * rgb_channels;
    const auto first_row = static_cast<std::ptrdiff_t>(index) * block_geometry::block_side;
    return block_row{pic.pixels.get() + first_row * row_bytes, row_bytes, true};
}

}  // namespace quorvex
