#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>

namespace quorvex {

/// Bytes the core reads: an open C stream (a file, or a pipe that cannot seek) or bytes in
/// memory. Never owns or closes the stream; the bytes in memory must outlive the source.
class byte_source {
public:
    [[nodiscard]] static byte_source file(std::FILE* stream);
    [[nodiscard]] static byte_source memory(std::span<const unsigned char> bytes);

    /// Reads up to into.size() bytes at the current position; returns the count. Fewer only
    /// at the end or on a failure (failed() tells).
    [[nodiscard]] std::size_t read(std::span<unsigned char> into);
    /// Moves to `offset` bytes from the start; false where the source cannot seek (a pipe) or
    /// the seek fails. Past the end is allowed: reads there give nothing.
    [[nodiscard]] bool seek(std::uint64_t offset);
    /// The length in bytes where known: bytes in memory, a regular file. nullopt for a pipe,
    /// a device, or a stream the system cannot describe.
    [[nodiscard]] std::optional<std::uint64_t> size() const;
    /// True once a read has failed (not merely reached the end).
    [[nodiscard]] bool failed() const { return failed_; }

private:
    byte_source() = default;

    std::FILE* stream_ = nullptr;
    std::span<const unsigned char> memory_;
    std::uint64_t position_ = 0;  // in memory only: a stream keeps its own
    bool failed_ = false;
};

}  // namespace quorvex
