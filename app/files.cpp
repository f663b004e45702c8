#include "app/files.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <utility>

#include "app/interrupt_cleanup.h"
#include "conversion/picture_signature.h"

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>

#include <filesystem>
#endif

namespace quorvex {

namespace {

// Enough to tell whether two names or streams are one file, and what kind of file it is.
struct file_id {
    std::uint64_t device = 0;
    std::uint64_t number = 0;
    bool folder = false;
    bool regular = false;
    unsigned permissions = 0;
};

bool same_file(const std::optional<file_id>& a, const std::optional<file_id>& b) {
    return a && b && a->device == b->device && a->number == b->number;
}

// Where an output name leads: a file name with its links followed, or an open descriptor.
struct destination {
    std::string name;
    int descriptor = -1;
};

#ifdef _WIN32
// Names are UTF-8 inside the program; Windows takes every name in UTF-16.
constexpr const char* separators = "/\\:";

std::wstring wide(const std::string& text) {
    const int size = static_cast<int>(text.size());
    std::wstring result(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0)), L'\0');
    (void)MultiByteToWideChar(CP_UTF8, 0, text.data(), size, result.data(), static_cast<int>(result.size()));
    return result;
}

std::optional<file_id> identify(HANDLE handle) {
    if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
    // NUL, CON and pipes have no file information: they are written as they are.
    if (GetFileType(handle) != FILE_TYPE_DISK) return file_id{0, 0, false, false, 0};
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileInformationByHandle(handle, &info) == 0) return std::nullopt;
    const bool folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return file_id{info.dwVolumeSerialNumber, (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow,
                   folder, !folder, 0};
}

std::optional<file_id> identify(std::FILE* file) {
    return identify(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))));
}

std::optional<file_id> identify(const std::string& name) {
    // Opened only to be looked at: no access asked for, nothing denied to others.
    const HANDLE handle = CreateFileW(wide(name).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    const auto id = identify(handle);
    if (handle != INVALID_HANDLE_VALUE) (void)CloseHandle(handle);
    // Whatever the reason, a name that cannot be looked at is tried as a new one: may_create
    // then says whether it can be had.
    if (!id) errno = ENOENT;
    return id;
}

// The system's reason in the words the C library uses, so that messages read alike everywhere.
int last_error() {
    switch (GetLastError()) {
        case ERROR_ALREADY_EXISTS:
        case ERROR_FILE_EXISTS: return EEXIST;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND: return ENOENT;
        case ERROR_INVALID_NAME: return EINVAL;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return ENOSPC;
        default: return EACCES;
    }
}

std::FILE* open_stream(const std::string& name, const char* mode) {
    return _wfopen(wide(name).c_str(), wide(mode).c_str());
}
int create_new(const std::string& name) {
    return _wopen(wide(name).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
}
bool may_write(const std::string& name) { return _waccess(wide(name).c_str(), 2) == 0; }
bool remove_file(const std::string& name) { return DeleteFileW(wide(name).c_str()) != 0; }
bool move_over(const std::string& from, const std::string& to) {
    if (MoveFileExW(wide(from).c_str(), wide(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0) return true;
    errno = last_error();
    return false;
}
int duplicate(int descriptor) {
    const int copy = _dup(descriptor);
    // Standard output starts in text mode, which would add a CR before every byte 10.
    if (copy >= 0) (void)_setmode(copy, _O_BINARY);
    return copy;
}
// Only `-` names a descriptor here; links are rare on Windows and the name is replaced as it is.
destination resolve(const std::string& name) {
    if (name == "-") return {{}, 1};
    return {name};
}
// A new name is tried for real, held by this run alone and gone again when closed: whether
// Windows takes it depends on reserved names and characters, which nothing else tells.
bool may_create(const std::string& name) {
    const HANDLE handle = CreateFileW(wide(name).c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                      FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = last_error();
        return false;
    }
    (void)CloseHandle(handle);
    return true;
}
int open_unnamed(const std::string&) { return -1; }
bool give_name(int, const std::string&) { return false; }
void copy_permissions(int, unsigned) {}
bool is_terminal(std::FILE* file) {
    // _isatty holds NUL for a terminal too; only a console has a console mode.
    DWORD mode = 0;
    return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))), &mode) != 0;
}
// A rename replaces any file Windows lets this user write; there is nothing to copy into.
bool rename_cannot_replace(const std::string&) { return false; }
bool rename_refused(int) { return false; }
int open_to_write_into(const std::string&) { return -1; }
int open_to_read_back(const std::string&) { return -1; }
bool copy_over(int, int) { return false; }
#else
constexpr const char* separators = "/";

