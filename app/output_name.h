#pragma once

#include <string>
#include <string_view>

namespace quorvex {

/// The bitmap's name for an input name: cut at the last '.' unless that '.' is the very
/// first character, then ".bmp". The scan crosses directory separators on purpose.
[[nodiscard]] std::string make_output_name(std::string_view input_name);

}  // namespace quorvex
