#pragma once

#include <cstdint>
#include <cstdio>

/// The conversion done the plain way, as the baseline: per tile record one seek and one
/// 1024-byte palette read, then one library call per index byte; one write per block-row.
/// Writes the same bytes as convert_blocks for any input. False when the header or a
/// write fails.
[[nodiscard]] bool naive_convert(std::FILE* in, std::FILE* out, std::int32_t width_blocks,
                                 std::int32_t height_blocks);