std::optional<file_id> identify(int result, const struct stat& s) {
    if (result != 0) return std::nullopt;
    return file_id{static_cast<std::uint64_t>(s.st_dev), static_cast<std::uint64_t>(s.st_ino), S_ISDIR(s.st_mode),
                   S_ISREG(s.st_mode), static_cast<unsigned>(s.st_mode & 0777)};
}
std::optional<file_id> identify(int fd) {
    struct stat s{};
    return identify(fstat(fd, &s), s);
}
std::optional<file_id> identify(std::FILE* file) { return identify(fileno(file)); }
std::optional<file_id> identify(const std::string& name) {
    struct stat s{};
    return identify(stat(name.c_str(), &s), s);
}

std::FILE* open_stream(const std::string& name, const char* mode) { return std::fopen(name.c_str(), mode); }
// Read and write: a file a rename cannot replace is copied from it at the end.
int create_new(const std::string& name) { return open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666); }
bool may_write(const std::string& name) { return access(name.c_str(), W_OK) == 0; }
bool remove_file(const std::string& name) { return unlink(name.c_str()) == 0; }
bool move_over(const std::string& from, const std::string& to) { return std::rename(from.c_str(), to.c_str()) == 0; }
int duplicate(int descriptor) {
    const int flags = fcntl(descriptor, F_GETFL);
    if (flags < 0) return -1;
    if ((flags & O_ACCMODE) == O_RDONLY) {
        errno = EBADF;
        return -1;
    }
    return fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
}

// The descriptor a name stands for: "/dev/fd/N", "/proc/self/fd/N", "/dev/stdout" and
// "/dev/stderr" by their text, since the links behind them hold no path ("pipe:[46336]").
std::optional<int> descriptor_named(std::string_view name) {
    if (name == "/dev/stdout") return 1;
    if (name == "/dev/stderr") return 2;
    for (const std::string_view folder : {"/dev/fd/", "/proc/self/fd/"}) {
        if (!name.starts_with(folder) || name.size() == folder.size() || name.size() > folder.size() + 9) continue;
        int number = 0;
        for (const char digit : name.substr(folder.size())) {
            if (digit < '0' || digit > '9') return std::nullopt;
            number = number * 10 + (digit - '0');
        }
        return number;
    }
    return std::nullopt;
}

// The link stays and the file it leads to is replaced; a dangling link leads to the name it
// holds. Past 40 links, as many as the system follows, the name given is left for the system
// to refuse as a loop: the 41st link is never replaced by the file.
destination resolve(const std::string& given) {
    namespace fs = std::filesystem;
    if (given == "-") return {{}, 1};
    std::string name = given;
    std::error_code not_a_link;
    for (int hop = 0;; ++hop) {
        if (const auto descriptor = descriptor_named(name)) return {{}, *descriptor};
        const fs::path next = fs::read_symlink(name, not_a_link);
        if (not_a_link) break;
        if (hop == 40) return {given};
        name = (fs::path(name).parent_path() / next).string();
    }
    return {std::move(name)};
}

// A name that ends in a separator names no file. (One too long for its folder was refused
// when it was looked up, and the folder itself takes the temporary file.)
bool may_create(const std::string& name) {
    if (!name.empty() && name.back() != '/') return true;
    errno = EISDIR;
    return false;
}

