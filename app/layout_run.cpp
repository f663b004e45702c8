#include "app/layout_run.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "app/exit_status.h"
#include "app/files.h"
#include "app/layout_outcome.h"
#include "app/messages.h"
#include "conversion/block_geometry.h"
#include "layout/layout_finder.h"

namespace quorvex {

namespace {

// Records read at a time: large reads, little memory.
constexpr std::size_t chunk_records = 64;

struct layout_command {
    bool numbers = false;
    bool help = false;
    bool version = false;
    std::string problem;  // a usage error: the line that names it
    std::string tiles;
};

// Every word that starts with '-' before `--` is an option, wherever it stands.
layout_command read_layout_command(int argc, const char* const* argv) {
    layout_command command;
    std::vector<std::string_view> names;
    bool options_ended = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        if (options_ended || word == "-" || !word.starts_with('-')) {
            names.push_back(word);
        } else if (word == "--") {
            options_ended = true;
        } else if (word == "--numbers") {
            command.numbers = true;
        } else if (word == "--help" || word == "-h") {
            command.help = true;
        } else if (word == "--version" || word == "-V") {
            command.version = true;
        } else if (command.problem.empty()) {
            command.problem = std::string(layout_messages::unknown_option).append(word);
        }
    }
    if (!command.problem.empty() || command.help || command.version) return command;
    if (names.empty()) command.problem = layout_messages::missing_tisfile;
    else if (names.size() > 1) command.problem = std::string(layout_messages::extra_argument).append(names[1]);
    else command.tiles = names[0];
    return command;
}

// `name` as a POSIX shell reads it back: as it is when every character is safe there, else in
// single quotes, each quote inside written '\''.
std::string shell_quoted(const std::string& name) {
    const bool safe = !name.empty() && name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                             "0123456789_-./+,:@%") == std::string::npos;
    if (safe) return name;
    std::string quoted = "'";
    for (const char c : name) quoted.append(c == '\'' ? "'\\''" : std::string(1, c));
    return quoted.append("'");
}

// Reads the whole file into `finder`; false, having said why, when a read fails.
bool read_into(const std::string& name, layout_finder& finder, std::ostream& log) {
    errno = 0;
    const stdio_file file = stdio_file::open(name, "rb");
    if (!file) {
        say(log, name, layout_messages::because, std::strerror(errno != 0 ? errno : ENOENT));
        return false;
    }
    std::vector<unsigned char> chunk(chunk_records * block_geometry::record_bytes);
    std::size_t got = 0;
    while ((got = std::fread(chunk.data(), 1, chunk.size(), file.get())) > 0) finder.add(std::span(chunk).first(got));
    if (std::ferror(file.get()) != 0) {
        const int error = errno;
        say(log, name, layout_messages::because, error != 0 ? std::strerror(error) : layout_messages::ended_early);
        return false;
    }
    return true;
}

}  // namespace

int layout_run(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    hold_standard_descriptors();
    const layout_command command = read_layout_command(argc, argv);
    // With --numbers standard output holds the two numbers alone, for a shell to capture.
    std::ostream& log = command.numbers ? err : out;
    say(log, messages::banner);
    if (command.help) {
        say(log, layout_messages::usage);
        return exit_status::success;
    }
    if (command.version) return exit_status::success;
    if (!command.problem.empty()) {
        say(log, command.problem);
        say(log, layout_messages::usage);
        return exit_status::failure;
    }

    layout_result found;
    try {
        layout_finder finder;
        if (!read_into(command.tiles, finder, log)) return exit_status::failure;
        found = finder.find();
    } catch (const std::bad_alloc&) {
        // The one place a refused allocation is met: the edges of a huge file on a small machine.
        say(log, command.tiles, layout_messages::because, layout_messages::no_memory);
        return exit_status::failure;
    }
    if (found.refusal != layout_refusal::none) {
        say(log, layout_refusal_line(found, command.tiles));
        return exit_status::failure;
    }
    say(log, layout_line(layout_messages::layout, found.best));
    say(log, layout_messages::command, shell_quoted(command.tiles) + ' ' + std::to_string(found.best.width) + ' ',
        std::to_string(found.best.height));
    for (const layout_guess& g : found.also) say(log, layout_line(layout_messages::also_possible, g));
    if (command.numbers) say(out, std::to_string(found.best.width) + ' ' + std::to_string(found.best.height));
    // A script that cannot be told the outcome must not take the run for a success.
    return out && log ? exit_status::success : exit_status::failure;
}

}  // namespace quorvex
