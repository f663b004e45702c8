#pragma once

// Why quorvex-pack refuses a picture: each text follows the picture's name on the outcome
// line, as in `edited.bmp is cut short: 4718592 bytes of pixel rows, 2359296 present`.
// Every such text is here and nowhere else.

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace quorvex::refusals {

inline constexpr std::string_view header_cut = " is cut short: its header needs ";
inline constexpr std::string_view table_cut = " is cut short: its colour table needs ";
inline constexpr std::string_view rows_cut = " is cut short: ";
inline constexpr std::string_view of_pixel_rows = " bytes of pixel rows, ";
inline constexpr std::string_view bytes_and = " bytes, ";
inline constexpr std::string_view present = " present";
inline constexpr std::string_view run_length_ends = " is cut short: its run-length data ends before its last row";
inline constexpr std::string_view run_length_past_row = " has run-length data that writes past the end of a row";
inline constexpr std::string_view pixels_at = " has its pixels at byte ";
inline constexpr std::string_view inside_headers = ", inside its headers, which end at byte ";
inline constexpr std::string_view past_end = ", past its end at byte ";
inline constexpr std::string_view unknown_header = " has a header of an unknown size: ";
inline constexpr std::string_view bytes = " bytes";
inline constexpr std::string_view unknown_compression = " has an unknown compression: ";
inline constexpr std::string_view has = " has ";
inline constexpr std::string_view bits_not_allowed = " bits per pixel, which its compression does not allow";
inline constexpr std::string_view planes_not_one = " planes; a picture has 1";
inline constexpr std::string_view no_pixels = " has no pixels: it is ";
inline constexpr std::string_view out_of_range = " has a width or height out of range: ";
inline constexpr std::string_view by = " x ";
inline constexpr std::string_view top_down_run_length = " is top-down and run-length encoded, which a BMP cannot be";
inline constexpr std::string_view too_large = " is too large: ";
inline constexpr std::string_view past_limit = " pixels, past the limit of ";
inline constexpr std::string_view pixels_wide_and = " pixels wide and ";
inline constexpr std::string_view pixels_in_all = " pixels in all";
inline constexpr std::string_view more_than = " is too large: more than ";
inline constexpr std::string_view most_a_picture = " bytes, the most a picture of ";
inline constexpr std::string_view pixels_takes = " pixels takes";
inline constexpr std::string_view too_wide = " is too wide: one block-row of it needs more memory than can be addressed";
inline constexpr std::string_view png_too_large =
    " is too large for a PNG: at most 1048576 pixels wide and high, and 1 GiB decoded when interlaced";
inline constexpr std::string_view png_chunks_too_large =
    " is too large for a PNG: its chunks beside the pixels hold more than 16 MiB or 1000 entries";
inline constexpr std::string_view png_cut_short = " is cut short: its PNG data ends early";
// Followed by the check that failed, as libspng names it: "invalid chunk checksum".
inline constexpr std::string_view png_damaged = " is a damaged PNG: ";
inline constexpr std::string_view no_memory = " needs more memory than can be had";
inline constexpr std::string_view unreadable = " could not be read";
inline constexpr std::string_view spool_failed = " could not be copied to a temporary file to be read";

/// Texts and numbers joined into one refusal.
template <typename... Parts>
std::string text(const Parts&... parts) {
    std::string out;
    const auto add = [&out](const auto& part) {
        if constexpr (std::is_integral_v<std::decay_t<decltype(part)>>) {
            out += std::to_string(part);
        } else {
            out += part;
        }
    };
    (add(parts), ...);
    return out;
}

}  // namespace quorvex::refusals
