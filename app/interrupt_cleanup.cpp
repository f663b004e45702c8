#include "app/interrupt_cleanup.h"

#include <atomic>

#ifndef _WIN32
#include <signal.h>
#include <unistd.h>
#endif

namespace quorvex {

namespace {

// Read inside a signal handler, which may only touch lock-free atomics.
std::atomic<const char*> temporary_name{nullptr};
std::atomic<std::size_t> line_width{0};
static_assert(std::atomic<const char*>::is_always_lock_free && std::atomic<std::size_t>::is_always_lock_free);

#ifndef _WIN32
// Only calls that are safe in a signal handler: write, unlink, raise.
void on_interrupt(int signal_number) {
    static constexpr char blanks[] = "\r                                                                ";
    std::size_t left = line_width.exchange(0);
    if (left > 0) {
        (void)!write(STDERR_FILENO, blanks, 1);
        while (left > 0) {
            const std::size_t part = left < sizeof blanks - 2 ? left : sizeof blanks - 2;
            if (write(STDERR_FILENO, blanks + 1, part) <= 0) break;
            left -= part;
        }
        (void)!write(STDERR_FILENO, blanks, 1);
    }
    if (const char* name = temporary_name.exchange(nullptr)) (void)unlink(name);
    // The handler was reset to the default as it was called: the signal now ends the program,
    // with the status a shell expects of it.
    (void)raise(signal_number);
}
#endif

// Armed once, when there is first something to clean up: a program that never has anything
// keeps the signals' default, and no caller can forget to arm it before making a file.
void arm() {
#ifndef _WIN32
    static const bool armed = [] {
        struct sigaction action{};
        action.sa_handler = on_interrupt;
        action.sa_flags = static_cast<int>(SA_RESETHAND);
        (void)sigemptyset(&action.sa_mask);
        (void)sigaddset(&action.sa_mask, SIGINT);
        (void)sigaddset(&action.sa_mask, SIGTERM);
        for (const int signal_number : {SIGINT, SIGTERM}) {
            // A signal a shell had ignored (a background job's SIGINT) stays ignored.
            struct sigaction before{};
            if (sigaction(signal_number, nullptr, &before) == 0 && before.sa_handler != SIG_IGN) {
                (void)sigaction(signal_number, &action, nullptr);
            }
        }
        return true;
    }();
    (void)armed;
#endif
}

}  // namespace

void interrupt_removes(const char* name) {
    temporary_name.store(name);
    if (name != nullptr) arm();
}

void interrupt_erases(std::size_t width) {
    line_width.store(width);
    if (width > 0) arm();
}

}  // namespace quorvex
