#include "app/pack_options.h"

#include <charconv>
#include <string_view>
#include <vector>

#include "app/messages.h"

namespace quorvex {

namespace {

pack_command answered(pack_command::request asked) {
    pack_command command;
    command.asked = asked;
    return command;
}

pack_command refused(std::string_view problem, std::string_view word = {}, std::string_view after = {}) {
    pack_command command = answered(pack_command::request::usage_error);
    command.problem.append(problem).append(word).append(after);
    return command;
}

// Digits only, at least 1, within an unsigned; 0 for anything else.
unsigned thread_count(std::string_view text) {
    unsigned count = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
    return error == std::errc{} && end == text.data() + text.size() ? count : 0;
}

}  // namespace

pack_command read_pack_command(int argc, const char* const* argv) {
    pack_command command;
    std::vector<std::string_view> names;
    bool options_ended = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        if (options_ended || word == "-" || !word.starts_with('-')) {
            names.push_back(word);
        } else if (word == "--") {
            options_ended = true;
        } else if (word == "--help" || word == "-h") {
            return answered(pack_command::request::help);
        } else if (word == "--version" || word == "-V") {
            return answered(pack_command::request::version);
        } else if (word == "--force") {
            command.force = true;
        } else {
            const std::string_view option = word.substr(0, word.find('='));
            if (option != "--like" && option != "--threads") return refused(pack_messages::unknown_option, word);
            std::string_view value;
            if (option.size() < word.size()) {
                value = word.substr(option.size() + 1);
            } else if (i + 1 < argc) {
                value = argv[++i];
            } else {
                return refused(option, pack_messages::needs_value);
            }
            if (option == "--like") {
                command.like = value;
            } else if ((command.threads = thread_count(value)) == 0) {
                return refused(pack_messages::bad_thread_count, value);
            }
        }
    }
    if (names.size() < 2) return refused(names.empty() ? pack_messages::missing_both : pack_messages::missing_tisfile);
    if (names.size() > 2) return refused(pack_messages::extra_argument, names[2]);
    if (names[0].empty()) return refused(pack_messages::empty_picture_name);
    if (names[1].empty()) return refused(pack_messages::empty_tisfile_name);
    if (command.like && command.like->empty()) return refused(pack_messages::empty_original_name);
    // Standard input is read once, from the start, by one reader.
    if (names[0] == "-" && command.like == "-") return refused(pack_messages::standard_input_twice);
    command.picture = names[0];
    command.tiles = names[1];
    return command;
}

}  // namespace quorvex
