#include "app/output_name.h"

#include "app/messages.h"

namespace quorvex {

std::string make_output_name(std::string_view input_name, name_rules rules) {
    std::size_t component = 0;  // where the last component starts
    if (rules == name_rules::windows) {
        const bool drive = input_name.size() >= 2 && input_name[1] == ':' &&
                           ((input_name[0] >= 'A' && input_name[0] <= 'Z') || (input_name[0] >= 'a' && input_name[0] <= 'z'));
        if (drive) component = 2;
    }
    const std::size_t folder_end = input_name.find_last_of(rules == name_rules::windows ? "/\\" : "/");
    if (folder_end != std::string_view::npos) component = folder_end + 1;

    // A dot before the last component belongs to a folder, and one that begins the component
    // names a hidden file: neither starts an extension.
    const std::size_t dot = input_name.rfind('.');
    const bool cut = dot != std::string_view::npos && dot > component;
    std::string name{input_name.substr(0, cut ? dot : input_name.size())};
    name += messages::output_extension;
    return name;
}

}  // namespace quorvex
