#pragma once

// What every front end says the same way: the answers to the two questions, each with its own
// usage text, and why an output could not be had.

#include <ostream>
#include <string_view>

#include "app/files.h"
#include "app/messages.h"

namespace quorvex {

/// After the banner: a lone `--help` or `-h` is answered with `usage`, a lone `--version` or
/// `-V` by the banner alone. True when answered (exit status 0); any other call gets false.
[[nodiscard]] inline bool answered_help_or_version(int argc, const char* const* argv,
                                                   std::string_view usage, std::ostream& out) {
    // Only the flag on its own: with more arguments it stays a file name, as it always was.
    if (argc != 2) return false;
    const std::string_view flag = argv[1];
    if (flag == "--help" || flag == "-h") {
        say(out, usage);
        return true;
    }
    return flag == "--version" || flag == "-V";
}

/// Says why `output` was refused, the same for both programs; false when it was not refused.
[[nodiscard]] inline bool said_output_refused(const pending_output& output, std::string_view name, std::ostream& out) {
    if (output.refused() == pending_output::refusal::is_input) {
        say(out, messages::cannot_open_output, name, messages::output_is_input);
    } else if (!output) {
        say(out, messages::cannot_open_output, name);
    }
    return !output;
}

}  // namespace quorvex
