#include "app/pack_progress.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

#include "app/interrupt_cleanup.h"
#include "app/messages.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace quorvex {

bool standard_error_is_terminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

void progress_line::update(std::size_t done, std::size_t rows) {
    const clock::time_point now = clock::now();
    // A short run stays quiet, and a fast one does not spend its time redrawing.
    if (!shown_ || now - start_ < std::chrono::seconds(1) || now - drawn_ < std::chrono::milliseconds(200)) return;
    drawn_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const auto tenths = static_cast<std::uint64_t>(std::llround(static_cast<double>(done) * 10 / seconds));
    std::string line = std::string(pack_messages::progress) + std::to_string(done) +
                       std::string(pack_messages::progress_of) + std::to_string(rows) +
                       std::string(pack_messages::progress_rows) + std::to_string(tenths / 10) + '.' +
                       std::to_string(tenths % 10) + std::string(pack_messages::progress_rate);
    // Spaces cover what a longer line before left behind.
    const std::size_t before = std::exchange(width_, line.size());
    if (before > line.size()) line.append(before - line.size(), ' ');
    interrupt_erases(line.size());
    to_ << '\r' << line << std::flush;
}

void progress_line::clear() {
    if (width_ == 0) return;
    to_ << '\r' << std::string(std::exchange(width_, 0), ' ') << '\r' << std::flush;
    interrupt_erases(0);
}

}  // namespace quorvex
