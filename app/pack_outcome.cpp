#include "app/pack_outcome.h"

#include <cstring>
#include <string_view>

#include "app/messages.h"
#include "conversion/block_geometry.h"
#include "conversion/picture_signature.h"

namespace quorvex {

namespace {

std::string text(std::int64_t number, std::string_view after) { return std::to_string(number).append(after); }

}  // namespace

std::string refused_picture_line(const std::string& name, picture_problem problem, const picture& pic) {
    switch (problem) {
        case picture_problem::none:
            return {};
        case picture_problem::refused:
            return name + pic.refusal;
        case picture_problem::unreadable:
            return name + std::string(pack_messages::not_a_picture);
        case picture_problem::size_not_in_blocks:
            break;
    }
    return name + std::string(pack_messages::size_is) + text(pic.width, pack_messages::by) +
           std::to_string(pic.height) + std::string(pack_messages::size_must_be);
}

std::string written_line(const picture& pic, const pack_result& packed, bool like) {
    const std::int64_t side = block_geometry::block_side;
    std::string line = std::string(pack_messages::written)
                           .append(text(pic.width / side, pack_messages::by))
                           .append(text(pic.height / side, pack_messages::blocks));
    if (like) {
        line.append(text(packed.unchanged, pack_messages::unchanged)).append(text(packed.changed, pack_messages::changed));
    }
    line.append(text(packed.reduced, pack_messages::reduced_to_256));
    if (like && packed.unmodelled > 0) {
        line.append(pack_messages::and_then).append(text(packed.unmodelled, pack_messages::no_original_record));
    }
    if (like && packed.kept > 0) line.append(pack_messages::and_then).append(text(packed.kept, pack_messages::records_kept));
    return line;
}

std::optional<std::string> original_refusal_line(const std::string& name, std::span<const unsigned char> first,
                                                 std::uint64_t bytes) {
    if (starts_like_picture(first)) return name + std::string(pack_messages::original_is_picture);
    if (bytes % block_geometry::record_bytes != 0) {
        return name + std::string(pack_messages::original_of) + std::to_string(bytes) +
               std::string(pack_messages::original_not_records) + std::to_string(block_geometry::record_bytes) +
               std::string(pack_messages::original_record_size);
    }
    return std::nullopt;
}

std::string packing_failed_line(const pack_result& packed, const std::string& picture_name,
                                const std::string& model_name, const std::string& output_name) {
    const bool reading = packed.failed != pack_stage::output;
    const std::string& file = packed.failed == pack_stage::picture ? picture_name
                              : packed.failed == pack_stage::model ? model_name
                                                                   : output_name;
    const std::string_view reason = packed.error != 0 ? std::strerror(packed.error)
                                    : reading         ? pack_messages::ended_early
                                                      : pack_messages::not_written;
    return std::string(pack_messages::packing_failed).append(file).append(pack_messages::because).append(reason);
}

}  // namespace quorvex
