#include "bench/bench_input.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "conversion/block_geometry.h"

namespace {

using namespace block_geometry;

struct file_closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

void fill_record(unsigned char* record, std::uint32_t block) {
    for (std::uint32_t i = 0; i < palette_entries; ++i) {
        // A cheap integer hash: colours look unrelated from entry to entry and block to block.
        const std::uint32_t colour = (i * 2654435761u) ^ (block * 40503u + 0x9e3779b9u);
        for (std::uint32_t b = 0; b < palette_entry_bytes; ++b) {
            record[i * palette_entry_bytes + b] = static_cast<unsigned char>(colour >> (8 * b));
        }
    }
    unsigned char* indices = record + palette_bytes;
    for (std::uint32_t y = 0; y < block_side; ++y) {
        // Rows y..y+3 of a group run through 0..255 once; the order changes per group and block.
        const std::uint32_t salt = (y / 4 * 29 + block * 13) & 0xffu;
        for (std::uint32_t x = 0; x < block_side; ++x) {
            indices[y * block_side + x] =
                static_cast<unsigned char>((x + block_side * (y % 4)) ^ salt);
        }
    }
}

}  // namespace

std::optional<bench_shape> find_bench_shape(std::string_view name) {
    for (const bench_shape& shape : {area_shape, tall_shape}) {
        if (shape.name == name) return shape;
    }
    return std::nullopt;
}

bool write_bench_input(const std::filesystem::path& path, const bench_shape& shape) {
    const std::unique_ptr<std::FILE, file_closer> file{std::fopen(path.c_str(), "wb")};
    if (!file) return false;
    const auto blocks = static_cast<std::uint32_t>(shape.width_blocks) *
                        static_cast<std::uint32_t>(shape.height_blocks);
    std::vector<unsigned char> record(record_bytes);
    for (std::uint32_t block = 0; block < blocks; ++block) {
        fill_record(record.data(), block);
        if (std::fwrite(record.data(), 1, record.size(), file.get()) != record.size()) return false;
    }
    return std::fflush(file.get()) == 0;
}

std::uint64_t input_bytes(const bench_shape& shape) {
    return std::uint64_t{record_bytes} * static_cast<std::uint64_t>(shape.width_blocks) *
           static_cast<std::uint64_t>(shape.height_blocks);
}

std::uint64_t bitmap_bytes(const bench_shape& shape) {
    return bitmap_header_bytes + std::uint64_t{block_strip_bytes} *
                                     static_cast<std::uint64_t>(shape.width_blocks) *
                                     static_cast<std::uint64_t>(shape.height_blocks);
}
