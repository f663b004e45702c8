#pragma once

#include <cstdio>
#include <string>

namespace quorvex {

/// Owns one open C stream. close() reports whether everything reached the system; the
/// destructor closes silently as a fallback on paths that already failed.
class stdio_file {
public:
    stdio_file() = default;
    explicit stdio_file(std::FILE* file) : file_(file) {}
    /// Opens a UTF-8 `name` (on every system); empty when it cannot, and for a folder.
    static stdio_file open(const std::string& name, const char* mode);
    stdio_file(stdio_file&& other) noexcept;
    stdio_file& operator=(stdio_file&& other) noexcept;
    stdio_file(const stdio_file&) = delete;
    stdio_file& operator=(const stdio_file&) = delete;
    ~stdio_file();

    [[nodiscard]] std::FILE* get() const { return file_; }
    explicit operator bool() const { return file_ != nullptr; }
    /// Flushes and closes; false when either fails. Afterwards the owner is empty.
    [[nodiscard]] bool close();

private:
    std::FILE* file_ = nullptr;
};

/// An output written to a temporary file beside the file its name leads to (through symbolic
/// links) and moved over that name by keep(). Until then an existing file there is untouched,
/// and a failed run leaves nothing of its own; a new name is held by an empty file meanwhile.
class pending_output {
public:
    enum class refusal { none, cannot_open, is_input };
    /// Refused, with nothing changed, when `name` is the open `input` by any name or link, is
    /// a folder, or cannot be created or written by this user.
    static pending_output create(std::string name, std::FILE* input = nullptr);
    pending_output(pending_output&&) = delete;
    pending_output& operator=(pending_output&&) = delete;
    pending_output(const pending_output&) = delete;
    pending_output& operator=(const pending_output&) = delete;
    ~pending_output();

    [[nodiscard]] std::FILE* get() const { return file_.get(); }
    [[nodiscard]] refusal refused() const { return refused_; }
    explicit operator bool() const { return static_cast<bool>(file_); }
    /// Flushes, closes and moves the file over the output name; false when any step fails,
    /// and then the file is gone and the name is as it was.
    [[nodiscard]] bool keep();

private:
    pending_output(std::string name, std::FILE* input);
    void discard();
    stdio_file file_;
    std::string target_;      // the name replaced: the output name with its links followed
    std::string temporary_;   // where the file is while written; "" while it has no name
    int unnamed_ = -1;        // the descriptor of a file that has no name yet
    bool reserved_ = false;   // this run created `target_` empty to hold a new name
    refusal refused_ = refusal::none;
};

}  // namespace quorvex
