// Fuzzes the block conversion through real files against the reference decoder.
//
// Input: byte 0 gives the width and byte 1 the height in blocks, each in -2..7 (b % 10 - 2);
// the rest is the tile data. From 100 up, byte 0 also fills the disk: the output then takes
// only 4000 x (b / 10 - 10) bytes, and the conversion must fail exactly when its bitmap does
// not fit, having written the start of the right one. Tile data short of width x height
// records must fail with nothing written.

#include <sys/types.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "conversion/convert_blocks.h"
#include "tests/test_support.h"

using namespace quorvex;

namespace {

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
    const int width = data[0] % 10 - 2;
    const int height = data[1] % 10 - 2;
    const bytes input(data + 2, data + size);
    small_disk disk{{}, data[0] >= 100 ? std::size_t{4000} * static_cast<std::size_t>(data[0] / 10 - 10) : SIZE_MAX};
    const unique_file in = temp_file_with(input), out{fopencookie(&disk, "wb", {nullptr, write_to_disk, nullptr, nullptr})};
    check(in && out);

    byte_source source = byte_source::file(in.get());
    byte_sink sink = byte_sink::file(out.get());
    const bool ok = convert_blocks(source, sink, width, height);
    check(!ok || std::fflush(out.get()) == 0);  // success means everything reached the disk
    // In this range every size fits its field: only a negative width, missing records or a
    // full disk can fail. Missing records are known from the file's size: nothing is written.
    const bool whole = width < 1 || height < 1 || input.size() >= std::size_t{5120} * static_cast<std::size_t>(width * height);
    const conversion expected = convert_bytes(reference_convert, input, width, height);
    check(expected.ok == (width >= 0 && whole));
    if (!whole) {
        check(!ok && disk.written.empty());
    } else {
        check(ok == (width >= 0 && expected.file.size() <= disk.capacity));
        check(disk.written.size() == std::min(expected.file.size(), disk.capacity));
        check(std::equal(disk.written.begin(), disk.written.end(), expected.file.begin()));
    }
    check(read_all(in.get()) == input);  // the input is only ever read
    return 0;
}
