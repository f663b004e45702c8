#include "packing/read_bmp.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <limits>
#include <span>

#include "conversion/block_geometry.h"
#include "conversion/file_offsets.h"
#include "packing/refusals.h"

namespace quorvex {

namespace {

using refusals::text;

constexpr std::uint32_t side = block_geometry::block_side;
constexpr std::uint32_t pixel_bytes = block_geometry::pixel_bytes;
constexpr std::uint64_t file_header_bytes = 14;
constexpr std::uint32_t rle8 = 1;
constexpr std::uint32_t rle4 = 2;
constexpr std::uint32_t masked = 3;
constexpr std::uint32_t masked_with_alpha = 6;

std::uint32_t little_endian(std::span<const unsigned char> data, std::size_t at, std::size_t bytes) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < bytes; ++i) value |= std::uint32_t{data[at + i]} << (8 * i);
    return value;
}

std::uint32_t u16_at(std::span<const unsigned char> data, std::size_t at) { return little_endian(data, at, 2); }
std::uint32_t u32_at(std::span<const unsigned char> data, std::size_t at) { return little_endian(data, at, 4); }
std::int32_t i32_at(std::span<const unsigned char> data, std::size_t at) {
    return static_cast<std::int32_t>(u32_at(data, at));
}

bool is_known_header(std::uint32_t bytes) {
    return bytes == 12 || bytes == 40 || bytes == 52 || bytes == 56 || bytes == 108 || bytes == 124;
}

bool bits_allowed(std::uint32_t compression, std::uint32_t bits, bool core_header) {
    switch (compression) {
        case 0: return bits == 1 || bits == 4 || bits == 8 || bits == 24 || (!core_header && (bits == 16 || bits == 32));
        case rle8: return bits == 8;
        case rle4: return bits == 4;
        default: return bits == 16 || bits == 32;
    }
}

// A masked channel of `value`, scaled to 0..255 and rounded down, as the usual decoders do.
struct channel {
    std::uint32_t mask;
    int shift;
    std::uint32_t top;

    explicit channel(std::uint32_t m)
        : mask(m), shift(m == 0 ? 0 : std::countr_zero(m)), top(m >> shift) {}
    [[nodiscard]] unsigned char of(std::uint32_t value) const {
        if (top == 0) return 0;
        const std::uint64_t level = (value & mask) >> shift;
        return static_cast<unsigned char>(level * 255 / top);
    }
};

// One stored row of an uncompressed BMP as `width` pixels of blue, green, red.
void expand_row(const bmp_layout& layout, const unsigned char* stored, unsigned char* out, std::uint32_t width) {
    if (layout.bits <= 8) {
        const std::uint32_t bits = layout.bits;
        const unsigned index_mask = (1U << bits) - 1;
        for (std::uint32_t x = 0; x < width; ++x, out += pixel_bytes) {
            const std::uint32_t bit = x * bits;
            const unsigned index = (stored[bit / 8] >> (8 - bits - bit % 8)) & index_mask;
            std::copy_n(layout.colours[index].begin(), pixel_bytes, out);
        }
        return;
    }
    if (layout.bits == 24) {
        std::copy_n(stored, std::size_t{width} * pixel_bytes, out);
        return;
    }
    const channel red(layout.masks[0]), green(layout.masks[1]), blue(layout.masks[2]);
    const std::size_t bytes = layout.bits / 8;
    for (std::uint32_t x = 0; x < width; ++x, out += pixel_bytes) {
        const std::uint32_t value = little_endian({stored, bytes * width}, x * bytes, bytes);
        out[0] = blue.of(value);
        out[1] = green.of(value);
        out[2] = red.of(value);
    }
}

// Run-length data, one byte after another from a position, fetched a chunk at a time.
class byte_reader {
public:
    byte_reader(const picture_source& source, std::uint64_t at) : source_(source), at_(at) {}

    // The next byte, or -1 at the end of the data or when a read fails.
    int next() {
        if (used_ == have_ && !refill()) return -1;
        ++at_;
        return chunk_[used_++];
    }
    [[nodiscard]] std::uint64_t position() const { return at_; }
    [[nodiscard]] bool failed() const { return failed_; }

private:
    bool refill() {
        have_ = static_cast<std::size_t>(std::min<std::uint64_t>(chunk_.size(), source_.size - std::min(at_, source_.size)));
        used_ = 0;
        if (have_ == 0) return false;
        failed_ = !source_.read_at(at_, {chunk_.data(), have_});
        if (failed_) have_ = 0;
        return !failed_;
    }

