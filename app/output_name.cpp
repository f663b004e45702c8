#include "app/output_name.h"

#include "app/messages.h"

namespace quorvex {

std::string make_output_name(std::string_view input_name) {
    const std::size_t dot = input_name.rfind('.');
    const bool cut = dot != std::string_view::npos && dot != 0;
    std::string name{input_name.substr(0, cut ? dot : input_name.size())};
    name += messages::output_extension;
    return name;
}

}  // namespace quorvex
