#pragma once

#include <string>
#include <string_view>

namespace quorvex {

/// Where a name's folders end: after the last '/' on every system; on Windows also after
/// the last '\' and after a drive's ':' ("C:tiles").
enum class name_rules { posix, windows };
#ifdef _WIN32
inline constexpr name_rules native_name_rules = name_rules::windows;
#else
inline constexpr name_rules native_name_rules = name_rules::posix;
#endif

/// The bitmap's name for an input name, beside the input: the last component cut at its last
/// '.' unless that '.' begins it, then ".bmp". The folders before it are never changed.
[[nodiscard]] std::string make_output_name(std::string_view input_name, name_rules rules = native_name_rules);

}  // namespace quorvex