// A file without a name cannot be found half written, even after a kill; Linux has them. It
// is named through /proc at the end, so without /proc it is not used at all.
int open_unnamed(const std::string& folder) {
#if defined(O_TMPFILE) && !defined(QUORVEX_NAMED_TEMPORARY_ONLY)
    const int fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
    struct stat s{};
    if (same_file(identify(fd), identify(stat(("/proc/self/fd/" + std::to_string(fd)).c_str(), &s), s))) return fd;
    (void)close(fd);
#else
    (void)folder;
#endif
    return -1;
}
bool give_name(int fd, const std::string& name) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    return linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}
// Who may read the file stays as it was; the owner becomes whoever runs the program.
void copy_permissions(int fd, unsigned permissions) { (void)fchmod(fd, static_cast<mode_t>(permissions)); }
bool is_terminal(std::FILE* file) { return isatty(fileno(file)) != 0; }

// The mount a name is on, 0 where the system does not say: a file bind-mounted from the same
// file system has its folder's device number.
std::uint64_t mount_of(const std::string& name) {
#ifdef STATX_MNT_ID
    struct statx s{};
    if (statx(AT_FDCWD, name.c_str(), 0, STATX_MNT_ID, &s) == 0 && (s.stx_mask & STATX_MNT_ID) != 0) return s.stx_mnt_id;
#endif
    (void)name;
    return 0;
}

// A rename refuses to put a file over a mount point (a bind-mounted file: EBUSY), and over
// another user's file in a sticky folder that is not this user's either (EPERM).
bool rename_cannot_replace(const std::string& target) {
    const std::size_t cut = target.rfind('/');
    const std::string folder = cut == std::string::npos ? "." : target.substr(0, cut + 1);
    struct stat file{};
    struct stat parent{};
    if (stat(target.c_str(), &file) != 0 || stat(folder.c_str(), &parent) != 0) return false;
    const std::uint64_t file_mount = mount_of(target), parent_mount = mount_of(folder);
    if (file.st_dev != parent.st_dev || (file_mount != 0 && parent_mount != 0 && file_mount != parent_mount)) return true;
    const uid_t me = geteuid();  // the superuser may rename anything
    return (parent.st_mode & S_ISVTX) != 0 && me != 0 && file.st_uid != me && parent.st_uid != me;
}
// What a rename says when the name is one it cannot replace, found so only at the end.
bool rename_refused(int error) { return error == EBUSY || error == EPERM || error == EXDEV; }
int open_to_write_into(const std::string& name) { return open(name.c_str(), O_WRONLY | O_CLOEXEC); }
int open_to_read_back(const std::string& name) { return open(name.c_str(), O_RDONLY | O_CLOEXEC); }

// Writes all of `from` over the start of `to` and cuts `to` to that size.
bool copy_over(int from, int to) {
    std::array<char, 1 << 16> buffer{};
    off_t done = 0;
    for (;;) {
        const ssize_t got = pread(from, buffer.data(), buffer.size(), done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return got == 0 && ftruncate(to, done) == 0;
        for (ssize_t put = 0; put < got;) {
            const ssize_t wrote = pwrite(to, buffer.data() + put, static_cast<std::size_t>(got - put), done + put);
            if (wrote == 0 || (wrote < 0 && errno != EINTR)) return false;
            put += std::max<ssize_t>(wrote, 0);
        }
        done += got;
    }
}
#endif

// A temporary file's name says whose it is and what it is: ".tiles.bmp.partial-<process>-<n>".
template <typename Make>
std::string first_free_name(const std::string& target, Make make) {
    const std::size_t cut = target.find_last_of(separators) + 1;  // 0 when there is no folder
    const std::string prefix = target.substr(0, cut) + "." + target.substr(cut, 200) + ".partial-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = prefix + std::to_string(getpid()) + "-" + std::to_string(attempt);
        if (make(name)) return name;
        if (errno != EEXIST) break;
    }
    return {};
}

}  // namespace

void hold_standard_descriptors() {
#ifndef _WIN32
    // The lowest free number goes to the next file opened: a closed standard input would make
    // the output file what `-` reads, a closed standard output or error what messages go to.
    // /dev/null opened the other way round takes each such number, and using it fails as it
    // would closed.
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) >= 0 || errno != EBADF) continue;
        const int held = ::open("/dev/null", descriptor == 0 ? O_WRONLY : O_RDONLY);
        if (held > descriptor) (void)::close(held);
    }
