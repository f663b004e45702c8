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
    "Usage: quorvex-pack [--like <original tisfile>] [--threads N] [--force] [--] <picture> <tisfile>\n"
    "Note: the picture is a BMP or PNG whose width and height are multiples of 64 pixels\n"
    "Note: - as the picture reads standard input, - as the tisfile writes standard output";
// Usage errors: one of these lines, then the usage.
inline constexpr std::string_view unknown_option = "Unknown option: ";
inline constexpr std::string_view needs_value = " needs a value";
inline constexpr std::string_view bad_thread_count = "--threads takes a whole number from 1 up, not: ";
inline constexpr std::string_view missing_both = "Missing the picture and the tisfile";
inline constexpr std::string_view missing_tisfile = "Missing the tisfile";
inline constexpr std::string_view extra_argument = "Extra argument: ";
inline constexpr std::string_view standard_input_twice = "Standard input cannot be both the picture and the original";
// An empty word names no file; the system would answer for "" without saying which.
inline constexpr std::string_view empty_picture_name = "The picture's name is empty";
inline constexpr std::string_view empty_tisfile_name = "The tisfile's name is empty";
inline constexpr std::string_view empty_original_name = "The original's name (--like) is empty";

// The name of "-" as the picture or the original, and as the tisfile.
inline constexpr std::string_view standard_input = "standard input";
inline constexpr std::string_view standard_output = "standard output";
// Between a file's name and the system's reason it could not be read or written.
inline constexpr std::string_view because = ": ";
inline constexpr std::string_view not_a_picture = " is not a BMP or PNG picture!";
// Outputs refused unless --force: a picture the tile data would replace, a terminal.
inline constexpr std::string_view output_is_picture = " is a picture, not tile data; use --force to replace it anyway";
inline constexpr std::string_view output_is_terminal =
    "Tile data is not written to a terminal; use --force to write it anyway";
inline constexpr std::string_view size_is = " is ";
inline constexpr std::string_view by = " x ";
inline constexpr std::string_view size_must_be = " pixels; width and height must be multiples of 64!";
inline constexpr std::string_view packing_failed = "Packing failed: ";
// After the picture's name when the run lacks memory (or threads) anywhere.
inline constexpr std::string_view no_memory = " needs more memory than can be had";
// After the original's name: it is no tile data to follow.
inline constexpr std::string_view original_is_picture = " is a picture, not tile data: --like takes the tile file to follow";
inline constexpr std::string_view original_of = " is not tile data: its ";
inline constexpr std::string_view original_not_records = " bytes are not a whole number of ";
inline constexpr std::string_view original_record_size = "-byte records";
// The reasons when the system gives none: a file that shrank while read, a write refused.
inline constexpr std::string_view ended_early = "it ended early";
inline constexpr std::string_view not_written = "it could not be written";

inline constexpr std::string_view written = "Tis file written: ";
inline constexpr std::string_view blocks = " blocks, ";
inline constexpr std::string_view unchanged = " unchanged, ";
inline constexpr std::string_view changed = " changed, ";
inline constexpr std::string_view reduced_to_256 = " reduced to 256 colours";
inline constexpr std::string_view no_original_record = " with no original record";
inline constexpr std::string_view records_kept = " records after them kept";
inline constexpr std::string_view and_then = ", ";

// The line a long run keeps on a terminal: "Packing: 37 of 150 block-rows, 12.5 a second".
inline constexpr std::string_view progress = "Packing: ";
inline constexpr std::string_view progress_of = " of ";
inline constexpr std::string_view progress_rows = " block-rows, ";
inline constexpr std::string_view progress_rate = " a second";

}  // namespace pack_messages

// The texts quorvex-layout adds to the banner.
namespace layout_messages {

inline constexpr std::string_view usage =
    "Usage: quorvex-layout [--numbers] [--] <tisfile>\n"
    "Note: finds the width and height in blocks that quorvex needs, from how the blocks' edges meet\n"
    "Note: --numbers prints only the width and height; the other lines go to standard error";
inline constexpr std::string_view unknown_option = "Unknown option: ";
inline constexpr std::string_view missing_tisfile = "Missing the tisfile";
inline constexpr std::string_view extra_argument = "Extra argument: ";
// Between a file's name and the system's reason it could not be read.
inline constexpr std::string_view because = ": ";
inline constexpr std::string_view ended_early = "it could not be read to its end";
inline constexpr std::string_view no_memory = "not enough memory to read it";

inline constexpr std::string_view layout = "Layout: ";
inline constexpr std::string_view by = " x ";
inline constexpr std::string_view blocks = " blocks";
inline constexpr std::string_view record_after = ", 1 record after them";
inline constexpr std::string_view and_then = ", ";
inline constexpr std::string_view records_after = " records after them";
// The command that converts it, as a POSIX shell reads it.
inline constexpr std::string_view command = "quorvex ";
inline constexpr std::string_view also_possible = "Also possible: ";

inline constexpr std::string_view is_empty = " is empty: there is no layout to find!";
inline constexpr std::string_view is_picture = " is not a tis file: it starts like a BMP or PNG picture!";
inline constexpr std::string_view not_whole_records = " is not a tis file: its size is not a whole number of records!";
inline constexpr std::string_view single_record = " holds a single record: there is no layout to find!";
inline constexpr std::string_view too_many_records = " holds more records than quorvex-layout reads: ";
inline constexpr std::string_view cannot_tell = "Cannot tell the layout of ";
inline constexpr std::string_view cannot_tell_why = ": no width makes its blocks' edges meet clearly better than the others";

}  // namespace layout_messages

/// Writes one message as a whole line and flushes, so it shows at once even in a pipe.
inline void say(std::ostream& out, std::string_view first, std::string_view second = {},
                std::string_view third = {}) {
    out << first << second << third << '\n' << std::flush;
}

}  // namespace quorvex
