#pragma once

#include <cstdint>
#include <string_view>

namespace quorvex {

/// Reads a block count the way the command line always has: leading white space, one
/// optional sign, then decimal digits up to the first other character. No digits read
/// as 0; values beyond the 32-bit range saturate at its nearest limit. Never fails.
[[nodiscard]] std::int32_t parse_block_count(std::string_view text);

}  // namespace quorvex
