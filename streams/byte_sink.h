#pragma once

#include <cstdio>
#include <span>
#include <vector>

namespace quorvex {

/// Bytes the core writes: an open C stream or a growing byte vector in memory. Never owns or
/// closes the stream; the vector must outlive the sink.
class byte_sink {
public:
    [[nodiscard]] static byte_sink file(std::FILE* stream);
    /// Appends to `into`; running out of memory is a failed write, never an exception out.
    [[nodiscard]] static byte_sink memory(std::vector<unsigned char>& into);

    /// Writes all of `bytes` at the end; false when any of them could not be written.
    [[nodiscard]] bool write(std::span<const unsigned char> bytes);
    /// Hands buffered bytes to the system, so a full disk shows here; true for memory.
    [[nodiscard]] bool flush();

private:
    byte_sink() = default;

    std::FILE* stream_ = nullptr;
    std::vector<unsigned char>* memory_ = nullptr;
};

}  // namespace quorvex
