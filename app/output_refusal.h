#pragma once

#include <ostream>
#include <string_view>

#include "app/files.h"
#include "app/messages.h"

namespace quorvex {

/// Says why `output` was refused, the same for both programs, `cause` (quorvex-pack's system
/// reason) following the name of an output that could not be had; false when it was not refused.
[[nodiscard]] inline bool said_output_refused(const pending_output& output, std::string_view name, std::ostream& out,
                                              std::string_view cause = {}) {
    if (output.refused() == pending_output::refusal::is_input) {
        say(out, messages::cannot_open_output, name, messages::output_is_input);
    } else if (!output) {
        say(out, messages::cannot_open_output, name, cause);
    }
    return !output;
}

}  // namespace quorvex
