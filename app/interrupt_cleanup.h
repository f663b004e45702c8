#pragma once

#include <cstddef>

namespace quorvex {

/// Records the named temporary file an interrupt removes, nullptr for none. The text must stay
/// as it is until the next call: the signal may come at any time. The first record of
/// something to clean up (here or below) makes SIGINT and SIGTERM first erase the line and
/// remove the file, then end the program by the same signal, as it would have ended without
/// this. Does nothing on Windows.
void interrupt_removes(const char* name);

/// Records how many characters of a line on standard error an interrupt erases, 0 for none.
void interrupt_erases(std::size_t width);

}  // namespace quorvex
