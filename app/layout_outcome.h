#pragma once

// The outcome lines of quorvex-layout, shared with the web page so both say the same words.

#include <string>
#include <string_view>

#include "layout/layout_finder.h"

namespace quorvex {

/// "Layout: 6 x 2 blocks" (or the same after another `lead`, "Also possible: "), with the
/// records after the last full block-row when there are any.
[[nodiscard]] std::string layout_line(std::string_view lead, const layout_guess& guess);

/// Why the tile data named `name` gave no layout; empty when `found` holds one.
[[nodiscard]] std::string layout_refusal_line(const layout_result& found, const std::string& name);

}  // namespace quorvex
