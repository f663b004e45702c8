#include "app/files.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <optional>
#include <utility>

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
    BY_HANDLE_FILE_INFORMATION info{};
    if (handle == INVALID_HANDLE_VALUE || GetFileInformationByHandle(handle, &info) == 0) return std::nullopt;
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
    return id;
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
    return MoveFileExW(wide(from).c_str(), wide(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}
// Links are rare on Windows and need rights to make; the name is replaced as it is.
std::string follow_links(std::string name) { return name; }
int open_unnamed(const std::string&) { return -1; }
bool give_name(int, const std::string&) { return false; }
void copy_permissions(int, const file_id&) {}
#else
constexpr const char* separators = "/";

std::optional<file_id> identify(int result, const struct stat& s) {
    if (result != 0) return std::nullopt;
    return file_id{static_cast<std::uint64_t>(s.st_dev), static_cast<std::uint64_t>(s.st_ino), S_ISDIR(s.st_mode),
                   S_ISREG(s.st_mode), static_cast<unsigned>(s.st_mode & 0777)};
}
std::optional<file_id> identify(std::FILE* file) {
    struct stat s{};
    return identify(fstat(fileno(file), &s), s);
}
std::optional<file_id> identify(const std::string& name) {
    struct stat s{};
    return identify(stat(name.c_str(), &s), s);
}

std::FILE* open_stream(const std::string& name, const char* mode) { return std::fopen(name.c_str(), mode); }
int create_new(const std::string& name) { return open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666); }
bool may_write(const std::string& name) { return access(name.c_str(), W_OK) == 0; }
bool remove_file(const std::string& name) { return unlink(name.c_str()) == 0; }
bool move_over(const std::string& from, const std::string& to) { return std::rename(from.c_str(), to.c_str()) == 0; }

// The link stays and the file it leads to is replaced; a dangling link leads to the name it
// holds. A loop of links ends after 40, and that name then cannot be opened.
std::string follow_links(std::string name) {
    namespace fs = std::filesystem;
    std::error_code not_a_link;
    for (int hop = 0; hop < 40; ++hop) {
        const fs::path next = fs::read_symlink(name, not_a_link);
        if (not_a_link) break;
        name = (fs::path(name).parent_path() / next).string();
    }
    return name;
}

// A file without a name cannot be found half written, even after a kill; Linux has them.
int open_unnamed(const std::string& folder) {
#ifdef O_TMPFILE
    return open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
#else
    (void)folder;
    return -1;
#endif
}
bool give_name(int fd, const std::string& name) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    return linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}
// Who may read the bitmap stays as it was; the owner becomes whoever runs the program.
void copy_permissions(int fd, const file_id& id) { (void)fchmod(fd, static_cast<mode_t>(id.permissions)); }
#endif

// Holds a new name with an empty file, so that a name that cannot be had is known at once.
bool reserve(const std::string& name) {
    const int fd = create_new(name);
    if (fd >= 0) (void)close(fd);
    return fd >= 0;
}

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

stdio_file stdio_file::open(const std::string& name, const char* mode) {
    stdio_file file{open_stream(name, mode)};
    // Some systems open a folder for reading without complaint; it is never a file to convert.
    const auto id = file ? identify(file.get()) : std::nullopt;
    if (id && id->folder) return stdio_file{};
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

pending_output pending_output::create(std::string name, std::FILE* input) {
    return pending_output{std::move(name), input};
}

pending_output::pending_output(std::string name, std::FILE* input) : target_(follow_links(std::move(name))) {
    const auto existing = identify(target_);
    const auto input_id = input != nullptr ? identify(input) : std::nullopt;
    if (existing && input_id && existing->device == input_id->device && existing->number == input_id->number) {
        refused_ = refusal::is_input;
        return;
    }
    if (existing && !existing->folder && !existing->regular) {
        // A device or a pipe is not replaced but written, as any program writes it.
        file_ = stdio_file{open_stream(target_, "wb")};
    } else if (existing ? !existing->folder && may_write(target_) : (reserved_ = reserve(target_))) {
        const std::size_t slash = target_.find_last_of(separators);
        int fd = open_unnamed(slash == std::string::npos ? "." : target_.substr(0, slash + 1));
        if (fd >= 0) unnamed_ = fd;
        else temporary_ = first_free_name(target_, [&fd](const std::string& n) { return (fd = create_new(n)) >= 0; });
        if (fd >= 0 && existing) copy_permissions(fd, *existing);
        std::FILE* stream = fd >= 0 ? fdopen(fd, "wb") : nullptr;
        if (fd >= 0 && stream == nullptr) (void)close(fd);
        file_ = stdio_file{stream};
    }
    refused_ = file_ ? refusal::none : refusal::cannot_open;
}

pending_output::~pending_output() { discard(); }

bool pending_output::keep() {
    if (!file_) return false;
    // Named only once every byte reached the system, and put in place only once closed.
    bool kept = std::fflush(file_.get()) == 0;
    if (kept && unnamed_ >= 0) {
        temporary_ = first_free_name(target_, [this](const std::string& n) { return give_name(unnamed_, n); });
        kept = !temporary_.empty();
    }
    kept = kept && file_.close() && (temporary_.empty() || move_over(temporary_, target_));
    if (!kept) discard();
    temporary_.clear();
    reserved_ = false;
    return kept;
}

void pending_output::discard() {
    // Closed first: Windows will not remove an open file. A file without a name goes with it.
    (void)file_.close();
    if (!temporary_.empty()) (void)remove_file(std::exchange(temporary_, {}));
    if (std::exchange(reserved_, false)) (void)remove_file(target_);
}

}  // namespace quorvex
