#include "app/pack_run.h"

#include <string>
#include <string_view>

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
    // `--like <original>` may come first; the rest are the picture and the tile file.
    const bool like = argc > 1 && std::string_view(argv[1]) == "--like";
    const int first = like ? 3 : 1;
    if (argc < first + 2) {
        say(out, pack_messages::usage);
        return exit_failed;
    }

    const std::string picture_name = argv[first];
    const std::string output_name = argv[first + 1];
    const stdio_file input = stdio_file::open(picture_name, "rb");
    picture pic;
    const picture_problem problem = input ? read_picture(input.get(), pic) : picture_problem::unreadable;
    if (problem == picture_problem::unreadable) {
        say(out, picture_name, pack_messages::not_a_picture);
        return exit_failed;
    }
    if (problem == picture_problem::size_not_in_blocks) {
        say(out, picture_name + std::string(pack_messages::size_is), size_text(pic.width, pic.height),
            pack_messages::size_must_be);
        return exit_failed;
    }

    // Open before the output exists, so that the output may replace the original: the
    // original is read as it was.
    stdio_file model = like ? stdio_file::open(argv[2], "rb") : stdio_file{};
    if (like && !model) {
        say(out, argv[2], messages::not_tile_data);
        return exit_failed;
    }

    // Replacing the picture would lose it whole; it is refused by file identity, not by name.
    pending_output output = pending_output::create(output_name, input.get());
    if (said_output_refused(output, output_name, out)) return exit_failed;
    pack_settings settings;
    settings.model = model.get();
    const pack_result packed = pack_blocks(pic, output.get(), settings);
    // Done with the original, which Windows would not let the output replace while open.
    (void)model.close();
    if (packed.failed != pack_stage::none || !output.keep()) {
        say(out, pack_messages::packing_failed);
        return exit_failed;
    }
    const std::int64_t side = block_geometry::block_side;
    std::string counts(pack_messages::blocks_reduced);
    if (like) {
        counts.append(std::to_string(packed.unchanged)).append(pack_messages::unchanged);
        counts.append(std::to_string(packed.changed)).append(pack_messages::changed);
    }
    counts.append(std::to_string(packed.reduced)).append(pack_messages::reduced_to_256);
    if (packed.unmodelled > 0) {
        counts.append(pack_messages::next_count).append(std::to_string(packed.unmodelled)).append(pack_messages::no_original_record);
    }
    say(out, pack_messages::written, size_text(pic.width / side, pic.height / side), counts);
    // A script that cannot be told the outcome must not take the run for a success.
    return out ? exit_packed : exit_failed;
}

}  // namespace quorvex
