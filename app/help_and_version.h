#pragma once

// What every front end answers the same way: the two questions, each with its own usage text.

#include <ostream>
#include <string_view>

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

}  // namespace quorvex
