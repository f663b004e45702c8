#include "packing/read_picture.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>

#include "conversion/block_geometry.h"
#include "conversion/file_offsets.h"
#include "packing/picture_limits.h"
#include "packing/refusals.h"

namespace quorvex {

namespace {

constexpr std::array<unsigned char, 8> png_signature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// A block-row of a wider PNG would need more than 192 MiB; an interlaced picture is held
// decoded whole, 3 bytes a pixel.
constexpr std::uint32_t png_largest_side = std::uint32_t{1} << 20;
constexpr std::uint64_t png_interlaced_bytes = std::uint64_t{1} << 30;
constexpr std::uint64_t rgb_channels = 3;

// The size of `in`, a seekable file, which is left at its start; nothing for a pipe.
std::optional<std::uint64_t> seekable_size(std::FILE* in) {
    if (!seek_to(in, 0, SEEK_END)) return std::nullopt;
    const std::int64_t end = position_of(in);
    if (end < 0 || !seek_to(in, 0)) return std::nullopt;
    return static_cast<std::uint64_t>(end);
}

bool fits_blocks(std::int64_t width, std::int64_t height) {
    return width > 0 && height > 0 && width % block_geometry::block_side == 0 &&
           height % block_geometry::block_side == 0;
}

picture_problem refuse(picture& into, std::string_view reason) {
    into.refusal = std::string(reason);
    return picture_problem::refused;
}

std::uint32_t big_endian(std::span<const unsigned char> data, std::size_t at) {
    return std::uint32_t{data[at]} << 24 | std::uint32_t{data[at + 1]} << 16 | std::uint32_t{data[at + 2]} << 8 |
           std::uint32_t{data[at + 3]};
}

// Whether the chunks of the PNG in `source` all lie within it, up to and with its end chunk:
// a file cut short is refused before any pixel is decoded, by seeking alone.
bool png_complete(const picture_source& source) {
    std::uint64_t at = png_signature.size();
    std::array<unsigned char, 8> chunk{};  // its length and name
    while (source.read_at(at, chunk)) {
        at += chunk.size() + std::uint64_t{big_endian(chunk, 0)} + 4;
        if (std::equal(chunk.begin() + 4, chunk.end(), "IEND")) return at <= source.size;
    }
    return false;
}

picture_problem read_png(std::FILE* in, std::span<const unsigned char> head, picture& into) {
    png_header header;
    if (const std::string refused = start_png(in, head, into.png, header); !refused.empty()) {
        return refuse(into, refused);
    }
    // libspng refuses sides past 2^31 - 1, so both fit.
    into.width = static_cast<std::int32_t>(header.width);
    into.height = static_cast<std::int32_t>(header.height);
    if (std::string refused = picture_limits::size_refusal(header.width, header.height); !refused.empty()) {
        return refuse(into, refused);
    }
    if (!fits_blocks(into.width, into.height)) return picture_problem::size_not_in_blocks;
    if (header.width > png_largest_side || header.height > png_largest_side ||
        (header.interlaced && std::uint64_t{header.width} * header.height * rgb_channels > png_interlaced_bytes)) {
        return refuse(into, refusals::png_too_large);
    }
    if (into.source.file != nullptr) {
        const std::int64_t decoded_to = position_of(in);
        if (!png_complete(into.source)) return refuse(into, refusals::png_cut_short);
        if (decoded_to < 0 || !seek_to(in, decoded_to)) return refuse(into, refusals::unreadable);
    }
    if (const std::string refused = begin_png_pixels(*into.png); !refused.empty()) return refuse(into, refused);
    return picture_problem::none;
}

// A BMP's rows are stored bottom first, so a pipe's bytes, which come once, are copied to an
// unnamed temporary file and read from there (where the system gives none, as on Windows
// without rights to the drive's root, they are held in memory): until the copy holds `most`
// bytes or the pipe ends. Empty, or why the picture is refused.
std::string spool_up_to(std::FILE* pipe, picture_source& source, std::uint64_t most) {
    // Reading the copy moved its position: what follows goes after what is there.
    if (source.file != nullptr && !seek_to(source.file, 0, SEEK_END)) return std::string(refusals::spool_failed);
    std::vector<unsigned char> chunk(std::size_t{1} << 16);
    bool written = true;
    while (source.size < most) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), most - source.size));
        const std::size_t got = std::fread(chunk.data(), 1, want, pipe);
        if (source.file == nullptr) {
            source.whole.insert(source.whole.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(got));
        } else {
            written = written && std::fwrite(chunk.data(), 1, got, source.file) == got;
        }
        source.size += got;
        if (got < want) break;
    }
    if (std::ferror(pipe) != 0) return std::string(refusals::unreadable);
    if (!written || (source.file != nullptr && std::fflush(source.file) != 0)) {
        return std::string(refusals::spool_failed);
    }
    return {};
}

