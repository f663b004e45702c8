#include "app/run.h"

#include <filesystem>
#include <string>
#include <system_error>

#include "app/block_count.h"
#include "app/files.h"
#include "app/help_and_version.h"
#include "app/messages.h"
#include "app/output_name.h"
#include "conversion/convert_blocks.h"

namespace {

constexpr int exit_converted = 0;
constexpr int exit_answered = 0;
constexpr int exit_failed = 1;

// Same file by name, symbolic link or hard link. A missing output is never the input.
bool is_same_file(const std::string& a, const std::string& b) {
    std::error_code ignored;
    return std::filesystem::equivalent(a, b, ignored);
}

bool is_directory(const std::string& name) {
    std::error_code ignored;
    return std::filesystem::is_directory(name, ignored);
}

}  // namespace

int run(int argc, const char* const* argv, std::ostream& out) {
    say(out, messages::banner);
    if (answered_help_or_version(argc, argv, messages::usage, out)) return exit_answered;
    if (argc < 4) {
        say(out, messages::usage);
        return exit_failed;
    }

    const std::string input_name = argv[1];
    // Some systems open a directory for reading without complaint; it is never tile data.
    const stdio_file input = stdio_file::open(input_name, "rb");
    if (!input || is_directory(input_name)) {
        say(out, input_name, messages::not_tile_data);
        return exit_failed;
    }

    const std::string output_name = make_output_name(input_name);
    // Creating the output would truncate the input before a byte of it was read.
    if (is_same_file(input_name, output_name)) {
        say(out, messages::cannot_open_output, output_name, messages::output_is_input);
        return exit_failed;
    }
    pending_output output = pending_output::create(output_name);
    if (!output) {
        say(out, messages::cannot_open_output, output_name);
        return exit_failed;
    }

    const std::int32_t height = parse_block_count(argv[3]);
    const std::int32_t width = parse_block_count(argv[2]);
    if (!convert_blocks(input.get(), output.get(), width, height) || !output.keep()) {
        say(out, messages::conversion_failed);
        return exit_failed;
    }
    say(out, messages::converted);
    return exit_converted;
}
