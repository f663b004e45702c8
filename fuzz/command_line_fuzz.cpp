// Fuzzes the command-line rules that turn arguments into names and sizes.
//
// The whole input is one argument: it is read as a block count against a reference built on
// strtoll, and as an input name whose output name must keep the properties of the naming
// rule. Split at its first NUL it becomes a width and a height, and the sizes planned for
// them are checked against limits worked out here by division, not by multiplication.

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>

#include "app/block_count.h"
#include "app/output_name.h"
#include "conversion/bitmap_header.h"

namespace {

void check(bool holds) {
    if (!holds) std::abort();
}

constexpr std::int64_t int32_min = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t int32_max = std::numeric_limits<std::int32_t>::max();

// strtoll stops at the first NUL, which is not a digit either, so the C string agrees with
// the whole argument. It saturates at the 64-bit limits, which lie beyond the 32-bit ones.
std::int32_t reference_count(std::string_view text) {
    const std::string copy(text);
    errno = 0;
    const long long value = std::strtoll(copy.c_str(), nullptr, 10);
    if (value > int32_max) return std::numeric_limits<std::int32_t>::max();
    if (value < int32_min) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

void check_output_name(std::string_view input) {
    const std::string output = make_output_name(input);
    check(output.size() >= 4 && output.compare(output.size() - 4, 4, ".bmp") == 0);
    const std::string_view stem = std::string_view(output).substr(0, output.size() - 4);
    check(input.substr(0, stem.size()) == stem);
    if (stem.size() == input.size()) {
        // Kept whole: there is no '.' at all, or only the first character is one.
        const std::size_t dot = input.find('.', 1);
        check(dot == std::string_view::npos);
    } else {
        // Cut at a '.' that is not the first character, and no '.' follows it.
        check(!stem.empty() && input[stem.size()] == '.');
        check(input.find('.', stem.size() + 1) == std::string_view::npos);
    }
}

// What the bitmap header can hold: pixel sizes in signed 32 bits and a file size in unsigned
// 32 bits; a negative width has no picture at all.
void check_plan(std::int32_t w, std::int32_t h) {
    const auto plan = plan_bitmap(w, h);
    const bool has_rows = w >= 1 && h >= 1;
    const std::int64_t most_blocks = (std::int64_t{0xFFFFFFFF} - 54) / 12288;
    const bool possible = w >= 0 && w <= int32_max / 64 && h >= int32_min / 64 && h <= int32_max / 64 &&
                          (!has_rows || std::int64_t{w} * h <= most_blocks);
    check(plan.has_value() == possible);
    if (!plan) return;
    check(plan->has_rows == has_rows);
    check(plan->width_pixels == std::int64_t{w} * 64 && plan->height_pixels == std::int64_t{h} * 64);
    const std::uint64_t pixel_data = has_rows ? std::uint64_t{12288} * static_cast<std::uint64_t>(w) *
                                                    static_cast<std::uint64_t>(h)
                                              : 0;
    check(plan->pixel_data_bytes == pixel_data);
    check(plan->file_bytes == pixel_data + 54);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    check(parse_block_count(text) == reference_count(text));
    check_output_name(text);

    const std::size_t split = text.find('\0');
    if (split != std::string_view::npos) {
        const std::int32_t w = parse_block_count(text.substr(0, split));
        const std::int32_t h = parse_block_count(text.substr(split + 1));
        check_plan(w, h);
    }
    return 0;
}
