#include "conversion/block_pixels.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "conversion/block_geometry.h"

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define QUORVEX_HAS_VBMI_PATH 1
#include <immintrin.h>
#else
#define QUORVEX_HAS_VBMI_PATH 0
#endif

namespace quorvex {

namespace {

using namespace block_geometry;

void store_u64(unsigned char* dst, std::uint64_t v) {
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(dst, &v, sizeof v);
    } else {
        for (int i = 0; i < 8; ++i) dst[i] = static_cast<unsigned char>(v >> (8 * i));
    }
}

#if QUORVEX_HAS_VBMI_PATH

constexpr int lanes = 64;  // bytes in one 512-bit register
static_assert(block_side == lanes, "one index row fills one register");
static_assert(block_row_span_bytes == pixel_bytes * lanes);

// Byte selectors, built once at compile time, for 2-register byte permutes (7-bit indices).
using selector = std::array<unsigned char, lanes>;

// Picks channel `channel` of 32 palette entries held in two registers (128 bytes), into
// lanes 0..31 and again into lanes 32..63.
constexpr selector channel_of_entries(int channel) {
    selector s{};
    for (std::size_t i = 0; i < s.size(); ++i) {
        s[i] = static_cast<unsigned char>(static_cast<int>(i % 32) * palette_entry_bytes + channel);
    }
    return s;
}

// Output register `part` of a pixel row holds row bytes 64 * part onwards, as blue, green,
// red per pixel. This selector picks blue (0..63) or green (64..127) by pixel; the red
// bytes, marked by `red_bytes`, are filled in afterwards from the red plane.
constexpr selector from_blue_green(int part) {
    selector s{};
    for (int j = 0; j < lanes; ++j) {
        const int at = lanes * part + j;
        const int pixel = at / pixel_bytes;
        const bool green = at % pixel_bytes == 1;
        s[static_cast<std::size_t>(j)] = static_cast<unsigned char>(green ? lanes + pixel : pixel);
    }
    return s;
}

constexpr selector from_red(int part) {
    selector s{};
    for (int j = 0; j < lanes; ++j) {
        s[static_cast<std::size_t>(j)] = static_cast<unsigned char>((lanes * part + j) / pixel_bytes);
    }
    return s;
}

constexpr std::uint64_t red_bytes(int part) {
    std::uint64_t mask = 0;
    for (int j = 0; j < lanes; ++j) {
        if ((lanes * part + j) % pixel_bytes == 2) mask |= std::uint64_t{1} << j;
    }
    return mask;
}

alignas(64) constexpr std::array<selector, 3> channel_selectors{
    channel_of_entries(0), channel_of_entries(1), channel_of_entries(2)};
alignas(64) constexpr std::array<selector, 3> blue_green_selectors{
    from_blue_green(0), from_blue_green(1), from_blue_green(2)};
alignas(64) constexpr std::array<selector, 3> red_selectors{from_red(0), from_red(1), from_red(2)};
constexpr std::array<std::uint64_t, 3> red_masks{red_bytes(0), red_bytes(1), red_bytes(2)};

// With 512-bit byte permutes a 256-entry lookup is four table registers per channel: the
// palette is split into blue, green and red planes once per block, then each index row is
// looked up 64 indices at a time and woven back into blue, green, red order.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void paint_block_vbmi(
    const unsigned char* palette, const unsigned char* indices, unsigned char* bottom_row,
    std::size_t row_step) {
    __m512i entries[palette_bytes / lanes];
    for (std::size_t i = 0; i < std::size(entries); ++i) {
        entries[i] = _mm512_loadu_si512(palette + lanes * i);
    }

    // plane[c][q] holds channel c of entries 64q to 64q + 63.
    constexpr __mmask64 upper_32_lanes = ~std::uint64_t{0} << 32;
    __m512i plane[pixel_bytes][palette_entries / lanes];
    for (std::size_t c = 0; c < pixel_bytes; ++c) {
        const __m512i pick = _mm512_load_si512(channel_selectors[c].data());
        for (std::size_t q = 0; q < palette_entries / lanes; ++q) {
            const __m512i first = _mm512_permutex2var_epi8(entries[4 * q], pick, entries[4 * q + 1]);
            const __m512i second = _mm512_permutex2var_epi8(entries[4 * q + 2], pick, entries[4 * q + 3]);
            // Both hold their 32 entries twice over; keep the first pair's in the low half.
            plane[c][q] = _mm512_mask_blend_epi8(upper_32_lanes, first, second);
        }
    }

    __m512i weave_blue_green[pixel_bytes];
    __m512i weave_red[pixel_bytes];
    for (std::size_t k = 0; k < pixel_bytes; ++k) {
        weave_blue_green[k] = _mm512_load_si512(blue_green_selectors[k].data());
        weave_red[k] = _mm512_load_si512(red_selectors[k].data());
    }

    for (std::size_t y = 0; y < block_side; ++y) {
        const __m512i index = _mm512_loadu_si512(indices + y * block_side);
        const __mmask64 upper_half = _mm512_movepi8_mask(index);  // index 128 or more
        __m512i channel[pixel_bytes];
        for (std::size_t c = 0; c < pixel_bytes; ++c) {
            const __m512i low = _mm512_permutex2var_epi8(plane[c][0], index, plane[c][1]);
            const __m512i high = _mm512_permutex2var_epi8(plane[c][2], index, plane[c][3]);
            channel[c] = _mm512_mask_blend_epi8(upper_half, low, high);
        }
        // The record's top row is the strip's last row: the bitmap is stored bottom-up.
        unsigned char* dst = bottom_row + (block_side - 1 - y) * row_step;
        for (std::size_t k = 0; k < pixel_bytes; ++k) {
            const __m512i blue_green =
                _mm512_permutex2var_epi8(channel[0], weave_blue_green[k], channel[1]);
            const __m512i pixels =
                _mm512_mask_permutexvar_epi8(blue_green, red_masks[k], weave_red[k], channel[2]);
            _mm512_storeu_si512(dst + lanes * k, pixels);
        }
    }
}

