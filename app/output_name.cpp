#include "app/output_name.h"

#include "app/messages.h"

namespace quorvex {

std::string make_output_name(std::string_view input_name, name_rules rules) {
    const bool windows = rules == name_rules::windows;
    // The last component starts after the last separator; on Windows, failing that, after a
    // drive's ':' (no file name there may hold a ':').
    std::size_t component = windows && input_name.find(':') == 1 ? 2 : 0;
    const std::size_t separator = input_name.find_last_of(windows ? "/\\" : "/");
    if (separator != std::string_view::npos) component = separator + 1;

    // A dot before the last component belongs to a folder, and one that begins the component
    // names a hidden file: neither starts an extension. No dot at all (npos) keeps the name whole.
    const std::size_t dot = input_name.rfind('.');
    std::string name{input_name.substr(0, dot > component ? dot : input_name.size())};
    name += messages::output_extension;
    return name;
}

}  // namespace quorvex
