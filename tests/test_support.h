#pragma once

// What the tests, the fuzz targets and the benchmark share: tile data made in memory, whole
// files as bytes, and the one reference decoder. Nothing here depends on GoogleTest.

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "streams/byte_sink.h"
#include "streams/byte_source.h"

namespace quorvex {

using bytes = std::vector<unsigned char>;

/// `count` tile records numbered from `first`; each record's palette and indices both depend
/// on its number, and every record uses all 256 indices.
bytes tile_records(int count, int first = 0);

/// The records of a picture of `width` x `height` blocks: `pixel(x, y)` gives its blue, green
/// and red, at most 256 colours in any block. Each record lists its block's colours in its own
/// order, so only a lookup through the right palette gives the picture back.
bytes picture_records(int width, int height, const std::function<std::array<unsigned char, 3>(int, int)>& pixel);

/// picture_records of a smooth picture: red grows across, green down, in steps of four pixels;
/// with `frame` every block of the outer ring is black.
bytes gradient_records(int width, int height, bool frame = false);

struct file_closer {
    void operator()(std::FILE* f) const { (void)std::fclose(f); }
};
using unique_file = std::unique_ptr<std::FILE, file_closer>;

/// An anonymous temporary file holding `content`, positioned at its start.
unique_file temp_file_with(const bytes& content);

/// Everything in `file` from its start; empty when it cannot be read.
bytes read_all(std::FILE* file);
bytes read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const bytes& content);

/// What `converter` writes of `input` at width x height blocks, and whether it said it
/// succeeded: reference_convert through temporary files, convert_blocks through memory.
struct conversion { bool ok; bytes file; };
using file_converter = bool (*)(std::FILE*, std::FILE*, std::int32_t, std::int32_t);
using stream_converter = bool (*)(byte_source&, byte_sink&, std::int32_t, std::int32_t);
conversion convert_bytes(file_converter converter, const bytes& input, std::int32_t width, std::int32_t height);
conversion convert_bytes(stream_converter converter, const bytes& input, std::int32_t width, std::int32_t height);

/// The fuzz targets' assertion: a fault ends the run where the fuzzer sees it.
inline void check(bool holds) {
    if (!holds) std::abort();
}

/// The conversion done the slow, obvious way, as the tests' reference and the benchmark's
/// baseline: the header from plan_bitmap, then per tile record one seek and one palette read,
/// then one library call per index byte, each pixel placed by its coordinates. False when the
/// sizes are refused, a record is missing or cut short (after some output), or a write fails.
[[nodiscard]] bool reference_convert(std::FILE* in, std::FILE* out, std::int32_t width_blocks,
                                     std::int32_t height_blocks);

}  // namespace quorvex