// A BMP from a pipe, of which only the headers are copied so far, is copied whole now: up to
// the most bytes a picture of its declared size takes, so that a pipe without end is refused
// in bounded time and disk. Nothing to do for a file. Empty, or why it is refused.
std::string spool_rest(std::FILE* pipe, picture& into) {
    if (pipe == nullptr) return {};
    const std::uint64_t most = picture_limits::largest_file_bytes(into.width, into.height);
    if (std::string refused = spool_up_to(pipe, into.source, most + 1); !refused.empty()) return refused;
    if (into.source.size <= most) return {};
    return refusals::text(refusals::more_than, most, refusals::most_a_picture, into.width, refusals::by, into.height,
                          refusals::pixels_takes);
}

picture_problem read_bmp(std::FILE* pipe, picture& into) {
    if (std::string refused = read_bmp_header(into.source, into.width, into.height, into.bmp); !refused.empty()) {
        return refuse(into, refused);
    }
    if (std::string refused = picture_limits::size_refusal(into.width, into.height); !refused.empty()) {
        return refuse(into, refused);
    }
    if (!fits_blocks(into.width, into.height)) return picture_problem::size_not_in_blocks;
    if (std::string refused = spool_rest(pipe, into); !refused.empty()) return refuse(into, refused);
    if (std::string refused = check_bmp_data(into.source, into.width, into.height, into.bmp); !refused.empty()) {
        return refuse(into, refused);
    }
    return picture_problem::none;
}

}  // namespace

void spool_close::operator()(std::FILE* file) const { (void)std::fclose(file); }

picture_problem read_picture(std::FILE* in, picture& into) {
    into = picture{};
    std::array<unsigned char, png_signature.size()> magic{};
    std::size_t got = 0;
    const std::optional<std::uint64_t> size = seekable_size(in);
    if (size) {
        into.source.file = in;
        into.source.size = *size;
        got = static_cast<std::size_t>(std::min<std::uint64_t>(*size, magic.size()));
        if (!into.source.read_at(0, {magic.data(), got})) return refuse(into, refusals::unreadable);
    } else {
        // A pipe: read as it comes, the first bytes to tell what it holds.
        std::clearerr(in);
        got = std::fread(magic.data(), 1, magic.size(), in);
        if (std::ferror(in) != 0) return refuse(into, refusals::unreadable);
    }
    const std::span<const unsigned char> head(magic.data(), got);
    if (got == magic.size() && magic == png_signature) return read_png(in, head, into);
    if (got < 2 || magic[0] != 'B' || magic[1] != 'M') return picture_problem::unreadable;
    if (size) return read_bmp(nullptr, into);
    // From a pipe: its headers first, and the rest only once they show a size within the limits.
    into.spool.reset(std::tmpfile());
    picture_source& source = into.source;
    source.file = into.spool.get();
    source.size = got;
    if (source.file == nullptr) {
        source.whole.assign(head.begin(), head.end());
    } else if (std::fwrite(head.data(), 1, head.size(), source.file) != head.size()) {
        return refuse(into, refusals::spool_failed);
    }
    if (std::string refused = spool_up_to(in, source, bmp_headers_bytes); !refused.empty()) return refuse(into, refused);
    return read_bmp(in, into);
}

picture_problem read_picture(std::vector<unsigned char> bytes, picture& into) {
    into = picture{};
    const std::span<const unsigned char> all(bytes);
    // The PNG decoder is handed every byte at once, as a pipe's first bytes are: no stream follows.
    if (all.size() >= png_signature.size() && std::equal(png_signature.begin(), png_signature.end(), all.begin())) {
        return read_png(nullptr, all, into);
    }
    if (all.size() < 2 || all[0] != 'B' || all[1] != 'M') return picture_problem::unreadable;
    into.source.size = all.size();
    into.source.whole = std::move(bytes);
    return read_bmp(nullptr, into);
}

std::optional<block_row> read_block_row(picture& pic, std::size_t index, std::vector<unsigned char>& buffer) {
    if (!pic.png) return read_bmp_block_row(pic.source, pic.bmp, pic.width, pic.height, index, buffer);
    return read_png_block_row(*pic.png, index, buffer, pic.refusal);
}

}  // namespace quorvex
