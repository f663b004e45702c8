#include "app/pack_run.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>

#include "app/exit_status.h"
#include "app/files.h"
#include "app/messages.h"
#include "app/output_refusal.h"
#include "app/pack_outcome.h"
#include "app/pack_options.h"
#include "app/pack_progress.h"
#include "conversion/file_offsets.h"
#include "conversion/picture_signature.h"
#include "packing/pack_blocks.h"
#include "packing/read_picture.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace quorvex {

namespace {

// How a file given as "-" is named in messages.
std::string shown_name(const std::string& name, std::string_view standard_stream) {
    return name == "-" ? std::string(standard_stream) : name;
}

// Pictures and tile data are bytes: no line ends may be translated on the standard streams.
std::FILE* binary(std::FILE* stream) {
#ifdef _WIN32
    (void)_setmode(_fileno(stream), _O_BINARY);
#endif
    return stream;
}

// The system's reason a file could not be had, from its error number.
std::string cause(int error) { return std::string(pack_messages::because).append(std::strerror(error)); }

// Opens `name` to read, "-" being standard input; says why and gives null when it cannot.
std::FILE* open_to_read(const std::string& name, stdio_file& owner, std::ostream& log) {
    if (name == "-") return binary(stdin);
    errno = 0;
    owner = stdio_file::open(name, "rb");
    if (!owner) say(log, name, cause(errno));
    return owner.get();
}

// One run once its files are open: what was asked, where it reports, what it reads.
struct pack_job {
    const pack_command& command;
    std::ostream& log;
    progress_line& progress;
    std::FILE* picture_file;
    pack_settings settings;
};

// Reads the picture, packs it into `output`, puts the tile data in place and says the
// outcome. A refused picture leaves the output as it was.
int pack_picture(pack_job& job, pending_output& output, stdio_file& model_owner) {
    const std::string picture_name = shown_name(job.command.picture, pack_messages::standard_input);
    picture pic;
    const picture_problem problem = read_picture(job.picture_file, pic);
    if (problem != picture_problem::none) {
        say(job.log, refused_picture_line(picture_name, problem, pic));
        return exit_status::failure;
    }

    job.settings.progress = [&job](std::size_t done, std::size_t rows) { job.progress.update(done, rows); };
    byte_sink sink = byte_sink::file(output.get());
    pack_result packed = pack_blocks(pic, sink, job.settings);
    // Windows replaces no file that is open: the original, all read by now, is closed first;
    // closing what was only read loses nothing.
    (void)model_owner.close();
    if (packed.failed == pack_stage::none && !output.keep()) {
        packed.failed = pack_stage::output;
        packed.error = output.error();
    }
    job.progress.clear();
    // A PNG is checked as it is decoded: damage found on the way refuses it as it would have
    // been refused at the start, and the output stays as it was.
    if (packed.failed == pack_stage::picture && !pic.refusal.empty()) {
        say(job.log, picture_name, pic.refusal);
        return exit_status::failure;
    }
    if (packed.failed != pack_stage::none) {
        say(job.log, packing_failed_line(packed, picture_name,
                                         shown_name(job.command.like.value_or(""), pack_messages::standard_input),
                                         shown_name(job.command.tiles, pack_messages::standard_output)));
        return exit_status::failure;
    }
    say(job.log, written_line(pic, packed, job.command.like.has_value()));
    // A script that cannot be told the outcome must not take the run for a success.
    return job.log ? exit_status::success : exit_status::failure;
}

// Why the original `model` is no tile data to follow, or nothing. Only tile data is taken: a
// whole number of records, not a picture. It is measured now, and only that much of it is
// read later (into `bytes`), so that output appended to it meanwhile is not read back; what
// cannot seek is taken as it comes. Leaves `model` where it stood.
std::optional<std::string> original_refusal(std::FILE* model, const std::string& name, std::uint64_t& bytes) {
    const std::int64_t start = position_of(model);
    if (start < 0 || !seek_to(model, 0, SEEK_END)) {
        std::clearerr(model);
        return std::nullopt;
    }
    const std::int64_t end = position_of(model);
    std::array<unsigned char, picture_signature_bytes> first{};
    const bool read = seek_to(model, start) && end >= start;
    const std::size_t got = read ? std::fread(first.data(), 1, first.size(), model) : 0;
    if (!seek_to(model, start) || !read) return std::nullopt;  // the reading says why
    bytes = static_cast<std::uint64_t>(end - start);
    return original_refusal_line(name, {first.data(), got}, bytes);
}

// Copies an original from a pipe whole to an unnamed temporary file, which then stands for
// it, so that it is measured, checked and read as a file is. False when the copy failed;
// where the system gives no such file, the pipe is read as it comes.
bool spool_original(std::FILE*& model, stdio_file& spool) {
    if (position_of(model) >= 0 || !(spool = stdio_file(std::tmpfile()))) return true;
    std::array<unsigned char, 1 << 16> chunk;
    std::size_t got = 0;
    while ((got = std::fread(chunk.data(), 1, chunk.size(), model)) > 0) {
        if (std::fwrite(chunk.data(), 1, got, spool.get()) != got) return false;
    }
    if (std::ferror(model) != 0 || !seek_to(spool.get(), 0)) return false;
    model = spool.get();
    return true;
}

// The blocks of a block-row packed at once: as asked, but no more than the machine runs at
// once (when it says), since each packer only computes; the packing caps them at the blocks
// of a block-row too.
unsigned thread_count(unsigned asked) {
    const unsigned hardware = std::thread::hardware_concurrency();
    if (asked == 0) return std::max(1U, hardware);
    return hardware == 0 ? asked : std::min(asked, hardware);
}

// The run once the command is read: opens the files, checks the output and the original, and
// packs. What the packing throws for want of memory or threads passes through.
int pack_files(const pack_command& command, std::ostream& log, progress_line& progress) {
    stdio_file picture_owner;
    stdio_file model_owner;
    stdio_file model_copy;
    std::optional<byte_source> model;
    pack_job job{command, log, progress, open_to_read(command.picture, picture_owner, log), {}};
    if (job.picture_file == nullptr) return exit_status::failure;
    if (command.like) {
        std::FILE* model_file = open_to_read(*command.like, model_owner, log);
        if (model_file == nullptr) return exit_status::failure;
        const std::string name = shown_name(*command.like, pack_messages::standard_input);
        errno = 0;
        if (!spool_original(model_file, model_copy)) {
            say(log, pack_messages::packing_failed, name + std::string(pack_messages::because), std::strerror(errno));
            return exit_status::failure;
        }
        if (const auto refused = original_refusal(model_file, name, job.settings.model_bytes)) {
            say(log, *refused);
            return exit_status::failure;
        }
        job.settings.model = &model.emplace(byte_source::file(model_file));
    }
    job.settings.threads = thread_count(command.threads);

    // The output is had before the picture is read: a name that cannot be written costs no
    // decoding, however large the picture. Replacing the picture would lose it whole; it is
    // refused by file identity, not by name. The original may be replaced: it is read from the
    // file as it was.
    pending_output output = pending_output::create(command.tiles, job.picture_file);
    if (said_output_refused(output, command.tiles, log, cause(output.error()))) return exit_status::failure;
    // Tile data over a picture is most likely a slip of the tab key, and binary on a terminal
    // garbles it: both only when asked for. The refused output goes with `output`.
    if (!command.force && output.replaces_picture()) {
        say(log, command.tiles, pack_messages::output_is_picture);
        return exit_status::failure;
    }
    if (!command.force && output.writes_to_terminal()) {
        say(log, pack_messages::output_is_terminal);
        return exit_status::failure;
    }
    return pack_picture(job, output, model_owner);
}

}  // namespace

int pack_run(int argc, const char* const* argv, const pack_streams& streams) {
    hold_standard_descriptors();
    const pack_command command = read_pack_command(argc, argv);
    const bool to_standard_output =
        command.asked == pack_command::request::pack && pending_output::names_standard_output(command.tiles);
    std::ostream& log = to_standard_output ? streams.err : streams.out;
    say(log, messages::banner);
    switch (command.asked) {
        case pack_command::request::help:
            say(log, pack_messages::usage);
            return exit_status::success;
        case pack_command::request::version:
            return exit_status::success;
        case pack_command::request::usage_error:
            say(log, command.problem);
            say(log, pack_messages::usage);
            return exit_status::failure;
        case pack_command::request::pack:
            break;
    }

    progress_line progress(streams.err, streams.err_is_terminal);
    // The one place a lack of memory, or of threads, ends a run: by now the files are closed
    // and the temporary output is dropped.
    try {
        return pack_files(command, log, progress);
    } catch (const std::bad_alloc&) {
    } catch (const std::system_error&) {
    }
    progress.clear();
    say(log, shown_name(command.picture, pack_messages::standard_input), pack_messages::no_memory);
    return exit_status::failure;
}

}  // namespace quorvex
