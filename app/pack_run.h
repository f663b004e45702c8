#pragma once

#include <ostream>

namespace quorvex {

/// Where quorvex-pack reports: the banner and the outcome to `out`, or to `err` when the tile
/// data takes standard output; the progress line of a long run to `err` when it is a terminal.
struct pack_streams {
    std::ostream& out;
    std::ostream& err;
    bool err_is_terminal;
};

/// The whole of quorvex-pack: reads the command line, opens the files, checks the output,
/// reads the picture, packs it into tile records and reports the banner and one outcome line.
/// Returns the exit status: 0 when the tile file was written (or help or the version was
/// asked for), 1 otherwise.
[[nodiscard]] int pack_run(int argc, const char* const* argv, const pack_streams& streams);

}  // namespace quorvex
