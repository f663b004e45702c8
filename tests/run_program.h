#pragma once

// Runs the real programs as separate processes, the way a script does.
//
// By default the binaries built beside the tests run. QUORVEX_COMMAND and QUORVEX_PACK_COMMAND,
// when set, replace them with a command line split at spaces (for example "wine quorvex.exe"),
// so the same tests can judge another build of the programs; CRLF line ends then read as LF.

#include <sys/resource.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct program_outcome {
    std::string out;
    std::string err;
    int status = -1;  // the exit status, or 128 + the signal that ended it
};

/// Limits for the child. Writes past `file_size` fail as on a full disk or, when `killed`, end
/// the program by its signal there; `address_space` caps the memory it can have.
struct run_limits {
    std::optional<rlim_t> file_size = std::nullopt;
    std::optional<rlim_t> address_space = std::nullopt;
    bool killed = false;
};

/// Runs the converter with `args` in the folder `dir`, under `limits`.
program_outcome run_quorvex(const std::filesystem::path& dir, const std::vector<std::string>& args,
                            const run_limits& limits = {});

/// The same for quorvex-pack.
program_outcome run_quorvex_pack(const std::filesystem::path& dir, const std::vector<std::string>& args,
                                 const run_limits& limits = {});

/// True when QUORVEX_COMMAND runs another build; tests of POSIX-only situations skip then.
bool runs_other_build();
