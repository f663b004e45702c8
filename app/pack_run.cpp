#include "app/pack_run.h"

#include <string>

#include "app/files.h"
#include "app/help_and_version.h"
#include "app/messages.h"
#include "conversion/block_geometry.h"
#include "packing/pack_blocks.h"
#include "packing/read_picture.h"

namespace quorvex {

namespace {

constexpr int exit_packed = 0;
constexpr int exit_answered = 0;
constexpr int exit_failed = 1;

std::string size_text(std::int64_t width, std::int64_t height) {
    return std::to_string(width) + std::string(pack_messages::by) + std::to_string(height);
}

}  // namespace

int pack_run(int argc, const char* const* argv, std::ostream& out) {
    say(out, messages::banner);
    if (answered_help_or_version(argc, argv, pack_messages::usage, out)) return exit_answered;
    if (argc < 3) {
        say(out, pack_messages::usage);
        return exit_failed;
    }

    const std::string picture_name = argv[1];
    const std::string output_name = argv[2];
    const stdio_file input = stdio_file::open(picture_name, "rb");
    picture pic;
    const picture_problem problem = input ? read_picture(input.get(), pic) : picture_problem::unreadable;
    if (problem == picture_problem::refused) {
        say(out, picture_name, pic.refusal);
        return exit_failed;
    }
    if (problem == picture_problem::unreadable) {
        say(out, picture_name, pack_messages::not_a_picture);
        return exit_failed;
    }
    if (problem == picture_problem::size_not_in_blocks) {
        say(out, picture_name + std::string(pack_messages::size_is), size_text(pic.width, pic.height),
            pack_messages::size_must_be);
        return exit_failed;
    }

    // Replacing the picture would lose it whole; it is refused by file identity, not by name.
    pending_output output = pending_output::create(output_name, input.get());
    if (said_output_refused(output, output_name, out)) return exit_failed;
    const pack_result packed = pack_blocks(pic, output.get());
    if (packed.failed != pack_stage::none || !output.keep()) {
        say(out, pack_messages::packing_failed);
        return exit_failed;
    }
    const std::int64_t side = block_geometry::block_side;
    say(out, pack_messages::written, size_text(pic.width / side, pic.height / side),
        std::string(pack_messages::blocks_reduced) + std::to_string(packed.reduced) + std::string(pack_messages::reduced_to_256));
    // A script that cannot be told the outcome must not take the run for a success.
    return out ? exit_packed : exit_failed;
}

}  // namespace quorvex
