#pragma once

#include <cstdio>
#include <string>

/// Owns one open C stream. close() reports whether everything reached the system; the
/// destructor closes silently as a fallback on paths that already failed.
class stdio_file {
public:
    stdio_file() = default;
    static stdio_file open(const std::string& name, const char* mode);
    stdio_file(stdio_file&& other) noexcept;
    stdio_file& operator=(stdio_file&&) = delete;
    stdio_file(const stdio_file&) = delete;
    stdio_file& operator=(const stdio_file&) = delete;
    ~stdio_file();

    [[nodiscard]] std::FILE* get() const { return file_; }
    explicit operator bool() const { return file_ != nullptr; }
    /// Flushes and closes; false when either fails. Afterwards the owner is empty.
    [[nodiscard]] bool close();

private:
    explicit stdio_file(std::FILE* file) : file_(file) {}
    std::FILE* file_ = nullptr;
};

/// An output file created for writing that is removed again unless kept: a run that fails
/// leaves no partial bitmap under the output name.
class pending_output {
public:
    static pending_output create(std::string name);
    pending_output(pending_output&&) = delete;
    pending_output& operator=(pending_output&&) = delete;
    pending_output(const pending_output&) = delete;
    pending_output& operator=(const pending_output&) = delete;
    ~pending_output();

    [[nodiscard]] std::FILE* get() const { return file_.get(); }
    explicit operator bool() const { return static_cast<bool>(file_); }
    /// Closes the file and keeps it; false, and the file is removed, when the close fails.
    [[nodiscard]] bool keep();

private:
    pending_output(stdio_file file, std::string name);
    void discard();
    stdio_file file_;
    std::string name_;
    bool owns_name_ = false;  // this run created the file and has not kept it
};
