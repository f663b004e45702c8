#include "app/layout_outcome.h"

#include "app/messages.h"

namespace quorvex {

std::string layout_line(std::string_view lead, const layout_guess& guess) {
    std::string line = std::string(lead)
                           .append(std::to_string(guess.width))
                           .append(layout_messages::by)
                           .append(std::to_string(guess.height))
                           .append(layout_messages::blocks);
    if (guess.extra == 1) line.append(layout_messages::record_after);
    if (guess.extra > 1) {
        line.append(layout_messages::and_then).append(std::to_string(guess.extra)).append(layout_messages::records_after);
    }
    return line;
}

std::string layout_refusal_line(const layout_result& found, const std::string& name) {
    switch (found.refusal) {
        case layout_refusal::empty: return name + std::string(layout_messages::is_empty);
        case layout_refusal::picture: return name + std::string(layout_messages::is_picture);
        case layout_refusal::not_whole_records: return name + std::string(layout_messages::not_whole_records);
        case layout_refusal::single_record: return name + std::string(layout_messages::single_record);
        case layout_refusal::too_many_records:
            return name + std::string(layout_messages::too_many_records) + std::to_string(layout_finder::max_records);
        case layout_refusal::cannot_tell:
            return std::string(layout_messages::cannot_tell).append(name).append(layout_messages::cannot_tell_why);
        case layout_refusal::none: break;
    }
    return {};
}

}  // namespace quorvex
