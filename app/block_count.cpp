#include "app/block_count.h"

#include <limits>

namespace quorvex {

namespace {

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::int32_t parse_block_count(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && is_space(text[at])) ++at;

    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';

    // Accumulate the magnitude in 64 bits and stop growing it once it is past every limit,
    // so long digit strings cannot overflow.
    constexpr std::int64_t past_limit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 2;
    std::int64_t magnitude = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        if (magnitude < past_limit) magnitude = magnitude * 10 + (text[at] - '0');
    }

    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    if (value < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

}  // namespace quorvex
