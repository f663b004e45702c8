#pragma once

#include <chrono>
#include <cstddef>
#include <ostream>

namespace quorvex {

/// Whether standard error is a terminal, where someone watches.
[[nodiscard]] bool standard_error_is_terminal();

/// The one self-updating line a long run keeps on a terminal: nothing until the run is past a
/// second, then block-rows done of all and the rate, rewritten in place a few times a second.
/// Writes nothing at all unless `shown`.
class progress_line {
public:
    progress_line(std::ostream& to, bool shown) : to_(to), shown_(shown) {}
    progress_line(const progress_line&) = delete;
    progress_line& operator=(const progress_line&) = delete;
    ~progress_line() { clear(); }

    void update(std::size_t done, std::size_t rows);
    /// Blanks the line and puts the cursor back at its start, so that a message can follow.
    void clear();

private:
    using clock = std::chrono::steady_clock;
    std::ostream& to_;
    bool shown_;
    clock::time_point start_ = clock::now();
    clock::time_point drawn_;
    std::size_t width_ = 0;  // characters of the line on the terminal now, 0 when none
};

}  // namespace quorvex