#endif
}

stdio_file stdio_file::open(const std::string& name, const char* mode) {
    stdio_file file{open_stream(name, mode)};
    const int error = errno;
    // Some systems open a folder for reading without complaint, others refuse it as if access
    // were denied; it is never a file to read, and is named as one.
    const auto id = file ? identify(file.get()) : identify(name);
    if (id && id->folder) {
        errno = EISDIR;
        return stdio_file{};
    }
    errno = error;
    return file;
}

stdio_file::stdio_file(stdio_file&& other) noexcept : file_(std::exchange(other.file_, nullptr)) {}

stdio_file& stdio_file::operator=(stdio_file&& other) noexcept {
    (void)close();
    file_ = std::exchange(other.file_, nullptr);
    return *this;
}

stdio_file::~stdio_file() { (void)close(); }

bool stdio_file::close() {
    if (file_ == nullptr) return true;
    // fclose flushes, but reports a failed flush and a failed close alike; both mean lost data.
    const bool flushed = std::fflush(file_) == 0;
    const bool closed = std::fclose(std::exchange(file_, nullptr)) == 0;
    return flushed && closed;
}

pending_output pending_output::create(const std::string& name, std::FILE* input) {
    return pending_output{name, input};
}

bool pending_output::names_standard_output(const std::string& name) { return resolve(name).descriptor == 1; }

pending_output::pending_output(const std::string& name, std::FILE* input) : input_(input) { open(name); }

void pending_output::open(const std::string& name) {
    destination where = resolve(name);
    if (where.descriptor >= 0) return open_descriptor(where.descriptor);
    target_ = std::move(where.name);

    errno = 0;
    const auto existing = identify(target_);
    if (!existing && errno != ENOENT) {
        (void)fail(refusal::cannot_open);  // under a file, a name too long, a loop of links
        return;
    }
    // Replacing the input would lose it whole; it is refused by file identity, not by name.
    if (existing && existing->regular && input_ != nullptr && same_file(existing, identify(input_))) {
        (void)fail(refusal::is_input);
        return;
    }
    if (existing && existing->folder) {
        errno = EISDIR;
        (void)fail(refusal::cannot_open);
        return;
    }
    if (existing && !existing->regular) return open_directly();

    way_ = existing ? way::replace : way::create_new;
    permissions_ = existing ? existing->permissions : 0;
    // Which names can be had is known before the work starts, not after it.
    const bool allowed = existing ? may_write(target_) : may_create(target_);
    if (!allowed || !open_temporary()) {
        (void)fail(refusal::cannot_open);
    } else if (way_ == way::replace && rename_cannot_replace(target_)) {
        // Written into at the end instead, and opened for it now, for the same reason.
        way_ = way::write_into;
        if ((target_file_ = open_to_write_into(target_)) < 0) (void)fail(refusal::cannot_open);
    }
}

bool pending_output::replaces_picture() const {
    if (way_ != way::replace && way_ != way::write_into) return false;
    const stdio_file file{open_stream(target_, "rb")};
    std::array<unsigned char, picture_signature_bytes> first{};
    const std::size_t got = file ? std::fread(first.data(), 1, first.size(), file.get()) : 0;
    return starts_like_picture(std::span<const unsigned char>(first.data(), got));
}

bool pending_output::writes_to_terminal() const {
    return way_ == way::as_it_is && file_ && is_terminal(file_.get());
}

void pending_output::open_descriptor(int descriptor) {
    // A copy, so that closing the output leaves the descriptor open for its owner; writes
    // still go where its owner's do (after what is there, for an appending one).
    const int copy = duplicate(descriptor);
    std::FILE* stream = copy >= 0 ? fdopen(copy, "wb") : nullptr;
    if (copy >= 0 && stream == nullptr) (void)close(copy);
    file_ = stdio_file{stream};
    if (!file_) {
        (void)fail(refusal::cannot_open);
    } else if (const auto id = identify(stream); id && id->regular && input_ != nullptr && same_file(id, identify(input_))) {
        (void)fail(refusal::is_input);
    }
}