    const picture_source& source_;
    std::uint64_t at_;
    std::array<unsigned char, 4096> chunk_{};
    std::size_t have_ = 0;
    std::size_t used_ = 0;
    bool failed_ = false;
};

enum class walk_end { reached, ends_early, past_row, unreadable };

// Where a walk over run-length data paints: the rows of one block-row, its top row first.
struct paint_target {
    unsigned char* rows = nullptr;  // none: the walk only checks the data
    std::uint32_t top_row = 0;      // the stored row (from the bottom) that is the first here
    std::size_t row_bytes = 0;
};

// Follows run-length data from `pos` until stored row `stop` is reached, or all rows are
// done, painting pixels into `target`. Moves and runs must stay within the picture's rows.
walk_end walk_run_length(byte_reader& in, run_length_start& pos, const bmp_layout& layout, std::uint32_t width,
                         std::uint32_t height, std::uint32_t stop, const paint_target& target) {
    const bool four_bits = layout.compression == rle4;
    const auto put = [&](unsigned index) {
        if (target.rows != nullptr) {
            std::copy_n(layout.colours[index].begin(), pixel_bytes,
                        target.rows + (target.top_row - pos.y) * target.row_bytes + std::size_t{pos.x} * pixel_bytes);
        }
        ++pos.x;
    };
    const auto nibble = [four_bits](int byte, int i) {
        return static_cast<unsigned>(!four_bits ? byte : i % 2 == 0 ? byte >> 4 : byte & 15);
    };
    const auto ended = [&in] { return in.failed() ? walk_end::unreadable : walk_end::ends_early; };
    while (pos.y < stop) {
        const int count = in.next();
        // Data that ends with the last pixel of the last row lacks nothing: writers may leave
        // out the end marks there.
        if (count < 0 && !in.failed() && pos.y + 1 == height && pos.x == width) {
            pos.y = height;
            break;
        }
        const int value = in.next();
        if (value < 0) return ended();
        if (count > 0) {
            if (static_cast<std::uint32_t>(count) > width - pos.x) return walk_end::past_row;
            for (int i = 0; i < count; ++i) put(nibble(value, i));
        } else if (value == 0) {  // the end of a row
            pos.x = 0;
            ++pos.y;
        } else if (value == 1) {  // the end of the bitmap: the pixels not reached keep entry 0
            pos.y = height;
        } else if (value == 2) {  // a move right and up, over pixels that keep entry 0
            const int right = in.next();
            const int up = in.next();
            if (up < 0) return ended();
            if (static_cast<std::uint32_t>(right) > width - pos.x || static_cast<std::uint32_t>(up) > height - pos.y) {
                return walk_end::past_row;
            }
            pos.x += static_cast<std::uint32_t>(right);
            pos.y += static_cast<std::uint32_t>(up);
        } else {  // `value` pixels as they are, padded to a whole number of 16-bit words
            if (static_cast<std::uint32_t>(value) > width - pos.x) return walk_end::past_row;
            for (int i = 0; i < value; i += four_bits ? 2 : 1) {
                const int byte = in.next();
                if (byte < 0) return ended();
                put(nibble(byte, 0));
                if (four_bits && i + 1 < value) put(nibble(byte, 1));
            }
            const int bytes = four_bits ? (value + 1) / 2 : value;
            if (bytes % 2 == 1 && in.next() < 0) return ended();
        }
    }
    return walk_end::reached;
}

std::string refusal_of(walk_end end) {
    switch (end) {
        case walk_end::reached: return {};
        case walk_end::ends_early: return std::string(refusals::run_length_ends);
        case walk_end::past_row: return std::string(refusals::run_length_past_row);
        case walk_end::unreadable: break;
    }
    return std::string(refusals::unreadable);
}

bool is_run_length(const bmp_layout& layout) { return layout.compression == rle8 || layout.compression == rle4; }

}  // namespace

bool picture_source::read_at(std::uint64_t at, std::span<unsigned char> into) const {
    if (at > size || into.size() > size - at) return false;
    if (file == nullptr) {
        std::copy_n(whole.begin() + static_cast<std::ptrdiff_t>(at), into.size(), into.begin());
        return true;
    }
    // An offset here lies within the file, whose size the system gave as a signed 64-bit number.
    return seek_to(file, static_cast<std::int64_t>(at)) && std::fread(into.data(), 1, into.size(), file) == into.size();
}

