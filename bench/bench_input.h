#pragma once

// The pictures the benchmark converts, made on the spot so that no data is committed.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

struct bench_shape {
    std::string_view name;
    std::int32_t width_blocks;
    std::int32_t height_blocks;
};

/// A wide picture: most of the time goes into pixels, and a block-row is large.
inline constexpr bench_shape area_shape{"area", 100, 80};
/// A narrow, very tall picture: many small block-rows; memory must not grow with height.
inline constexpr bench_shape tall_shape{"tall", 4, 6000};

/// The shape called `name`, or nothing.
[[nodiscard]] std::optional<bench_shape> find_bench_shape(std::string_view name);

/// Writes the tile data of `shape` to `path`, the same bytes on every run: every block has
/// its own palette, and every 4 index rows use all 256 indices in a block-specific order.
/// False when the file cannot be written.
[[nodiscard]] bool write_bench_input(const std::filesystem::path& path, const bench_shape& shape);

/// The sizes of the input and of the bitmap for `shape`.
[[nodiscard]] std::uint64_t input_bytes(const bench_shape& shape);
[[nodiscard]] std::uint64_t bitmap_bytes(const bench_shape& shape);
