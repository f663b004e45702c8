#pragma once

// Every text the program shows or appends, in one place.

#include <ostream>
#include <string_view>

namespace quorvex {

namespace messages {

inline constexpr std::string_view banner = "Quorvex v1.0 by Velkaran";
inline constexpr std::string_view usage =
    "Usage: quorvex <tisfile> <width in blocks> <height in blocks>\n"
    "Note: one block consists of 64*64 pixels";
inline constexpr std::string_view not_tile_data = " is not a tis file!";
inline constexpr std::string_view cannot_open_output = "Can't open output file: ";
inline constexpr std::string_view output_is_input = " (it is the input file)";
inline constexpr std::string_view converted = "Tis file converted successfully!";
inline constexpr std::string_view conversion_failed = "Conversion failed!";

inline constexpr std::string_view output_extension = ".bmp";

}  // namespace messages

// The texts quorvex-pack adds to the banner.
namespace pack_messages {

inline constexpr std::string_view usage =
    "Usage: quorvex-pack <picture> <tisfile>\n"
    "Note: the picture is a BMP or PNG whose width and height are multiples of 64 pixels";
inline constexpr std::string_view not_a_picture = " is not a BMP or PNG picture!";
inline constexpr std::string_view size_is = " is ";
inline constexpr std::string_view by = " x ";
inline constexpr std::string_view size_must_be = " pixels; width and height must be multiples of 64!";
inline constexpr std::string_view written = "Tis file written: ";
inline constexpr std::string_view blocks_reduced = " blocks, ";
inline constexpr std::string_view reduced_to_256 = " reduced to 256 colours";
inline constexpr std::string_view unchanged = " unchanged, ";
inline constexpr std::string_view changed = " changed, ";
inline constexpr std::string_view next_count = ", ";
inline constexpr std::string_view no_original_record = " with no original record";
inline constexpr std::string_view packing_failed = "Packing failed!";

}  // namespace pack_messages

/// Writes one message as a whole line and flushes, so it shows at once even in a pipe.
inline void say(std::ostream& out, std::string_view first, std::string_view second = {},
                std::string_view third = {}) {
    out << first << second << third << '\n' << std::flush;
}

}  // namespace quorvex