std::string read_bmp_header(const picture_source& source, std::int32_t& width, std::int32_t& height,
                            bmp_layout& layout) {
    std::array<unsigned char, bmp_headers_bytes> head{};
    const auto got = static_cast<std::size_t>(std::min<std::uint64_t>(source.size, head.size()));
    if (!source.read_at(0, {head.data(), got})) return std::string(refusals::unreadable);
    constexpr std::uint64_t header_size_end = file_header_bytes + 4;
    if (got < header_size_end) return text(refusals::header_cut, header_size_end, refusals::bytes_and, got, refusals::present);
    const std::uint32_t header = u32_at(head, file_header_bytes);
    if (!is_known_header(header)) return text(refusals::unknown_header, header, refusals::bytes);
    const bool core = header == 12;
    layout.compression = core ? 0 : u32_at(head, 30);
    const bool masks_follow = layout.compression == masked || layout.compression == masked_with_alpha;
    const std::uint64_t mask_bytes = header == 40 && masks_follow ? (layout.compression == masked ? 12 : 16) : 0;
    layout.headers_end = file_header_bytes + header + mask_bytes;
    if (got < layout.headers_end) {
        return text(refusals::header_cut, layout.headers_end, refusals::bytes_and, got, refusals::present);
    }

    // A 12-byte header holds unsigned 16-bit sizes; the later ones signed 32-bit sizes, a
    // negative height meaning rows stored top first.
    const std::int64_t stored_width = core ? std::int64_t{u16_at(head, 18)} : i32_at(head, 18);
    const std::int64_t stored_height = core ? std::int64_t{u16_at(head, 20)} : i32_at(head, 22);
    const std::uint32_t planes = u16_at(head, core ? 22 : 26);
    layout.bits = u16_at(head, core ? 24 : 28);
    if (planes != 1) return text(refusals::has, planes, refusals::planes_not_one);
    if (layout.compression > masked_with_alpha || layout.compression == 4 || layout.compression == 5) {
        return text(refusals::unknown_compression, layout.compression);
    }
    if (!bits_allowed(layout.compression, layout.bits, core)) return text(refusals::has, layout.bits, refusals::bits_not_allowed);
    if (stored_width == 0 || stored_height == 0) return text(refusals::no_pixels, stored_width, refusals::by, stored_height);
    if (stored_width < 0 || stored_height == std::numeric_limits<std::int32_t>::min()) {
        return text(refusals::out_of_range, stored_width, refusals::by, stored_height);
    }
    layout.bottom_up = stored_height > 0;
    if (!layout.bottom_up && is_run_length(layout)) return std::string(refusals::top_down_run_length);
    width = static_cast<std::int32_t>(stored_width);
    height = static_cast<std::int32_t>(layout.bottom_up ? stored_height : -stored_height);

    layout.entry_bytes = core ? 3 : 4;
    layout.entries = 0;
    if (layout.bits <= 8) {
        layout.entries = 1U << layout.bits;
        // A colour count of 0 means the whole table.
        if (const std::uint32_t used = core ? 0 : u32_at(head, 46); used != 0) layout.entries = std::min(used, layout.entries);
    }
    if (masks_follow) {
        layout.masks = {u32_at(head, 54), u32_at(head, 58), u32_at(head, 62)};
    } else if (layout.bits == 16) {
        layout.masks = {0x7C00, 0x03E0, 0x001F};
    } else {
        layout.masks = {0xFF0000, 0x00FF00, 0x0000FF};
    }
    layout.row_bytes = (static_cast<std::uint64_t>(width) * layout.bits + 31) / 32 * 4;
    layout.pixels_at = u32_at(head, 10);
    return {};
}

