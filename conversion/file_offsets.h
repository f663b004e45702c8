#pragma once

// Tile files and bitmaps pass 2 GiB, but the plain fseek and ftell take a long, which is 32
// bits on Windows and on 32-bit machines: every offset goes through these instead.

#include <cstdint>
#include <cstdio>

#ifndef _WIN32
#include <sys/types.h>
#endif

namespace quorvex {

/// Moves `file` to `offset` bytes from `whence` (SEEK_SET, SEEK_END); false when it cannot.
[[nodiscard]] inline bool seek_to(std::FILE* file, std::int64_t offset, int whence = SEEK_SET) {
#ifdef _WIN32
    return _fseeki64(file, offset, whence) == 0;
#else
    static_assert(sizeof(off_t) >= sizeof(std::int64_t), "build with 64-bit file offsets");
    return fseeko(file, static_cast<off_t>(offset), whence) == 0;
#endif
}

/// Where `file` stands, in bytes from its start; negative when that is not known.
[[nodiscard]] inline std::int64_t position_of(std::FILE* file) {
#ifdef _WIN32
    return _ftelli64(file);
#else
    return static_cast<std::int64_t>(ftello(file));
#endif
}

}  // namespace quorvex
