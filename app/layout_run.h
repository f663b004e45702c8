#pragma once

#include <ostream>

namespace quorvex {

/// The whole of quorvex-layout: reads the command line, reads the tile file in chunks into the
/// layout finder and reports the banner, the layout, the command that converts it and close
/// runners-up to `out`; with `--numbers` only "W H" to `out` and everything else to `err`.
/// Returns 0 when a layout was found (or help or the version was asked for), 1 otherwise.
[[nodiscard]] int layout_run(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace quorvex
