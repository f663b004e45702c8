#include "app/files.h"

#include <filesystem>
#include <system_error>
#include <utility>

stdio_file stdio_file::open(const std::string& name, const char* mode) {
    return stdio_file{std::fopen(name.c_str(), mode)};
}

stdio_file::stdio_file(stdio_file&& other) noexcept : file_(std::exchange(other.file_, nullptr)) {}

stdio_file::~stdio_file() { (void)close(); }

bool stdio_file::close() {
    if (file_ == nullptr) return true;
    // fclose flushes, but reports a failed flush and a failed close alike; both mean lost data.
    const bool flushed = std::fflush(file_) == 0;
    const bool closed = std::fclose(std::exchange(file_, nullptr)) == 0;
    return flushed && closed;
}

pending_output::pending_output(stdio_file file, std::string name)
    : file_(std::move(file)), name_(std::move(name)), owns_name_(static_cast<bool>(file_)) {}

pending_output pending_output::create(std::string name) {
    stdio_file file = stdio_file::open(name, "wb");
    return pending_output{std::move(file), std::move(name)};
}

pending_output::~pending_output() { discard(); }

bool pending_output::keep() {
    if (!owns_name_) return false;
    const bool closed = file_.close();
    if (closed) owns_name_ = false;
    else discard();
    return closed;
}

void pending_output::discard() {
    // Closed first: Windows will not remove an open file.
    (void)file_.close();
    if (!std::exchange(owns_name_, false)) return;
    // The C library's remove goes through the narrow system call, which some Windows
    // systems limit to 260 characters even where the file could be created; the
    // filesystem library takes the wide one. Past that the run has nothing more to try.
    std::error_code ignored;
    if (std::remove(name_.c_str()) != 0) std::filesystem::remove(name_, ignored);
}
