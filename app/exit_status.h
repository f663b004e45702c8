#pragma once

// The exit statuses of both programs, which scripts test.

namespace quorvex::exit_status {

/// The output was written, or help or the version was asked for.
inline constexpr int success = 0;
/// A usage error, an input or output that cannot be had, or a failed conversion or packing.
inline constexpr int failure = 1;

}  // namespace quorvex::exit_status
