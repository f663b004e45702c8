#pragma once

// Every text the program shows or appends, in one place.

#include <ostream>
#include <string_view>

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

/// Writes one message as a whole line and flushes, so it shows at once even in a pipe.
inline void say(std::ostream& out, std::string_view first, std::string_view second = {},
                std::string_view third = {}) {
    out << first << second << third << '\n' << std::flush;
}
