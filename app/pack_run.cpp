#include "app/pack_run.h"

#include <iostream>
#include <string>

#include "app/exit_status.h"
#include "app/files.h"
#include "app/help_and_version.h"
#include "app/messages.h"
#include "app/output_refusal.h"
#include "conversion/block_geometry.h"
#include "packing/pack_blocks.h"
#include "packing/read_picture.h"

namespace quorvex {

namespace {

std::string size_text(std::int64_t width, std::int64_t height) {
    return std::to_string(width) + std::string(pack_messages::by) + std::to_string(height);
}

}  // namespace

int pack_run(int argc, const char* const* argv, std::ostream& standard_output) {
    // Tile data on standard output leaves the messages to standard error.
    std::ostream& out = argc >= 3 && pending_output::names_standard_output(argv[2]) ? std::cerr : standard_output;
    say(out, messages::banner);
    if (answered_help_or_version(argc, argv, pack_messages::usage, out)) return exit_status::success;
    if (argc < 3) {
        say(out, pack_messages::usage);
        return exit_status::failure;
    }

    const std::string picture_name = argv[1];
    const std::string output_name = argv[2];
    const stdio_file input = stdio_file::open(picture_name, "rb");
    picture pic;
    const picture_problem problem = input ? read_picture(input.get(), pic) : picture_problem::unreadable;
    if (problem == picture_problem::unreadable) {
        say(out, picture_name, pack_messages::not_a_picture);
        return exit_status::failure;
    }
    if (problem == picture_problem::size_not_in_blocks) {
        say(out, picture_name + std::string(pack_messages::size_is), size_text(pic.width, pic.height),
            pack_messages::size_must_be);
        return exit_status::failure;
    }

    // Replacing the picture would lose it whole; it is refused by file identity, not by name.
    pending_output output = pending_output::create(output_name, input.get());
    if (said_output_refused(output, output_name, out)) return exit_status::failure;
    const pack_result packed = pack_blocks(pic, output.get());
    if (packed.failed != pack_stage::none || !output.keep()) {
        say(out, pack_messages::packing_failed);
        return exit_status::failure;
    }
    const std::int64_t side = block_geometry::block_side;
    say(out, pack_messages::written, size_text(pic.width / side, pic.height / side),
        std::string(pack_messages::blocks_reduced) + std::to_string(packed.reduced) + std::string(pack_messages::reduced_to_256));
    // A script that cannot be told the outcome must not take the run for a success.
    return out ? exit_status::success : exit_status::failure;
}

}  // namespace quorvex
