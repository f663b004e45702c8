// Fuzzes the block conversion end to end through real files.
//
// Input: byte 0 gives the width and byte 1 the height in blocks, each in -2..7 (b % 10 - 2);
// the rest is the tile data. The conversion's output is checked against the sizes it must
// have, every header field, and a naive decoder below that reads the input one byte at a time
// exactly as the tile data is described, keeping a byte wherever the input has none.
// From 100 up, byte 0 also fills the disk: the output then takes only 4000 x (b / 10 - 10)
// bytes, and the conversion must fail exactly when its bitmap does not fit.

#include <sys/types.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "conversion/convert_blocks.h"

namespace {

using bytes = std::vector<unsigned char>;

struct file_closer {
    void operator()(std::FILE* f) const { (void)std::fclose(f); }
};

void check(bool holds) {
    if (!holds) std::abort();
}

// A read position over the input that leaves its destination alone past the end, as a
// plain byte-sized read from a file does.
class byte_reader {
public:
    explicit byte_reader(const bytes& data) : data_(data) {}
    void seek(std::size_t at) { at_ = at; }
    void read(unsigned char& into) {
        if (at_ < data_.size()) into = data_[at_];
        ++at_;
    }

private:
    const bytes& data_;
    std::size_t at_ = 0;
};

// The pixel data for `w` x `h` blocks: block-rows bottom first, each record's palette read
// byte by byte, then its indices, each pixel placed by its picture coordinates.
bytes naive_pixels(const bytes& input, int w, int h) {
    if (w < 1 || h < 1) return {};
    const std::size_t row_bytes = static_cast<std::size_t>(w) * 64 * 3;
    const std::size_t picture_rows = static_cast<std::size_t>(h) * 64;
    bytes pixels(row_bytes * picture_rows, 0xEE);  // a filler the conversion never writes by chance
    byte_reader reader(input);
    std::array<unsigned char, 1024> palette{};
    unsigned char index = 0;
    for (int r = h - 1; r >= 0; --r) {
        for (int c = 0; c < w; ++c) {
            reader.seek((static_cast<std::size_t>(r) * static_cast<std::size_t>(w) + static_cast<std::size_t>(c)) * 5120);
            for (unsigned char& b : palette) reader.read(b);
            for (int y = 0; y < 64; ++y) {
                for (int x = 0; x < 64; ++x) {
                    reader.read(index);
                    const std::size_t picture_row = static_cast<std::size_t>(r) * 64 + static_cast<std::size_t>(y);
                    const std::size_t file_row = picture_rows - 1 - picture_row;
                    unsigned char* pixel = &pixels[file_row * row_bytes + (static_cast<std::size_t>(c) * 64 + static_cast<std::size_t>(x)) * 3];
                    for (std::size_t k = 0; k < 3; ++k) pixel[k] = palette[std::size_t{index} * 4 + k];
                }
            }
        }
    }
    return pixels;
}

std::uint32_t u32_at(const bytes& data, std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) v |= std::uint32_t{data[at + i]} << (8 * i);
    return v;
}

std::uint16_t u16_at(const bytes& data, std::size_t at) {
    return static_cast<std::uint16_t>(data[at] | data[at + 1] << 8);
}

bytes read_back(std::FILE* f) {
    check(std::fflush(f) == 0 && std::fseek(f, 0, SEEK_END) == 0);
    const long size = std::ftell(f);
    check(size >= 0);
    std::rewind(f);
    bytes content(static_cast<std::size_t>(size));
    check(std::fread(content.data(), 1, content.size(), f) == content.size());
    return content;
}

int block_count(unsigned char b) { return b % 10 - 2; }

// An output that takes `capacity` bytes and then fails every write, as a full disk does.
struct small_disk {
    bytes written;
    std::size_t capacity;
};

ssize_t write_to_disk(void* cookie, const char* data, std::size_t size) {
    auto& disk = *static_cast<small_disk*>(cookie);
    const std::size_t taken = std::min(size, disk.capacity - disk.written.size());
    disk.written.insert(disk.written.end(), data, data + taken);
    return static_cast<ssize_t>(taken);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const int w = block_count(data[0]);
    const int h = block_count(data[1]);
    const bool disk_fills = data[0] >= 100;
    const bytes input(data + 2, data + size);

    const std::unique_ptr<std::FILE, file_closer> in{std::tmpfile()};
    check(in != nullptr);
    if (!input.empty()) check(std::fwrite(input.data(), 1, input.size(), in.get()) == input.size());
    std::rewind(in.get());

    small_disk disk{{}, std::size_t{4000} * static_cast<std::size_t>(data[0] / 10 - 10)};
    const std::unique_ptr<std::FILE, file_closer> out{
        disk_fills ? fopencookie(&disk, "wb", {nullptr, write_to_disk, nullptr, nullptr}) : std::tmpfile()};
    check(out != nullptr);

    const bool ok = convert_blocks(in.get(), out.get(), w, h);
    if (disk_fills) check(std::fflush(out.get()) == 0 || !ok);
    const bytes file = disk_fills ? disk.written : read_back(out.get());

    const bool has_rows = w >= 1 && h >= 1;
    const std::uint32_t pixel_data = has_rows ? 12288u * static_cast<std::uint32_t>(w * h) : 0;
    const std::size_t file_size = 54 + std::size_t{pixel_data};
    // In this range every size fits its field: only a negative width or a full disk can fail.
    check(ok == (w >= 0 && (!disk_fills || file_size <= disk.capacity)));
    if (w < 0) {
        check(file.empty());  // refused before the first byte
        return 0;
    }

    check(file.size() == (ok ? file_size : std::min(file_size, disk.capacity)));
    if (file.size() >= 54) {
        check(file[0] == 'B' && file[1] == 'M');
        check(u32_at(file, 2) == 54 + pixel_data);
        check(u32_at(file, 6) == 0);
        check(u32_at(file, 10) == 54);
        check(u32_at(file, 14) == 40);
        check(static_cast<std::int32_t>(u32_at(file, 18)) == 64 * w);
        check(static_cast<std::int32_t>(u32_at(file, 22)) == 64 * h);
        check(u16_at(file, 26) == 1);
        check(u16_at(file, 28) == 24);
        check(u32_at(file, 30) == 0);
        check(u32_at(file, 34) == pixel_data);
        for (std::size_t at = 38; at < 54; at += 4) check(u32_at(file, at) == 0);

        // What reached the disk is the start of the right picture, all of it on success.
        const bytes expected = naive_pixels(input, w, h);
        check(std::equal(file.begin() + 54, file.end(), expected.begin()));
    }

    // The input is only ever read.
    check(read_back(in.get()) == input);
    return 0;
}
