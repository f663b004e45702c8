// Fuzzes the command-line rules that turn arguments into names and sizes.
//
// The whole input is one argument: it is read as a block count against strtoll, and as an
// input name whose output name must keep the naming rule. Split at its first NUL it becomes a
// width and a height, which must be refused exactly when a size passes its header field, by
// limits worked out here by division, not by multiplication.
// The saved corpus holds, besides what fuzzing found, the worked cases of both rules: spaces,
// signs, stray characters and saturation for the counts; several dots, a leading dot, dots in
// folders, either slash, upper case, UTF-8 and a 5000-byte stem for the names.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/block_count.h"
#include "app/output_name.h"
#include "conversion/bitmap_header.h"
#include "tests/test_support.h"

using namespace quorvex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    // strtoll stops at the first NUL, which is no digit either, and saturates beyond 32 bits.
    const long long count = std::strtoll(text.c_str(), nullptr, 10);
    check(parse_block_count(text) == (count > INT32_MAX ? INT32_MAX : count < INT32_MIN ? INT32_MIN : count));

    // The name is the input's start and ".bmp". What was cut off is one '.' and what follows
    // it up to the end, with no other '.', and not the whole name; a name that lost nothing
    // has no '.' past its first character.
    const std::string output = make_output_name(text);
    check(output.size() >= 4 && output.ends_with(".bmp"));
    const std::string_view stem = std::string_view(output).substr(0, output.size() - 4);
    check(std::string_view(text).starts_with(stem));
    const std::string_view cut = std::string_view(text).substr(stem.size());
    check(cut.empty() ? text.find('.', 1) == std::string::npos
                      : cut[0] == '.' && cut.find('.', 1) == std::string::npos && !stem.empty());

    const std::size_t split = text.find('\0');
    if (split == std::string::npos) return 0;
    const std::int64_t w = parse_block_count(text.substr(0, split));
    const std::int64_t h = parse_block_count(text.substr(split + 1));
    const bool fits = w >= 0 && w <= INT32_MAX / 64 && h >= INT32_MIN / 64 && h <= INT32_MAX / 64 &&
                      (w < 1 || h < 1 || w * h <= (std::int64_t{UINT32_MAX} - 54) / 12288);
    const auto plan = plan_bitmap(static_cast<std::int32_t>(w), static_cast<std::int32_t>(h));
    check(plan.has_value() == fits);
    check(!plan || plan->file_bytes == 54 + std::uint64_t{plan->pixel_data_bytes});
    return 0;
}
