#include "streams/byte_source.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "conversion/file_offsets.h"

#ifdef _WIN32
#include <io.h>
#endif

namespace quorvex {

byte_source byte_source::file(std::FILE* stream) {
    byte_source source;
    source.stream_ = stream;
    return source;
}

byte_source byte_source::memory(std::span<const unsigned char> bytes) {
    byte_source source;
    source.memory_ = bytes;
    return source;
}

std::size_t byte_source::read(std::span<unsigned char> into) {
    // An empty span may have no storage at all, which neither fread nor memcpy may be given.
    if (into.empty()) return 0;
    if (stream_ != nullptr) {
        const std::size_t got = std::fread(into.data(), 1, into.size(), stream_);
        if (got < into.size() && std::ferror(stream_) != 0) failed_ = true;
        return got;
    }
    if (position_ >= memory_.size()) return 0;
    // Below the size here, so it fits size_t also where that has 32 bits.
    const auto at = static_cast<std::size_t>(position_);
    const std::size_t got = std::min(into.size(), memory_.size() - at);
    std::memcpy(into.data(), memory_.data() + at, got);
    position_ += got;
    return got;
}

bool byte_source::seek(std::uint64_t offset) {
    if (stream_ == nullptr) {
        position_ = offset;
        return true;
    }
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return false;
    return seek_to(stream_, static_cast<std::int64_t>(offset));
}

std::optional<std::uint64_t> byte_source::size() const {
    if (stream_ == nullptr) return memory_.size();
#ifdef _WIN32
    struct _stat64 s{};
    if (_fstat64(_fileno(stream_), &s) != 0 || (s.st_mode & _S_IFMT) != _S_IFREG) return std::nullopt;
#else
    struct stat s{};
    if (fstat(fileno(stream_), &s) != 0 || !S_ISREG(s.st_mode)) return std::nullopt;
#endif
    // Only a regular file's length means anything; a pipe's or a device's is not its content.
    if (s.st_size < 0) return std::nullopt;
    return static_cast<std::uint64_t>(s.st_size);
}

}  // namespace quorvex