using painter = void (*)(const unsigned char*, const unsigned char*, unsigned char*, std::size_t);

painter fastest_painter() {
    __builtin_cpu_init();
    const bool vbmi = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                      __builtin_cpu_supports("avx512vbmi");
    return vbmi ? paint_block_vbmi : paint_block_portable;
}

#endif

}  // namespace

void paint_block_portable(const unsigned char* palette, const unsigned char* indices,
                          unsigned char* bottom_row, std::size_t row_step) {
    // Each entry packed as blue | green << 8 | red << 16; the unused fourth byte is dropped.
    std::array<std::uint64_t, palette_entries> colour;
    for (std::size_t i = 0; i < colour.size(); ++i) {
        const unsigned char* entry = palette + i * palette_entry_bytes;
        colour[i] = entry[0] | std::uint64_t{entry[1]} << 8 | std::uint64_t{entry[2]} << 16;
    }
    for (std::size_t y = 0; y < block_side; ++y) {
        // The record's top row is the strip's last row: the bitmap is stored bottom-up.
        unsigned char* dst = bottom_row + (block_side - 1 - y) * row_step;
        const unsigned char* src = indices + y * block_side;
        // Eight 3-byte pixels make exactly three 64-bit stores.
        for (std::size_t x = 0; x < block_side; x += 8, dst += 8 * pixel_bytes) {
            const std::uint64_t p0 = colour[src[x]];
            const std::uint64_t p1 = colour[src[x + 1]];
            const std::uint64_t p2 = colour[src[x + 2]];
            const std::uint64_t p3 = colour[src[x + 3]];
            const std::uint64_t p4 = colour[src[x + 4]];
            const std::uint64_t p5 = colour[src[x + 5]];
            const std::uint64_t p6 = colour[src[x + 6]];
            const std::uint64_t p7 = colour[src[x + 7]];
            store_u64(dst, p0 | p1 << 24 | p2 << 48);
            store_u64(dst + 8, p2 >> 16 | p3 << 8 | p4 << 32 | p5 << 56);
            store_u64(dst + 16, p5 >> 8 | p6 << 16 | p7 << 40);
        }
    }
}

void paint_block(const unsigned char* palette, const unsigned char* indices,
                 unsigned char* bottom_row, std::size_t row_step) {
#if QUORVEX_HAS_VBMI_PATH
    static const painter chosen = fastest_painter();
    chosen(palette, indices, bottom_row, row_step);
#else
    paint_block_portable(palette, indices, bottom_row, row_step);
#endif
}

}  // namespace quorvex
