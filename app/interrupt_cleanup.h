#pragma once

#include <cstddef>

namespace quorvex {

/// From now on SIGINT and SIGTERM first erase the progress line and remove the named temporary
/// file recorded below, then end the program by the same signal, as it would have ended
/// without this. Does nothing on Windows.
void clean_up_on_interrupt();

/// Records the named temporary file an interrupt removes, nullptr for none. The text must stay
/// as it is until the next call: the signal may come at any time.
void interrupt_removes(const char* name);

/// Records how many characters of a line on standard error an interrupt erases, 0 for none.
void interrupt_erases(std::size_t width);

}  // namespace quorvex
