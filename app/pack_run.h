#pragma once

#include <ostream>

namespace quorvex {

/// The whole of quorvex-pack: checks the arguments, reads the picture, packs it into tile
/// records and writes the banner and one outcome line to `standard_output`, or to standard
/// error when the tile data goes to standard output. Returns the exit status: 0 when the tile
/// file was written (or help or the version was asked for), 1 otherwise.
[[nodiscard]] int pack_run(int argc, const char* const* argv, std::ostream& standard_output);

}  // namespace quorvex
