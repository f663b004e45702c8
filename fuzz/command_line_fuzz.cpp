// Fuzzes the command-line rules that turn arguments into names and sizes.
//
// The whole input is one argument: it is read as a block count against strtoll, and as an
// input name whose output name must keep the naming rule. Split at its first NUL it becomes a
// width and a height, which must be refused exactly when a size passes its header field, by
// limits worked out here by division, not by multiplication.
// The saved corpus, which every build replays as a test, holds besides what fuzzing found the
// worked cases of both rules: spaces, signs, stray characters, a decimal point and saturation
// for the counts; several dots, a leading dot, dots in folders, either slash, upper case, UTF-8
// and a 5000-byte stem for the names.
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

    // The folders kept as they are; the name after the last '/' cut at its last '.' unless
    // that '.' is its first character.
    const std::string output = make_output_name(text);
    const std::size_t start = text.rfind('/') + 1;  // 0 when there is no '/'
    const std::string last = text.substr(start);
    const std::size_t dot = last.rfind('.');
    check(output == text.substr(0, start) + (dot != std::string::npos && dot != 0 ? last.substr(0, dot) : last) + ".bmp");

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
