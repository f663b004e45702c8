#pragma once

// Small helpers shared by the tests: tile data built in memory, temporary files and
// folders that clean up after themselves, and a deliberately naive reference decoder.

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

using bytes = std::vector<unsigned char>;

/// One 5120-byte tile record whose palette and indices are derived from `seed`, so that
/// records made from different seeds differ in both.
bytes tile_record(unsigned seed);

/// `count` records made from seeds 0, 1, 2, ...
bytes tile_records(int count);

/// A tile record with every palette entry set to `entry` and every index set to `index`.
bytes uniform_record(std::array<unsigned char, 4> entry, unsigned char index);

struct file_closer {
    void operator()(std::FILE* f) const { (void)std::fclose(f); }
};
using unique_file = std::unique_ptr<std::FILE, file_closer>;

/// An anonymous temporary file holding `content`, positioned at its start.
unique_file temp_file_with(const bytes& content);

/// Everything in `file` from its start.
bytes read_all(std::FILE* file);
bytes read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const bytes& content);

/// The pixel data (no header) that the conversion must produce for `input` read as a
/// `width` x `height` block picture, computed byte by byte the slow, obvious way: visit
/// the block-rows bottom first, read each record a byte at a time, keep the previous byte
/// where the input has none, and place every pixel by its coordinates.
bytes reference_pixels(const bytes& input, int width, int height);

/// The bitmap the conversion writes for `tiles` laid out `width` x `height` blocks.
bytes converted_bitmap(const bytes& tiles, int width, int height);

/// Little-endian fields of a bitmap header.
std::uint32_t u32_at(const bytes& data, std::size_t offset);
std::int32_t i32_at(const bytes& data, std::size_t offset);
std::uint16_t u16_at(const bytes& data, std::size_t offset);

/// A fresh folder that is removed with everything in it at the end of the scope.
class scoped_temp_dir {
public:
    scoped_temp_dir();
    ~scoped_temp_dir();
    scoped_temp_dir(const scoped_temp_dir&) = delete;
    scoped_temp_dir& operator=(const scoped_temp_dir&) = delete;
    [[nodiscard]] const std::filesystem::path& path() const { return path_; }
    /// The names of the entries in the folder, sorted.
    [[nodiscard]] std::vector<std::string> entries() const;

private:
    std::filesystem::path path_;
};
