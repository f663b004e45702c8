#pragma once

#include <cstdio>
#include <string>

namespace quorvex {

/// Gives each standard descriptor the caller closed a placeholder that fails as a closed one
/// does, so that no file the program opens takes its number. Called first by every program.
void hold_standard_descriptors();

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

/// An output that is either complete or not there. A regular file (or a new name) is written
/// to a temporary file beside the file the name leads to (through symbolic links) and put in
/// place by keep(); until then that name is untouched, and a failed or killed run removes
/// nothing but its own temporary file. A file a rename cannot replace (a mount point, another
/// user's file in a sticky folder) gets the finished temporary file copied into it by keep().
/// `-`, `/dev/stdout`, `/dev/stderr`, `/dev/fd/N` and `/proc/self/fd/N` are written through
/// that open descriptor, and a device or a pipe under the name is written directly: both as
/// they are, with nothing to undo.
class pending_output {
public:
    enum class refusal { none, cannot_open, is_input };
    /// Refused, with nothing changed, when `name` is the open regular file `input` by any name
    /// or link, is a folder, or cannot be created or written by this user.
    static pending_output create(const std::string& name, std::FILE* input = nullptr);
    /// True when `name` is written through this process's standard output, so that the front
    /// end can say what it has to say elsewhere.
    [[nodiscard]] static bool names_standard_output(const std::string& name);
    pending_output(pending_output&&) = delete;
    pending_output& operator=(pending_output&&) = delete;
    pending_output(const pending_output&) = delete;
    pending_output& operator=(const pending_output&) = delete;
    ~pending_output();

    [[nodiscard]] std::FILE* get() const { return file_.get(); }
    [[nodiscard]] refusal refused() const { return refused_; }
    /// The system's error number when the output was refused or keep() failed; else 0.
    [[nodiscard]] int error() const { return error_; }
    explicit operator bool() const { return static_cast<bool>(file_); }
    /// True when the file this output would replace starts like a BMP or PNG picture.
    [[nodiscard]] bool replaces_picture() const;
    /// True when the output is written as it is to a terminal.
    [[nodiscard]] bool writes_to_terminal() const;
    /// Flushes, closes and puts the file in place; false when any step fails, and then the
    /// temporary file is gone and the name is as it was.
    [[nodiscard]] bool keep();

private:
    enum class way { as_it_is, replace, create_new, write_into };
    pending_output(const std::string& name, std::FILE* input);
    void open(const std::string& name);
    void open_descriptor(int descriptor);
    void open_directly();
    bool open_temporary();
    bool put_in_place();
    bool copy_into_target();
    void name_temporary(std::string name);
    bool fail(refusal why);
    void discard();

    std::FILE* input_;
    stdio_file file_;
    way way_ = way::as_it_is;
    std::string target_;       // the name replaced: the output name with its links followed
    std::string temporary_;    // where the file is while written; "" while it has no name
    int unnamed_ = -1;         // the file that has no name yet, kept open to give it one
    int target_file_ = -1;     // the file written into, for a way::write_into
    unsigned permissions_ = 0;  // those of the file replaced
    int error_ = 0;
    refusal refused_ = refusal::none;
};

}  // namespace quorvex
