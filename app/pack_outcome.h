#pragma once

// The outcome lines of quorvex-pack, shared with the web page so both say the same words.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "packing/pack_blocks.h"
#include "packing/read_picture.h"

namespace quorvex {

/// The line for a picture read_picture did not accept, named `name`; empty for `none`.
[[nodiscard]] std::string refused_picture_line(const std::string& name, picture_problem problem, const picture& pic);

/// The success line after the banner: the size in blocks and what became of the blocks.
[[nodiscard]] std::string written_line(const picture& pic, const pack_result& packed, bool like);

/// Why an original named `name`, `bytes` long and starting with `first` (its first
/// picture_signature_bytes or all of it), is no tile data for --like to follow; nothing when
/// it is: a whole number of records, not a picture.
[[nodiscard]] std::optional<std::string> original_refusal_line(const std::string& name, std::span<const unsigned char> first,
                                                               std::uint64_t bytes);

/// The line for a run that failed reading or writing: the file named for packed.failed (one
/// of the three names) and the system's reason, or ours when it gave none.
[[nodiscard]] std::string packing_failed_line(const pack_result& packed, const std::string& picture_name,
                                              const std::string& model_name, const std::string& output_name);

}  // namespace quorvex