void pending_output::open_directly() {
    // A device or a pipe is not replaced but written, as any program writes it.
    file_ = stdio_file{open_stream(target_, "wb")};
    if (!file_) (void)fail(refusal::cannot_open);
}

bool pending_output::open_temporary() {
    const std::size_t cut = target_.find_last_of(separators);
    int fd = open_unnamed(cut == std::string::npos ? "." : target_.substr(0, cut + 1));
    if (fd >= 0) {
        unnamed_ = fd;
        fd = duplicate(unnamed_);
    } else {
        name_temporary(first_free_name(target_, [&fd](const std::string& n) { return (fd = create_new(n)) >= 0; }));
    }
    if (fd < 0) return false;
    if (way_ == way::replace) copy_permissions(fd, permissions_);
    std::FILE* stream = fdopen(fd, "wb");
    if (stream == nullptr) {
        (void)close(fd);
        return false;
    }
    // Each block of work goes to the system in one write, not split around a part-filled buffer.
    (void)std::setvbuf(stream, nullptr, _IONBF, 0);
    file_ = stdio_file{stream};
    return true;
}

bool pending_output::fail(refusal why) {
    if (why != refusal::is_input && error_ == 0) error_ = errno;
    if (why != refusal::none) refused_ = why;
    discard();
    return false;
}

pending_output::~pending_output() { discard(); }

bool pending_output::keep() {
    if (!file_) return false;
    if (!file_.close() || (way_ != way::as_it_is && !put_in_place())) return fail(refusal::none);
    discard();  // the descriptor that named the file
    return true;
}

bool pending_output::put_in_place() {
    if (way_ == way::write_into) return copy_into_target();
    if (unnamed_ >= 0) {
        if (way_ == way::create_new) {
            // A new name takes the file at once, without a rename, which would flush it first.
            if (give_name(unnamed_, target_)) return true;
            // One that appeared meanwhile is replaced as if it had been there from the start.
            if (errno != EEXIST) return false;
        }
        name_temporary(first_free_name(target_, [this](const std::string& n) { return give_name(unnamed_, n); }));
        if (temporary_.empty()) return false;
    }
    // Over a file that exists, the rename makes the system write the data first: a crash then
    // leaves the old file or the new one, never an empty one. A name that became one a rename
    // cannot replace after it was opened (mounted over meanwhile) is written into instead.
    if (!move_over(temporary_, target_)) return rename_refused(errno) && copy_into_target();
    name_temporary({});
    return true;
}

bool pending_output::copy_into_target() {
    // Only now, with the whole output complete, is the file itself touched: only a failure
    // during this copy can leave it incomplete.
    if (target_file_ < 0 && (target_file_ = open_to_write_into(target_)) < 0) return false;
    const int from = unnamed_ >= 0 ? unnamed_ : open_to_read_back(temporary_);
    const bool copied = from >= 0 && copy_over(from, target_file_);
    const int copy_error = errno;
    if (from >= 0 && from != unnamed_) (void)close(from);
    const bool closed = close(std::exchange(target_file_, -1)) == 0;
    errno = copied ? errno : copy_error;
    return copied && closed;
}

void pending_output::name_temporary(std::string name) {
    // An interrupt never reads a name while it changes.
    interrupt_removes(nullptr);
    temporary_ = std::move(name);
    if (!temporary_.empty()) interrupt_removes(temporary_.c_str());
}

void pending_output::discard() {
    // Closed first: Windows will not remove an open file. A file without a name goes with it;
    // a name this run did not make is never removed.
    (void)file_.close();
    if (unnamed_ >= 0) (void)close(std::exchange(unnamed_, -1));
    if (target_file_ >= 0) (void)close(std::exchange(target_file_, -1));
    if (!temporary_.empty()) {
        (void)remove_file(temporary_);
        name_temporary({});
    }
}

}  // namespace quorvex
