#include "bench/io_floor.h"

#include <sys/types.h>

#include <vector>

#include "conversion/bitmap_header.h"
#include "conversion/block_geometry.h"

bool copy_at_io_floor(std::FILE* in, std::FILE* out, std::int32_t width_blocks,
                      std::int32_t height_blocks) {
    using namespace block_geometry;
    const auto size = plan_bitmap(width_blocks, height_blocks);
    if (!size || !write_bitmap_header(out, *size)) return false;
    if (!size->has_rows) return std::fflush(out) == 0;

    const auto width = static_cast<std::size_t>(width_blocks);
    std::vector<unsigned char> records(width * record_bytes);
    const std::vector<unsigned char> strip(width * block_strip_bytes, 0x5a);
    for (std::int64_t row = height_blocks - 1; row >= 0; --row) {
        if (fseeko(in, static_cast<off_t>(row * static_cast<std::int64_t>(records.size())), SEEK_SET) != 0) {
            return false;
        }
        if (std::fread(records.data(), 1, records.size(), in) != records.size()) return false;
        if (std::fwrite(strip.data(), 1, strip.size(), out) != strip.size()) return false;
    }
    return std::fflush(out) == 0;
}
