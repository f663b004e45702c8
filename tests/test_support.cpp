#include "tests/test_support.h"

#include <sys/types.h>

#include <algorithm>
#include <array>

#include "conversion/bitmap_header.h"

namespace quorvex {

bytes tile_records(int count, int first) {
    bytes data;
    for (int k = first; k < first + count; ++k) {
        const auto seed = static_cast<unsigned>(k);
        for (unsigned i = 0; i < 1024; ++i) data.push_back(static_cast<unsigned char>(i * 7 + seed * 31 + i / 4));
        for (unsigned i = 0; i < 4096; ++i) data.push_back(static_cast<unsigned char>(i % 64 * 3 + i / 64 * 5 + seed * 11));
    }
    return data;
}

bytes picture_records(int width, int height, const std::function<std::array<unsigned char, 3>(int, int)>& pixel) {
    bytes data;
    for (int block = 0; block < width * height; ++block) {
        std::vector<std::array<unsigned char, 3>> palette;
        bytes indices;
        for (int y = 0; y < 64; ++y) {
            for (int x = 0; x < 64; ++x) {
                const auto colour = pixel(block % width * 64 + x, block / width * 64 + y);
                auto found = std::find(palette.begin(), palette.end(), colour);
                if (found == palette.end()) found = palette.insert(palette.end(), colour);
                check(palette.size() <= 256);
                // Odd blocks list their colours from the end of the palette.
                const auto entry = static_cast<int>(found - palette.begin());
                indices.push_back(static_cast<unsigned char>(block % 2 == 0 ? entry : 255 - entry));
            }
        }
        bytes record(1024, 0);
        for (std::size_t i = 0; i < palette.size(); ++i) {
            const std::size_t entry = block % 2 == 0 ? i : 255 - i;
            std::copy(palette[i].begin(), palette[i].end(), record.begin() + static_cast<std::ptrdiff_t>(entry * 4));
        }
        record.insert(record.end(), indices.begin(), indices.end());
        data.insert(data.end(), record.begin(), record.end());
    }
    return data;
}

bytes gradient_records(int width, int height, bool frame) {
    return picture_records(width, height, [=](int x, int y) -> std::array<unsigned char, 3> {
        const bool ring = x < 64 || y < 64 || x >= (width - 1) * 64 || y >= (height - 1) * 64;
        if (frame && ring) return {0, 0, 0};
        return {90, static_cast<unsigned char>(y / 4 * 4 * 255 / (height * 64)),
                static_cast<unsigned char>(x / 4 * 4 * 255 / (width * 64))};
    });
}

unique_file temp_file_with(const bytes& content) {
    unique_file file{std::tmpfile()};
    // An empty vector may have no storage at all, which fwrite must not be given.
    if (file && !content.empty() && std::fwrite(content.data(), 1, content.size(), file.get()) != content.size()) file.reset();
    if (file) std::rewind(file.get());
    return file;
}

bytes read_all(std::FILE* file) {
    bytes content;
    if (file == nullptr || std::fflush(file) != 0) return content;
    std::rewind(file);
    for (int c = std::getc(file); c != EOF; c = std::getc(file)) content.push_back(static_cast<unsigned char>(c));
    return content;
}

bytes read_file(const std::filesystem::path& path) { return read_all(unique_file{std::fopen(path.c_str(), "rb")}.get()); }

void write_file(const std::filesystem::path& path, const bytes& content) {
    const unique_file file{std::fopen(path.c_str(), "wb")};
    if (file && !content.empty()) (void)std::fwrite(content.data(), 1, content.size(), file.get());
}

conversion convert_bytes(file_converter converter, const bytes& input, std::int32_t width, std::int32_t height) {
    const unique_file in = temp_file_with(input), out{std::tmpfile()};
    const bool ok = converter(in.get(), out.get(), width, height);
    return {ok, read_all(out.get())};
}

conversion convert_bytes(stream_converter converter, const bytes& input, std::int32_t width, std::int32_t height) {
    conversion result{false, {}};
    byte_source source = byte_source::memory(input);
    byte_sink sink = byte_sink::memory(result.file);
    result.ok = converter(source, sink, width, height);
    return result;
}

bool reference_convert(std::FILE* in, std::FILE* out, std::int32_t width_blocks, std::int32_t height_blocks) {
    const auto size = plan_bitmap(width_blocks, height_blocks);
    byte_sink header = byte_sink::file(out);
    if (!size || !write_bitmap_header(header, *size)) return false;
    const std::int64_t width = width_blocks;
    const std::size_t row_bytes = static_cast<std::size_t>(width) * 64 * 3;
    bytes strip(size->has_rows ? row_bytes * 64 : 0);
    std::array<unsigned char, 1024> palette{};
    for (std::int64_t row = size->has_rows ? height_blocks - 1 : -1; row >= 0; --row) {
        for (std::int64_t column = 0; column < width; ++column) {
            // Every record must be there whole.
            if (fseeko(in, static_cast<off_t>((row * width + column) * 5120), SEEK_SET) != 0 ||
                std::fread(palette.data(), 1, palette.size(), in) != palette.size()) {
                return false;
            }
            for (std::size_t y = 0; y < 64; ++y) {
                for (std::size_t x = 0; x < 64; ++x) {
                    const int index = std::fgetc(in);
                    if (index == EOF) return false;
                    // Index row y is the strip's pixel row 63 - y: the bitmap is stored bottom-up.
                    const std::size_t at = (63 - y) * row_bytes + (static_cast<std::size_t>(column) * 64 + x) * 3;
                    for (std::size_t c = 0; c < 3; ++c) strip[at + c] = palette[static_cast<std::size_t>(index) * 4 + c];
                }
            }
        }
        if (std::fwrite(strip.data(), 1, strip.size(), out) != strip.size()) return false;
    }
    return std::fflush(out) == 0;
}

}  // namespace quorvex
