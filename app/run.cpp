#include "app/run.h"

#include <array>
#include <cstddef>
#include <string>

#include "app/block_count.h"
#include "app/exit_status.h"
#include "app/files.h"
#include "app/help_and_version.h"
#include "app/messages.h"
#include "app/output_name.h"
#include "app/output_refusal.h"
#include "conversion/convert_blocks.h"
#include "conversion/picture_signature.h"

namespace quorvex {

int run(int argc, const char* const* argv, std::ostream& out) {
    hold_standard_descriptors();
    say(out, messages::banner);
    if (answered_help_or_version(argc, argv, messages::usage, out)) return exit_status::success;
    if (argc < 4) {
        say(out, messages::usage);
        return exit_status::failure;
    }

    const std::string input_name = argv[1];
    const stdio_file input = stdio_file::open(input_name, "rb");
    if (!input) {
        say(out, input_name, messages::not_tile_data);
        return exit_status::failure;
    }

    // A picture handed over by a slip of the tab key would be drawn as noise over the bitmap
    // beside it: refused before the output is touched. Only an input that can seek is looked
    // at: a pipe fails at the conversion's first seek as it always did, and reading it here
    // would wait for its writer. convert_blocks seeks to every row it reads.
    byte_source source = byte_source::file(input.get());
    std::array<unsigned char, picture_signature_bytes> first{};
    const std::size_t got = source.seek(0) ? source.read(first) : 0;
    if (starts_like_picture({first.data(), got})) {
        say(out, input_name, messages::not_tile_data);
        return exit_status::failure;
    }

    const std::string output_name = make_output_name(input_name);
    // Replacing the input would lose it whole; it is refused by file identity, not by name.
    pending_output output = pending_output::create(output_name, input.get());
    if (said_output_refused(output, output_name, out)) return exit_status::failure;

    const std::int32_t height = parse_block_count(argv[3]);
    const std::int32_t width = parse_block_count(argv[2]);
    // A count below 1 is a typo or a missing number: its bitmap would hold no pixel, which no
    // program opens, so it must not replace a good one. Nor must a count larger than the
    // input holds records for: convert_blocks refuses that.
    const bool has_pixels = width >= 1 && height >= 1;
    byte_sink sink = byte_sink::file(output.get());
    if (!has_pixels || !convert_blocks(source, sink, width, height) || !output.keep()) {
        say(out, messages::conversion_failed);
        return exit_status::failure;
    }
    say(out, messages::converted);
    // A script that cannot be told the outcome must not take the run for a success.
    return out ? exit_status::success : exit_status::failure;
}

}  // namespace quorvex
