#pragma once

#include <optional>
#include <string>

namespace quorvex {

/// What quorvex-pack's command line asks for.
struct pack_command {
    enum class request { pack, help, version, usage_error };
    request asked = request::pack;
    std::string problem;              // for usage_error: the line that names it
    std::string picture;              // "-" for standard input
    std::string tiles;                // "-" for standard output
    std::optional<std::string> like;  // the original tile file to follow, when given
    unsigned threads = 0;             // 0 when not given
    bool force = false;               // write over a picture, or to a terminal
};

/// Reads the arguments as the ecosystem's tools do: every word that starts with '-' before
/// `--` is an option, wherever it stands, except `-` alone; `--like F`, `--like=F`, `--threads
/// N`, `--threads=N`, a later one replacing an earlier, and `--force`. The first answer or
/// problem met ends the reading; an empty name is a problem. Never opens a file.
[[nodiscard]] pack_command read_pack_command(int argc, const char* const* argv);

}  // namespace quorvex
