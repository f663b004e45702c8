#pragma once

#include <ostream>

namespace quorvex {

/// The whole program: checks the arguments, opens the files, converts, and writes the banner
/// and one outcome line to `out`. Returns 0 when the bitmap was written or help or the version
/// was asked for; 1 for a usage error, a file that cannot be opened, or a failed conversion.
[[nodiscard]] int run(int argc, const char* const* argv, std::ostream& out);

}  // namespace quorvex
