#pragma once

#include <cstdint>
#include <cstdio>

/// The file traffic of a conversion with no pixel work: the bitmap header, then per
/// block-row, bottom first, one seek and one read of its tile records and one write of a
/// strip that was filled once. The cost no converter can go below. False when a call fails.
[[nodiscard]] bool copy_at_io_floor(std::FILE* in, std::FILE* out, std::int32_t width_blocks,
                                    std::int32_t height_blocks);
