#include "tests/test_support.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>

#include "conversion/convert_blocks.h"

bytes tile_record(unsigned seed) {
    bytes record;
    record.reserve(5120);
    for (unsigned i = 0; i < 1024; ++i) record.push_back(static_cast<unsigned char>(i * 7 + seed * 31 + i / 4));
    for (unsigned i = 0; i < 4096; ++i) {
        record.push_back(static_cast<unsigned char>((i % 64) * 3 + (i / 64) * 5 + seed * 11));
    }
    return record;
}

bytes tile_records(int count) {
    bytes data;
    for (int k = 0; k < count; ++k) {
        const bytes record = tile_record(static_cast<unsigned>(k));
        data.insert(data.end(), record.begin(), record.end());
    }
    return data;
}

bytes uniform_record(std::array<unsigned char, 4> entry, unsigned char index) {
    bytes record;
    for (int i = 0; i < 256; ++i) record.insert(record.end(), entry.begin(), entry.end());
    record.insert(record.end(), 4096, index);
    return record;
}

unique_file temp_file_with(const bytes& content) {
    unique_file file{std::tmpfile()};
    if (!file) ADD_FAILURE() << "no temporary file";
    if (file && !content.empty()) {
        EXPECT_EQ(content.size(), std::fwrite(content.data(), 1, content.size(), file.get()));
    }
    if (file) std::rewind(file.get());
    return file;
}

bytes read_all(std::FILE* file) {
    (void)std::fflush(file);
    std::rewind(file);
    bytes content;
    std::array<unsigned char, 65536> chunk;
    std::size_t got = 0;
    while ((got = std::fread(chunk.data(), 1, chunk.size(), file)) > 0) {
        content.insert(content.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(got));
    }
    return content;
}

bytes read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::filesystem::path& path, const bytes& content) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
}

bytes reference_pixels(const bytes& input, int width, int height) {
    if (width < 1 || height < 1) return {};
    const std::size_t row_bytes = static_cast<std::size_t>(width) * 64 * 3;
    bytes pixels(row_bytes * 64 * static_cast<std::size_t>(height));
    std::array<unsigned char, 1024> palette{};
    unsigned char index = 0;
    for (int r = height - 1; r >= 0; --r) {
        for (int c = 0; c < width; ++c) {
            const std::size_t record = static_cast<std::size_t>(r) * static_cast<std::size_t>(width) + static_cast<std::size_t>(c);
            const std::size_t start = record * 5120;
            for (std::size_t i = 0; i < 1024; ++i) {
                if (start + i < input.size()) palette[i] = input[start + i];
            }
            for (int y = 0; y < 64; ++y) {
                for (int x = 0; x < 64; ++x) {
                    const std::size_t at = start + 1024 + static_cast<std::size_t>(y * 64 + x);
                    if (at < input.size()) index = input[at];
                    // Picture row counted from the top, then turned into a file row from the bottom.
                    const int picture_row = r * 64 + y;
                    const int file_row = height * 64 - 1 - picture_row;
                    const std::size_t pixel = static_cast<std::size_t>(file_row) * row_bytes +
                                              static_cast<std::size_t>(c * 64 + x) * 3;
                    pixels[pixel] = palette[index * 4u];
                    pixels[pixel + 1] = palette[index * 4u + 1];
                    pixels[pixel + 2] = palette[index * 4u + 2];
                }
            }
        }
    }
    return pixels;
}

bytes converted_bitmap(const bytes& tiles, int width, int height) {
    const unique_file in = temp_file_with(tiles);
    const unique_file out = temp_file_with({});
    EXPECT_TRUE(convert_blocks(in.get(), out.get(), width, height));
    return read_all(out.get());
}

std::uint32_t u32_at(const bytes& data, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) value |= std::uint32_t{data.at(offset + i)} << (8 * i);
    return value;
}

std::int32_t i32_at(const bytes& data, std::size_t offset) {
    return static_cast<std::int32_t>(u32_at(data, offset));
}

std::uint16_t u16_at(const bytes& data, std::size_t offset) {
    return static_cast<std::uint16_t>(data.at(offset) | data.at(offset + 1) << 8);
}

scoped_temp_dir::scoped_temp_dir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quorvex-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "no temporary folder";
    path_ = pattern;
}

scoped_temp_dir::~scoped_temp_dir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> scoped_temp_dir::entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}