std::string check_bmp_data(const picture_source& source, std::int32_t width, std::int32_t height, bmp_layout& layout) {
    if (layout.pixels_at < layout.headers_end) {
        return text(refusals::pixels_at, layout.pixels_at, refusals::inside_headers, layout.headers_end);
    }
    // The table ends where the pixels begin, however many colours it claims.
    const std::uint64_t table_end =
        std::min(layout.headers_end + std::uint64_t{layout.entries} * layout.entry_bytes, layout.pixels_at);
    if (source.size < table_end) {
        return text(refusals::table_cut, table_end - layout.headers_end, refusals::bytes_and,
                    source.size - std::min(source.size, layout.headers_end), refusals::present);
    }
    if (layout.pixels_at > source.size) return text(refusals::pixels_at, layout.pixels_at, refusals::past_end, source.size);

    std::array<unsigned char, 256 * 4> table{};
    const std::size_t entries = static_cast<std::size_t>(table_end - layout.headers_end) / layout.entry_bytes;
    // A span's first() is checked where the standard library's checks are on: no overrun unseen.
    if (!source.read_at(layout.headers_end, std::span{table}.first(entries * layout.entry_bytes))) {
        return std::string(refusals::unreadable);
    }
    layout.colours = {};
    for (std::size_t i = 0; i < entries; ++i) {
        std::copy_n(table.begin() + static_cast<std::ptrdiff_t>(i * layout.entry_bytes), pixel_bytes, layout.colours[i].begin());
    }

    const auto columns = static_cast<std::uint64_t>(width);
    const auto rows = static_cast<std::uint64_t>(height);
    // One block-row of pixels and one stored row must be addressable at once.
    const std::uint64_t buffer_bytes = columns * pixel_bytes * side + layout.row_bytes;
    if (buffer_bytes > static_cast<std::uint64_t>(std::numeric_limits<std::ptrdiff_t>::max())) {
        return std::string(refusals::too_wide);
    }
    if (!is_run_length(layout)) {
        const std::uint64_t need = layout.row_bytes * rows;
        const std::uint64_t have = source.size - layout.pixels_at;
        if (have < need) return text(refusals::rows_cut, need, refusals::of_pixel_rows, have, refusals::present);
        return {};
    }

    // Rows of run-length data are found only by decoding from the start: one walk records where
    // each block-row begins, until the data ends the bitmap.
    byte_reader in(source, layout.pixels_at);
    run_length_start pos{layout.pixels_at, 0, 0};
    const auto w = static_cast<std::uint32_t>(width);
    const auto h = static_cast<std::uint32_t>(height);
    for (std::uint32_t stop = side; pos.y < h; stop += side) {
        pos.at = in.position();
        layout.starts.push_back(pos);
        if (std::string refused = refusal_of(walk_run_length(in, pos, layout, w, h, std::min(stop, h), {}));
            !refused.empty()) {
            return refused;
        }
    }
    return {};
}

std::optional<block_row> read_bmp_block_row(const picture_source& source, const bmp_layout& layout, std::int32_t width,
                                            std::int32_t height, std::size_t index, std::vector<unsigned char>& buffer) {
    const auto w = static_cast<std::uint32_t>(width);
    const auto h = static_cast<std::uint32_t>(height);
    const std::size_t out_row = std::size_t{w} * pixel_bytes;
    const auto step = static_cast<std::ptrdiff_t>(out_row);
    const auto bottom_block = static_cast<std::uint32_t>(h / side - 1 - index);  // counted from the bottom
    if (is_run_length(layout)) {
        buffer.resize(side * out_row);
        for (std::size_t at = 0; at < buffer.size(); at += pixel_bytes) {
            std::copy_n(layout.colours[0].begin(), pixel_bytes, buffer.begin() + static_cast<std::ptrdiff_t>(at));
        }
        if (bottom_block < layout.starts.size()) {
            run_length_start pos = layout.starts[bottom_block];
            byte_reader in(source, pos.at);
            const paint_target target{buffer.data(), bottom_block * side + side - 1, out_row};
            if (walk_run_length(in, pos, layout, w, h, bottom_block * side + side, target) != walk_end::reached) {
                return std::nullopt;
            }
        }
        return block_row{buffer.data(), step, false};
    }

    // The block-row's stored rows lie together, its bottom row first in a bottom-up file.
    const std::uint64_t stored_block = layout.bottom_up ? std::uint64_t{bottom_block} : std::uint64_t{index};
    const std::uint64_t at = layout.pixels_at + stored_block * side * layout.row_bytes;
    if (layout.bits == 24 && layout.row_bytes == out_row) {
        // As quorvex writes them: the rows are used where they are read.
        buffer.resize(side * out_row);
        if (!source.read_at(at, buffer)) return std::nullopt;
        if (layout.bottom_up) return block_row{buffer.data() + (side - 1) * out_row, -step, false};
        return block_row{buffer.data(), step, false};
    }
    const auto stored_bytes = static_cast<std::size_t>(layout.row_bytes);
    buffer.resize(side * out_row + stored_bytes);
    const std::span<unsigned char> stored{buffer.data() + side * out_row, stored_bytes};
    for (std::size_t i = 0; i < side; ++i) {
        if (!source.read_at(at + i * layout.row_bytes, stored)) return std::nullopt;
        const std::size_t row = layout.bottom_up ? side - 1 - i : i;
        expand_row(layout, stored.data(), buffer.data() + row * out_row, w);
    }
    return block_row{buffer.data(), step, false};
}

}  // namespace quorvex
