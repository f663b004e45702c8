// The real program, run as a script runs it, in a fresh folder per row. A row lays out the
// folder, runs, and is judged by the exact standard output, an empty standard error, the exit
// status and the folder afterwards: everything that was there unchanged, with its permissions,
// plus the bitmap of a run that succeeded, byte for byte what the reference makes of the row's
// first tile file. The table runs twice: with the programs as built, and with the test build
// that always writes through a named temporary file.
//
// QUORVEX_COMMAND, when set, runs another build instead, split at spaces (for example
// "wine quorvex.exe" or "qemu-i386 build-i386/quorvex"); its CR LF line ends are read as LF.
// For a Windows build (".exe") POSIX rows skip and Windows rows run; "@" in those is the row's
// folder spelt Z:\... as Wine shows this machine.

#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <grp.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <span>
#include <sstream>
#include <string>

#include "app/files.h"
#include "app/run.h"
#include "conversion/block_geometry.h"
#include "packing/pack_blocks.h"
#include "packing/read_picture.h"
#include "tests/test_support.h"

namespace quorvex {

namespace fs = std::filesystem;

namespace {

enum class tool { convert, pack, layout };

// quorvex, quorvex-pack or quorvex-layout: the other build's command when one is set, else the
// build's own, or its test build that writes through a named temporary file when `named`.
std::vector<std::string> program(tool kind, bool named = false) {
    const bool pack = kind == tool::pack;
    const char* const other = std::getenv(pack                   ? "QUORVEX_PACK_COMMAND"
                                          : kind == tool::layout ? "QUORVEX_LAYOUT_COMMAND"
                                                                 : "QUORVEX_COMMAND");
    std::istringstream words(other == nullptr ? "" : other);
    std::vector<std::string> command{std::istream_iterator<std::string>(words), {}};
    if (!command.empty()) return command;
    if (named) return {pack ? QUORVEX_PACK_NAMED_BINARY : QUORVEX_NAMED_BINARY};
    return {pack ? QUORVEX_PACK_BINARY : kind == tool::layout ? QUORVEX_LAYOUT_BINARY : QUORVEX_BINARY};
}
const bool runs_other_build = program(tool::convert) != std::vector<std::string>{QUORVEX_BINARY};
const bool runs_windows_build = runs_other_build && program(tool::convert).back().ends_with(".exe");
// A user-mode emulator does not pass an address-space limit on.
const bool emulated = program(tool::convert)[0].find("emulated-") != std::string::npos ||
                      program(tool::convert)[0].find("qemu") != std::string::npos;

// A new empty folder under the system's temporary folder, for its user to remove; "" when none.
fs::path fresh_folder() {
    std::string name = (fs::temp_directory_path() / "quorvex-test-XXXXXX").string();
    return mkdtemp(name.data()) != nullptr ? fs::path(name) : fs::path();
}

// Runs the program in `dir` with standard output and error both going to `log`, which must
// then hold exactly what standard output should: so standard error stays empty. With
// `redirect` "|" standard output is a pipe whose bytes (under the pipe's 64 KiB) go to
// `piped`; with ">>name" it is that file of `dir`, appended to. With "<name" standard input is
// a pipe that gives that file of `dir`, with "<name+zeros" then zeros without end, to a reader
// that stops ("<+zeros" the zeros alone); with "<&-" it is closed. Returns the exit status, or
// 128 + the signal that ended it. Past a file size limit writes fail as on a full disk, or with
// `killed` the program ends by the signal there; a memory limit caps its address space. With
// `as_nobody` it runs as the user nobody.
int run_program(std::vector<std::string> command, const fs::path& dir, const fs::path& log, const std::string& redirect,
                bytes& piped, rlim_t size_limit, rlim_t memory_limit, bool killed, bool as_nobody) {
    std::vector<char*> argv;
    argv.reserve(command.size() + 1);
    for (std::string& word : command) argv.push_back(word.data());
    argv.push_back(nullptr);
    int pipe_ends[2] = {-1, -1};
    if (redirect == "|" && pipe(pipe_ends) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) {
        int input[2];
        if (pipe(input) != 0) _exit(127);
        if (redirect.starts_with('<') && redirect != "<&-" && fork() == 0) {  // the feeder, ended by the reader's end
            close(input[0]);
            const std::string name = redirect.substr(1, redirect.find("+zeros") - 1);
            const bytes start = name.empty() ? bytes{} : read_file(dir / name);
            static const std::array<char, 1 << 16> zeros{};
            bool fed = write(input[1], start.data(), start.size()) == static_cast<ssize_t>(start.size());
            while (fed && redirect.ends_with("+zeros")) fed = write(input[1], zeros.data(), zeros.size()) > 0;
            _exit(0);
        }
        const int out = open(log.c_str(), O_WRONLY | O_CREAT, 0600);
        const int data = redirect.empty() || redirect[0] == '<' ? out
                         : redirect == "|"                    ? pipe_ends[1]
                                                              : open((dir / redirect.substr(2)).c_str(), O_WRONLY | O_APPEND);
        const rlimit limit{size_limit, size_limit}, memory{memory_limit, memory_limit};
        const rlimit no_core{0, 0};  // a killed run leaves no core file in the folder
        const bool limited = (killed || signal(SIGXFSZ, SIG_IGN) != SIG_ERR) && setrlimit(RLIMIT_CORE, &no_core) == 0 &&
                             (size_limit == RLIM_INFINITY || setrlimit(RLIMIT_FSIZE, &limit) == 0) &&
                             (memory_limit == RLIM_INFINITY || setrlimit(RLIMIT_AS, &memory) == 0);
        // Standard input is a pipe, which no file name can be linked to: empty, at its end at
        // once, unless fed.
        if (out < 0 || data < 0 || dup2(data, 1) < 0 || dup2(out, 2) < 0 || (redirect == "<&-" ? close(0) : dup2(input[0], 0)) < 0 ||
            close(input[1]) != 0 || chdir(dir.c_str()) != 0 || !limited ||
            (as_nobody && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) ||
            prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) {  // a run caught in a loop ends with this test, even if it is killed
            _exit(127);
        }
        execvp(argv[0], argv.data());
        _exit(as_nobody ? 126 : 127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (pipe_ends[0] >= 0) {
        close(pipe_ends[1]);
        piped.resize(1 << 16);
        piped.resize(static_cast<std::size_t>(std::max<ssize_t>(0, read(pipe_ends[0], piped.data(), piped.size()))));
        close(pipe_ends[0]);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// One entry of a row's folder: "name=N" a file of N tile records ("name=N:640" with those
// permissions, "name=N-cut" without its last byte, "name=N+K" with K bytes more, "name=BMN"
// starting with "BM"), "name=bmp" a picture of 2 x 1 blocks, "name=bmpWxH" the same claiming
// W x H pixels, "name=bmp+K" with K zeros after it, "name=bmp-cut" the same cut short, "name=bmp-nosize" with a file size field of
// 0, "name=gradWxH" the records of a smooth picture of W x H blocks ("gradWxH+K" then K of
// them again, from the fourth), "name=flat" of one flat
// colour, "name=odd" 2 records and a byte, "name=sample" the shipped sample, "name=rleWxH" a
// run-length picture of 1080 bytes that claims W x H pixels and ends at
// once, all black, "name=png" the start of a PNG; "name/" a folder, "name->target" and
// "name=>target" a symbolic and a hard link; "name=^N" N records outside the folder,
// bind-mounted on the name (`mounted` lists it); "!nobody" the folder sticky and open to all,
// the program run as nobody. False when the system does not let it be made.
bool lay_out(const fs::path& dir, const std::string& entry, std::vector<fs::path>& mounted) {
    const std::size_t arrow = entry.find('>');
    const std::string name = entry.substr(0, arrow == std::string::npos ? entry.rfind('=') : arrow - 1);
    if (entry == "!nobody") {
        fs::permissions(dir.parent_path(), fs::perms::owner_all | fs::perms::others_exec);
        fs::permissions(dir, fs::perms::all | fs::perms::sticky_bit);
        return geteuid() == 0;
    }
    if (const std::size_t mount_at = entry.find("=^"); mount_at != std::string::npos) {
        const fs::path source = dir.string() + "." + name;
        write_file(source, tile_records(std::stoi(entry.substr(mount_at + 2))));
        write_file(dir / name, {});
        if (geteuid() != 0 || mount(source.c_str(), (dir / name).c_str(), nullptr, MS_BIND, nullptr) != 0) return false;
        mounted.push_back(dir / name);
    } else if (entry.back() == '/') {
        fs::create_directories(dir / entry);
    } else if (arrow != std::string::npos && entry[arrow - 1] == '-') {
        fs::create_symlink(entry.substr(arrow + 1), dir / name);
    } else if (arrow != std::string::npos) {
        fs::create_hard_link(dir / entry.substr(arrow + 1), dir / name);
    } else if (entry.ends_with("=png")) {
        write_file(dir / name, {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'});
    } else if (const std::string value = entry.substr(name.size() + 1); value == "sample") {
        write_file(dir / name, read_file(SAMPLE_TILE_FILE));
    } else if (value.starts_with("grad")) {
        bytes data = gradient_records(std::stoi(value.substr(4)), std::stoi(value.substr(value.find('x') + 1)));
        if (const std::size_t plus = value.find('+'); plus != std::string::npos) {
            const auto from = data.begin() + 3 * quorvex::block_geometry::record_bytes;
            const bytes after(from, from + std::stoi(value.substr(plus + 1)) * quorvex::block_geometry::record_bytes);
            data.insert(data.end(), after.begin(), after.end());
        }
        write_file(dir / name, data);
    } else if (value == "flat" || value == "odd") {
        bytes data = value == "odd" ? tile_records(2) : picture_records(4, 3, [](int, int) { return std::array<unsigned char, 3>{9, 9, 9}; });
        if (value == "odd") data.push_back(0);
        write_file(dir / name, data);
    } else if (value.starts_with("bmp")) {
        bytes bitmap = convert_bytes(reference_convert, tile_records(2), 2, 1).file;  // 2 x 1 blocks
        if (const std::size_t by = value.find('x'); by != std::string::npos) {  // sides under 256, in the low bytes
            bitmap[18] = static_cast<unsigned char>(std::stoi(value.substr(3)));
            bitmap[22] = static_cast<unsigned char>(std::stoi(value.substr(by + 1)));
        }
        if (value == "bmp-cut") bitmap.resize(20000);
        if (value == "bmp-nosize") std::fill_n(bitmap.begin() + 2, 4, 0);
        if (const std::size_t plus = value.find('+'); plus != std::string::npos) bitmap.resize(bitmap.size() + std::stoul(value.substr(plus + 1)));
        write_file(dir / name, bitmap);
    } else if (value.starts_with("rle")) {
        bytes bitmap(1080, 0);
        const auto put = [&bitmap](std::size_t at, std::uint32_t field) {
            for (std::size_t i = 0; i < 4; ++i) bitmap[at + i] = static_cast<unsigned char>(field >> (8 * i));
        };
        const std::size_t by = value.find('x');
        bitmap[0] = 'B', bitmap[1] = 'M', bitmap[26] = 1, bitmap[28] = 8, bitmap.back() = 1;  // the end of the bitmap
        put(2, 1080), put(10, 1078), put(14, 40), put(30, 1);
        put(18, static_cast<std::uint32_t>(std::stoul(value.substr(3)))), put(22, static_cast<std::uint32_t>(std::stoul(value.substr(by + 1))));
        write_file(dir / name, bitmap);
    } else {
        fs::create_directories((dir / name).parent_path());
        bytes records = tile_records(std::stoi(value.substr(value.starts_with("BM") ? 2 : 0)));
        if (value.ends_with("-cut")) records.pop_back();
        // Tile data may begin as a picture does; what follows is no picture's header.
        if (value.starts_with("BM")) std::copy_n("BM", 2, records.begin());
        if (const std::size_t plus = value.find('+'); plus != std::string::npos) records.resize(records.size() + std::stoul(value.substr(plus + 1)));
        write_file(dir / name, records);
        if (const std::size_t colon = value.find(':'); colon != std::string::npos) {
            fs::permissions(dir / name, static_cast<fs::perms>(std::stoi(value.substr(colon + 1), nullptr, 8)));
        }
    }
    return true;
}

// A regular file's contents and permissions; nothing for a folder or a link.
struct file_state {
    std::optional<bytes> content;
    fs::perms permissions = fs::perms::none;
    bool operator==(const file_state&) const = default;
};

// Every entry under `dir`, links not followed, with the state of its regular files.
std::map<std::string, file_state> snapshot(const fs::path& dir) {
    std::map<std::string, file_state> entries;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        std::error_code too_many_links;  // a name past the system's 40 links has no status
        const bool file = entry.is_regular_file(too_many_links) && !entry.is_symlink();
        entries[entry.path().lexically_relative(dir).string()] =
            file ? file_state{read_file(entry.path()), entry.status().permissions()} : file_state{};
    }
    return entries;
}

std::string windows_spelling(std::string text, const fs::path& dir) {
    std::string drive = "Z:" + dir.string();
    std::replace(drive.begin(), drive.end(), '/', '\\');
    for (std::size_t at = text.find('@'); at != std::string::npos; at = text.find('@')) text.replace(at, 1, drive);
    return text;
}

struct row {
    const char* situation;
    std::vector<std::string> folder;
    std::vector<std::string> args;  // the last may redirect standard output as a shell does: "|", ">>name"
    std::string out;  // after the banner
    int status;       // the exit status; 128 + SIGXFSZ for a run that the file size limit ends
    std::string made = "";  // the output a successful run leaves, in the folder's own spelling; "|" the pipe
    rlim_t size_limit = RLIM_INFINITY, memory_limit = RLIM_INFINITY;
};

const std::string done = "Tis file converted successfully!\n";
const std::string failed = "Conversion failed!\n";
const std::string usage = "Usage: quorvex <tisfile> <width in blocks> <height in blocks>\n"
                          "Note: one block consists of 64*64 pixels\n";
const std::string is_input = "Can't open output file: x.bmp (it is the input file)\n";
// 700 characters in folders, as a single name may not pass 255.
const std::string level = std::string(99, 'd') + "/";
const std::string deep = level + level + level + level + level + std::string(196, 'n');
const std::string names = "caf\xc3\xa9 \xd0\xb6 \xe7\x93\xa6 \xf0\x9f\xa7\xb1";  // no one code page holds all
const std::string over(252, 'n');
// t.bmp and `links` - 1 more links before real.bmp.
std::vector<std::string> chain(int links) {
    std::vector<std::string> folder{"t.tis=1", "real.bmp=2", "l1->real.bmp", "t.bmp->l" + std::to_string(links - 1)};
    for (int i = 2; i < links; ++i) folder.push_back(std::string("l").append(std::to_string(i)).append("->l").append(std::to_string(i - 1)));
    return folder;
}  // the bitmap's name is one byte longer than a name may be

const row every_build[] = {
    {"two arguments", {"t.tis=1"}, {"t.tis", "1"}, usage, 1},
    {"--help", {"t.tis=1"}, {"--help"}, usage, 0},
    {"-h", {"t.tis=1"}, {"-h"}, usage, 0},
    {"--version", {"t.tis=1"}, {"--version"}, "", 0},
    {"-V", {"t.tis=1"}, {"-V"}, "", 0},
    {"-v is no flag", {"t.tis=1"}, {"-v"}, usage, 1},
    {"a flag with more arguments", {"t.tis=1"}, {"--version", "x"}, usage, 1},
    {"a flag as the input name", {"t.tis=1"}, {"--help", "1", "1"}, "--help is not a tis file!\n", 1},
    {"converted, extra arguments ignored", {"t.tis=6"}, {"t.tis", "2x", "3.9", "ignored", "too"}, done, 0, "t.bmp"},
    // Missing records mean a wrong count or the wrong file: refused where a count below 1 is.
    {"input shorter than the picture, old bitmap kept", {"t.tis=3", "t.bmp=2"}, {"t.tis", "2", "2"}, failed, 1},
    {"last record cut short, no bitmap made", {"t.tis=4-cut"}, {"t.tis", "2", "2"}, failed, 1},
    {"empty input, old bitmap kept", {"t.tis=0", "t.bmp=2"}, {"t.tis", "1", "1"}, failed, 1},
    {"more records than the picture", {"t.tis=5"}, {"t.tis", "2", "2"}, done, 0, "t.bmp"},
    // A picture given as tile data: refused before the output is touched.
    {"a PNG, the bitmap beside it kept", {"level.png=png", "level.bmp=bmp"}, {"level.png", "6", "2"},
     "level.png is not a tis file!\n", 1},
    {"a bitmap of ours renamed", {"level.tis=bmp"}, {"level.tis", "2", "1"}, "level.tis is not a tis file!\n", 1},
    {"a bitmap with a file size of 0", {"t.tis=bmp-nosize", "t.bmp=2"}, {"t.tis", "2", "1"}, "t.tis is not a tis file!\n", 1},
    {"a bitmap named like its output", {"x.bmp=bmp"}, {"x.bmp", "2", "1"}, "x.bmp is not a tis file!\n", 1},
    {"BM then no bitmap header", {"t.tis=BM1"}, {"t.tis", "1", "1"}, done, 0, "t.bmp"},
    // A count below 1 would make a bitmap of no pixels: refused after the output was opened.
    {"width not a number, old bitmap kept", {"t.tis=1", "t.bmp=2"}, {"t.tis", "abc", "1"}, failed, 1},
    {"width 0, no bitmap made", {"t.tis=1"}, {"t.tis", "0", "4"}, failed, 1},
    {"height -2, old bitmap kept", {"t.tis=1", "t.bmp=2"}, {"t.tis", "1", "-2"}, failed, 1},
    {"empty height, no bitmap made", {"t.tis=1"}, {"t.tis", "1", ""}, failed, 1},
    {"old bitmap replaced", {"t.tis=1", "t.bmp=2"}, {"t.tis", "1", "1"}, done, 0, "t.bmp"},
    {"missing input", {}, {"nosuch.tis", "1", "1"}, "nosuch.tis is not a tis file!\n", 1},
    {"empty input name", {}, {"", "1", "1"}, " is not a tis file!\n", 1},
    {"input is a folder", {"folder.tis/"}, {"folder.tis", "1", "1"}, "folder.tis is not a tis file!\n", 1},
    {"output name is a folder", {"t.tis=1", "t.bmp/"}, {"t.tis", "1", "1"}, "Can't open output file: t.bmp\n", 1},
    {"output name too long", {over + "=1"}, {over, "1", "1"}, "Can't open output file: " + over + ".bmp\n", 1},
    {"input named like its output", {"x.bmp=1"}, {"x.bmp", "1", "1"}, is_input, 1},
    {"long name", {deep + ".tis=1"}, {deep + ".tis", "1", "1"}, done, 0, deep + ".bmp"},
    {"leading dash", {"-1.tis=1"}, {"-1.tis", "1", "1"}, done, 0, "-1.bmp"},
    {"folder part kept", {"sub/t.tis=1"}, {"./sub/t.tis", "1", "1"}, done, 0, "sub/t.bmp"},
    // The bitmap stays beside its input: a dot in a folder is no extension.
    {"dot in a folder", {"dir.old/tiles=1"}, {"dir.old/tiles", "1", "1"}, done, 0, "dir.old/tiles.bmp"},
    {"hidden folder", {"game/.cache/AR01=1"}, {"game/.cache/AR01", "1", "1"}, done, 0, "game/.cache/AR01.bmp"},
    {"UTF-8 names", {names + ".tis=1"}, {names + ".tis", "1", "1"}, done, 0, names + ".bmp"},
    {"UTF-8 input named like its output", {names + ".bmp=1"}, {names + ".bmp", "1", "1"},
     "Can't open output file: " + names + ".bmp (it is the input file)\n", 1},
    {"UTF-8 old bitmap kept", {names + ".tis=1", names + ".bmp=2"}, {names + ".tis", "-1", "1"}, failed, 1},
};
// Standard output is a file under the limit too, so the smallest limit is the messages' length.
const row posix_only[] = {
    {"disk full in the header", {"t.tis=1", "t.bmp=2"}, {"t.tis", "1", "1"}, failed, 1, "", 50},
    {"disk full in the last strip", {"t.tis=9"}, {"t.tis", "3", "3"}, failed, 1, "", 100000},
    {"killed in the last strip", {"t.tis=9", "t.bmp=2"}, {"t.tis", "3", "3"}, "", 128 + SIGXFSZ, "", 100000},
    // The program starts in under 8 MB; a block-row 1000 blocks wide takes 17.4 MB.
    {"no memory for a block-row", {"t.tis=1000", "t.bmp=2"}, {"t.tis", "1000", "1"}, failed, 1, "", RLIM_INFINITY, 16u << 20},
    // Standard input, an empty pipe here: it cannot seek.
    {"input is a pipe", {"p.tis->/dev/stdin"}, {"p.tis", "1", "1"}, failed, 1},
    {"permissions kept on replace", {"t.tis=1", "t.bmp=2:640"}, {"t.tis", "1", "1"}, done, 0, "t.bmp"},
    {"hard link separated", {"t.tis=1", "old.bmp=2", "t.bmp=>old.bmp"}, {"t.tis", "1", "1"}, done, 0, "t.bmp"},
    {"failed run through a link", {"t.tis=1", "real.bmp=2", "t.bmp->real.bmp"}, {"t.tis", "-1", "1"}, failed, 1},
    {"link under the output name", {"t.tis=1", "real.bmp=2", "t.bmp->real.bmp"}, {"t.tis", "1", "1"}, done, 0, "real.bmp"},
    {"output leads to a device", {"t.tis=1", "t.bmp->/dev/null"}, {"t.tis", "1", "1"}, done, 0},
    // 40 are followed, as many as the system follows; the 41st is a loop to it.
    {"40 links under the output name", chain(40), {"t.tis", "1", "1"}, done, 0, "real.bmp"},
    {"41 links under the output name", chain(41), {"t.tis", "1", "1"}, "Can't open output file: t.bmp\n", 1},
    {"dangling link under the output name", {"t.tis=1", "t.bmp->new.bmp"}, {"t.tis", "1", "1"}, done, 0, "new.bmp"},
    {"output is a symbolic link to the input", {"x.tis=1", "x.bmp->x.tis"}, {"x.tis", "1", "1"}, is_input, 1},
    {"output is a hard link to the input", {"x.tis=1", "x.bmp=>x.tis"}, {"x.tis", "1", "1"}, is_input, 1},
    // The naming rule keeps the input's folders, which exist; only a link leads under a file.
    {"output name leads under a file", {"t.tis=1", "t.bmp->t.tis/x"}, {"t.tis", "1", "1"}, "Can't open output file: t.bmp\n", 1},
    {"bytes that are not UTF-8", {"caf\xff.tis=1"}, {"caf\xff.tis", "1", "1"}, done, 0, "caf\xff.bmp"},
    // A rename cannot replace these: the finished bitmap is written into the file.
    {"bind-mounted output", {"t.tis=1", "t.bmp=^2"}, {"t.tis", "1", "1"}, done, 0, "t.bmp"},
    {"another user's output in a sticky folder", {"t.tis=1", "t.bmp=2:666", "!nobody"}, {"t.tis", "1", "1"}, done, 0, "t.bmp"},
};
const row windows_only[] = {
    {"backslash folder", {"sub/t.tis=1"}, {"sub\\t.tis", "1", "1"}, done, 0, "sub/t.bmp"},
    {"dot in a backslash folder", {"dir.old/tiles=1"}, {"dir.old\\tiles", "1", "1"}, done, 0, "dir.old/tiles.bmp"},
    {"drive letter", {"abs.tis=1"}, {"@\\abs.tis", "1", "1"}, done, 0, "abs.bmp"},
    {"missing, drive letter", {}, {"@\\no\\x.tis", "1", "1"}, "@\\no\\x.tis is not a tis file!\n", 1},
    {"output a folder, backslash", {"x/y.tis=1", "x/y.bmp/"}, {"x\\y.tis", "1", "1"}, "Can't open output file: x\\y.bmp\n", 1},
    {"input named like its output, drive letter", {"x.bmp=1"}, {"@\\x.bmp", "1", "1"},
     "Can't open output file: @\\x.bmp (it is the input file)\n", 1},
};

// quorvex-pack's rows: the picture is the first entry of the folder; a packed file must be
// what the packing makes of it.
const std::string pack_usage =
    "Usage: quorvex-pack [--like <original tisfile>] [--threads N] [--force] [--] <picture> <tisfile>\n"
    "Note: the picture is a BMP or PNG whose width and height are multiples of 64 pixels\n"
    "Note: - as the picture reads standard input, - as the tisfile writes standard output\n";
const std::string packed = "Tis file written: 2 x 1 blocks, 0 reduced to 256 colours\n";
const std::string limits = " pixels, past the limit of 2097152 pixels wide and 1073741824 pixels in all\n";
const row pack_every_build[] = {
    {"no arguments", {"p.bmp=bmp"}, {}, "Missing the picture and the tisfile\n" + pack_usage, 1},
    {"one argument", {"p.bmp=bmp"}, {"p.bmp"}, "Missing the tisfile\n" + pack_usage, 1},
    {"an extra argument", {"p.bmp=bmp"}, {"p.bmp", "t.tis", "x"}, "Extra argument: x\n" + pack_usage, 1},
    {"--help after a name", {"p.bmp=bmp"}, {"p.bmp", "--help"}, pack_usage, 0},
    {"-V", {"p.bmp=bmp"}, {"-V"}, "", 0},
    {"an unknown option is never a name", {"p.bmp=bmp"}, {"p.bmp", "-o", "t.tis"}, "Unknown option: -o\n" + pack_usage, 1},
    {"a name after --", {"p.bmp=bmp"}, {"--threads=2", "--", "p.bmp", "-o"}, packed, 0, "-o"},
    {"no thread count", {"p.bmp=bmp"}, {"p.bmp", "t.tis", "--threads"}, "--threads needs a value\n" + pack_usage, 1},
    {"thread count 0", {"p.bmp=bmp"}, {"--threads", "0", "p.bmp", "t.tis"},
     "--threads takes a whole number from 1 up, not: 0\n" + pack_usage, 1},
    {"thread count 2x", {"p.bmp=bmp"}, {"--threads=2x", "p.bmp", "t.tis"}, "--threads takes a whole number from 1 up, not: 2x\n" + pack_usage, 1},
    {"standard input read twice", {"p.bmp=bmp"}, {"--like", "-", "-", "t.tis"},
     "Standard input cannot be both the picture and the original\n" + pack_usage, 1},
    {"an empty picture name", {"p.bmp=bmp"}, {"", "t.tis"}, "The picture's name is empty\n" + pack_usage, 1},
    {"an empty tisfile name", {"p.bmp=bmp"}, {"p.bmp", ""}, "The tisfile's name is empty\n" + pack_usage, 1},
    {"an empty original name", {"p.bmp=bmp"}, {"--like=", "p.bmp", "t.tis"}, "The original's name (--like) is empty\n" + pack_usage, 1},
    {"- is standard input, not the file", {"-=bmp"}, {"-", "t.tis"}, "standard input is not a BMP or PNG picture!\n", 1},
    {"missing picture", {}, {"no.bmp", "t.tis"}, "no.bmp: No such file or directory\n", 1},
    {"missing original", {"p.bmp=bmp"}, {"--like", "no.tis", "p.bmp", "t.tis"}, "no.tis: No such file or directory\n", 1},
    {"tile data is no picture", {"t.tis=2"}, {"t.tis", "u.tis"}, "t.tis is not a BMP or PNG picture!\n", 1},
    {"picture is a folder", {"d.bmp/"}, {"d.bmp", "t.tis"}, "d.bmp: Is a directory\n", 1},
    {"width not in blocks", {"p.bmp=bmp100x64"}, {"p.bmp", "t.tis"},
     "p.bmp is 100 x 64 pixels; width and height must be multiples of 64!\n", 1},
    {"height not in blocks", {"p.bmp=bmp64x96"}, {"p.bmp", "t.tis"},
     "p.bmp is 64 x 96 pixels; width and height must be multiples of 64!\n", 1},
    // The output is checked before the picture's size is read.
    {"output is the picture", {"p.bmp=bmp100x64"}, {"p.bmp", "./p.bmp"}, "Can't open output file: ./p.bmp (it is the input file)\n", 1},
    {"output in a missing folder", {"p.bmp=bmp100x64"}, {"p.bmp", "no/t.tis"},
     "Can't open output file: no/t.tis: No such file or directory\n", 1},
    {"output is a folder", {"p.bmp=bmp", "o/"}, {"p.bmp", "o"}, "Can't open output file: o: Is a directory\n", 1},
    // A picture under the tisfile's name is replaced only when asked: a slip of the tab key.
    {"output is a BMP", {"p.bmp=bmp100x64", "old.bmp=bmp"}, {"p.bmp", "old.bmp"},
     "old.bmp is a picture, not tile data; use --force to replace it anyway\n", 1},
    {"output is a PNG", {"p.bmp=bmp", "mine.png=png"}, {"p.bmp", "mine.png"},
     "mine.png is a picture, not tile data; use --force to replace it anyway\n", 1},
    {"--force replaces a picture", {"p.bmp=bmp", "mine.png=png"}, {"--force", "p.bmp", "mine.png"}, packed, 0, "mine.png"},
    // Unchanged blocks are the original's records: written over it, the original stays as it was.
    {"output is the original", {"p.bmp=bmp", "t.tis=2"}, {"--like", "t.tis", "p.bmp", "t.tis"},
     "Tis file written: 2 x 1 blocks, 2 unchanged, 0 changed, 0 reduced to 256 colours\n", 0},
    {"picture cut short", {"p.bmp=bmp-cut"}, {"p.bmp", "t.tis"},
     "p.bmp is cut short: 24576 bytes of pixel rows, 19946 present\n", 1},
    // Tile data on standard output leaves the messages to standard error.
    {"- is a pipe", {"p.bmp=bmp"}, {"p.bmp", "-", "|"}, packed, 0, "|"},
    {"- appended to", {"p.bmp=bmp", "all.tis=3"}, {"p.bmp", "-", ">>all.tis"}, packed, 0, "all.tis"},
    // The original is tile data as it was when the run began.
    {"an original of 5121 bytes", {"p.bmp=bmp", "o.tis=1+1"}, {"--like", "o.tis", "p.bmp", "t.tis"},
     "o.tis is not tile data: its 5121 bytes are not a whole number of 5120-byte records\n", 1},
    {"a picture as the original", {"p.bmp=bmp", "o.bmp=bmp"}, {"--like", "o.bmp", "p.bmp", "t.tis"},
     "o.bmp is a picture, not tile data: --like takes the tile file to follow\n", 1},
    {"the original's records past the picture's kept", {"p.bmp=bmp", "o.tis=5"}, {"--like", "o.tis", "p.bmp", "t.tis"},
     "Tis file written: 2 x 1 blocks, 2 unchanged, 0 changed, 0 reduced to 256 colours, 3 records after them kept\n", 0, "t.tis"},
    {"appended to the original, which grows by one output", {"p.bmp=bmp", "o.tis=4"}, {"--like", "o.tis", "p.bmp", "-", ">>o.tis"},
     "Tis file written: 2 x 1 blocks, 2 unchanged, 0 changed, 0 reduced to 256 colours, 2 records after them kept\n", 0, "o.tis"},
    // Bombs: a size no real picture has, in a few bytes, refused before anything is read or made.
    {"run-length 2^31 - 64 pixels wide", {"p.bmp=rle2147483584x64"}, {"p.bmp", "t.tis"}, "p.bmp is too large: 2147483584 x 64" + limits, 1},
    {"run-length 2^31 - 64 pixels high", {"p.bmp=rle64x2147483584"}, {"p.bmp", "t.tis"}, "p.bmp is too large: 64 x 2147483584" + limits, 1},
};
const row pack_windows_only[] = {
    {"NUL", {"p.bmp=bmp"}, {"p.bmp", "NUL"}, packed, 0},
    {"nul:", {"p.bmp=bmp"}, {"p.bmp", "nul:"}, packed, 0},
};
const row pack_posix_only[] = {
    // An original through a pipe is first copied whole, then checked and read as a file is.
    {"a picture as the original through a pipe", {"p.bmp=bmp", "o.bmp=bmp"}, {"--like", "-", "p.bmp", "t.tis", "<o.bmp"},
     "standard input is a picture, not tile data: --like takes the tile file to follow\n", 1},
    {"an original of 5121 bytes through a pipe", {"p.bmp=bmp", "o.tis=1+1"}, {"--like", "-", "p.bmp", "t.tis", "<o.tis"},
     "standard input is not tile data: its 5121 bytes are not a whole number of 5120-byte records\n", 1},
    {"an original through a pipe, its records past the picture's kept", {"p.bmp=bmp", "o.tis=3"}, {"--like", "-", "p.bmp", "t.tis", "<o.tis"},
     "Tis file written: 2 x 1 blocks, 2 unchanged, 0 changed, 0 reduced to 256 colours, 1 records after them kept\n", 0, "t.tis"},
    {"zeros without end through a pipe, in 1 GB", {"p.bmp=bmp"}, {"-", "t.tis", "<+zeros"}, "standard input is not a BMP or PNG picture!\n", 1, "",
     RLIM_INFINITY, 1000000u << 10},
    {"a picture and zeros, as long as its size allows, through a pipe", {"p.bmp=bmp+1097674"}, {"-", "t.tis", "<p.bmp"}, packed, 0, "t.tis"},
    {"a picture and then zeros without end through a pipe", {"p.bmp=bmp"}, {"-", "t.tis", "<p.bmp+zeros"},
     "standard input is too large: more than 1122304 bytes, the most a picture of 128 x 64 pixels takes\n", 1},
    // A thread per core at most (100000 would take 84 MB of record slots), reading ahead on two
    // cores; the next block-row's buffer (96 MiB) is had only where there is a next block-row.
    {"a block-row 8192 blocks wide, on at most a thread per core, in 160 MiB", {"p.bmp=rle524288x64"}, {"--threads=100000", "p.bmp", "t.tis"},
     "Tis file written: 8192 x 1 blocks, 0 reduced to 256 colours\n", 0, "t.tis", RLIM_INFINITY, 160u << 20},
    {"no memory for a block-row", {"p.bmp=rle2097152x64", "t.tis=1"}, {"p.bmp", "t.tis"}, "p.bmp needs more memory than can be had\n", 1, "",
     RLIM_INFINITY, 256u << 20},
    {"/dev/stdout is a pipe", {"p.bmp=bmp"}, {"p.bmp", "/dev/stdout", "|"}, packed, 0, "|"},
    {"/dev/stdout appended to", {"p.bmp=bmp", "all.tis=3"}, {"p.bmp", "/dev/stdout", ">>all.tis"}, packed, 0, "all.tis"},
    {"/dev/fd/N that is not open", {"p.bmp=bmp"}, {"p.bmp", "/dev/fd/9"}, "Can't open output file: /dev/fd/9: Bad file descriptor\n", 1},
    {"/dev/fd/ and more digits than a descriptor has", {"p.bmp=bmp"}, {"p.bmp", "/dev/fd/4294967297"},
     "Can't open output file: /dev/fd/4294967297: No such file or directory\n", 1},
    // A closed standard input reads as an empty one; its number goes to no file opened.
    {"- from a closed standard input", {"p.bmp=bmp"}, {"-", "-", "<&-"}, "standard input is not a BMP or PNG picture!\n", 1},
    {"/dev/fd/0, standard input, open for reading", {"p.bmp=bmp"}, {"p.bmp", "/dev/fd/0"}, "Can't open output file: /dev/fd/0: Bad file descriptor\n", 1},
    {"disk full, the old tile file kept", {"p.bmp=bmp", "t.tis=3"}, {"p.bmp", "t.tis"},
     "Packing failed: t.tis: File too large\n", 1, "", 6000},
    {"disk full in the original's tail", {"p.bmp=bmp", "o.tis=5"}, {"--like", "o.tis", "p.bmp", "t.tis"},
     "Packing failed: t.tis: File too large\n", 1, "", 15000},
    {"disk full for the original from a pipe", {"p.bmp=bmp", "o.tis=5"}, {"--like", "-", "p.bmp", "t.tis", "<o.tis"},
     "Packing failed: standard input: File too large\n", 1, "", 6000},
    {"output is a hard link to the picture", {"p.bmp=bmp", "h=>p.bmp"}, {"p.bmp", "h"},
     "Can't open output file: h (it is the input file)\n", 1},
    // A rename cannot replace these: the finished tile data is written into the file.
    {"bind-mounted output", {"p.bmp=bmp", "t.tis=^3"}, {"p.bmp", "t.tis"}, packed, 0, "t.tis"},
    {"another user's output in a sticky folder", {"p.bmp=bmp", "t.tis=3:666", "!nobody"}, {"p.bmp", "t.tis"}, packed, 0, "t.tis"},
};

// quorvex-layout's rows: it writes no file; "|W H\n" is what --numbers puts in the pipe.
const std::string layout_usage =
    "Usage: quorvex-layout [--numbers] [--] <tisfile>\n"
    "Note: finds the width and height in blocks that quorvex needs, from how the blocks' edges meet\n"
    "Note: --numbers prints only the width and height; the other lines go to standard error\n";
const row layout_every_build[] = {
    {"--help", {}, {"--help"}, layout_usage, 0},
    {"--help after a name", {}, {"t.tis", "--help"}, layout_usage, 0},
    {"--version after --numbers", {}, {"--numbers", "-V"}, "", 0},
    {"no tisfile", {}, {"--numbers"}, "Missing the tisfile\n" + layout_usage, 1},
    {"two tisfiles", {"a.tis=2", "b.tis=2"}, {"a.tis", "b.tis"}, "Extra argument: b.tis\n" + layout_usage, 1},
    {"an unknown option", {"a.tis=2"}, {"-n", "a.tis"}, "Unknown option: -n\n" + layout_usage, 1},
    {"the sample", {"s.tis=sample"}, {"s.tis"}, "Layout: 6 x 2 blocks\nquorvex s.tis 6 2\n", 0},
    {"a name quoted for the shell", {"it's mine.tis=grad7x4"}, {"it's mine.tis"},
     "Layout: 7 x 4 blocks\nquorvex 'it'\\''s mine.tis' 7 4\n", 0},
    {"a name after --", {"-t=grad5x3"}, {"--", "-t"}, "Layout: 5 x 3 blocks\nquorvex -t 5 3\n", 0},
    {"a record after the rows", {"t.tis=grad7x4+1"}, {"t.tis"}, "Layout: 7 x 4 blocks, 1 record after them\nquorvex t.tis 7 4\n", 0},
    {"records after the rows", {"t.tis=grad7x4+2"}, {"t.tis"}, "Layout: 7 x 4 blocks, 2 records after them\nquorvex t.tis 7 4\n", 0},
    {"--numbers into a pipe", {"t.tis=grad13x3"}, {"--numbers", "t.tis", "|"},
     "Layout: 13 x 3 blocks\nquorvex t.tis 13 3\n", 0, "|13 3\n"},
    {"--numbers refused, nothing in the pipe", {"t.tis=1"}, {"t.tis", "--numbers", "|"},
     "t.tis holds a single record: there is no layout to find!\n", 1, "|"},
    {"missing", {}, {"no.tis"}, "no.tis: No such file or directory\n", 1},
    {"empty", {"e.tis=0"}, {"e.tis"}, "e.tis is empty: there is no layout to find!\n", 1},
    {"a picture", {"p.tis=bmp"}, {"p.tis"}, "p.tis is not a tis file: it starts like a BMP or PNG picture!\n", 1},
    {"a byte too many", {"t.tis=odd"}, {"t.tis"}, "t.tis is not a tis file: its size is not a whole number of records!\n", 1},
    {"one flat colour", {"t.tis=flat"}, {"t.tis"},
     "Cannot tell the layout of t.tis: no width makes its blocks' edges meet clearly better than the others\n", 1},
};
const row layout_posix_only[] = {
    {"a folder", {"d.tis/"}, {"d.tis"}, "d.tis: Is a directory\n", 1},
    {"zeros without end, in 40 MiB", {}, {"/dev/stdin", "<+zeros"}, "/dev/stdin: not enough memory to read it\n", 1, "",
     RLIM_INFINITY, 40u << 20},
};

// What a successful row leaves under r.made, from the files as they were before it ran: the
// reference's bitmap of the tile file, or the packing of the picture, after the original
// (--like) where there is one.
bytes made_by(const row& r, const std::map<std::string, file_state>& before, tool kind) {
    if (kind == tool::layout) return bytes(r.made.begin() + 1, r.made.end());
    const bool pack = kind == tool::pack;
    const bytes input = *before.at(r.folder[0].substr(0, r.folder[0].rfind('='))).content;
    if (!pack) return convert_bytes(reference_convert, input, std::stoi(r.args[1]), std::stoi(r.args[2])).file;
    const auto like = std::find(r.args.begin(), r.args.end(), "--like");
    const unique_file in = temp_file_with(input), out{std::tmpfile()};
    // An original read from standard input is the file fed to it ("<name").
    const auto fed = std::find_if(r.args.begin(), r.args.end(), [](const std::string& arg) { return arg.starts_with('<'); });
    const std::string original = like == r.args.end() ? "" : like[1] == "-" ? fed->substr(1) : like[1];
    const unique_file model = original.empty() ? unique_file{} : temp_file_with(*before.at(original).content);
    picture pic;
    byte_sink sink = byte_sink::file(out.get());
    std::optional<byte_source> source;
    if (model) source.emplace(byte_source::file(model.get()));
    EXPECT_TRUE(read_picture(in.get(), pic) == picture_problem::none &&
                pack_blocks(pic, sink, {1, source ? &*source : nullptr, {}}).failed == pack_stage::none);
    return read_all(out.get());
}

// The rows for every build, then those for this kind of system, run by the programs as built
// or by their test build that writes through a named temporary file.
void run_rows(std::span<const row> every, std::span<const row> posix, std::span<const row> windows, tool kind,
              bool named) {
    const std::string base = fresh_folder().string();
    ASSERT_FALSE(base.empty());
    write_file(fs::path(base) / "fresh", {});
    const fs::perms fresh = fs::status(fs::path(base) / "fresh").permissions();  // what a new file gets
    std::vector<row> rows(every.begin(), every.end());
    rows.insert(rows.end(), (runs_windows_build ? windows : posix).begin(), (runs_windows_build ? windows : posix).end());
    for (const row& r : rows) {
        // The sanitizers need more address space than the limit.
        if (r.memory_limit != RLIM_INFINITY && (emulated || dlsym(RTLD_DEFAULT, "__asan_init") != nullptr)) continue;
        SCOPED_TRACE(r.situation);
        const fs::path dir = fs::path(base) / std::to_string(&r - rows.data());
        fs::create_directory(dir);
        std::vector<fs::path> mounted;
        bool laid_out = true;
        for (const std::string& entry : r.folder) laid_out = lay_out(dir, entry, mounted) && laid_out;
        const bool as_nobody = std::find(r.folder.begin(), r.folder.end(), "!nobody") != r.folder.end();
        const auto unmount = [&mounted] {
            for (const fs::path& point : mounted) EXPECT_EQ(0, umount2(point.c_str(), 0)) << point;
        };
        if (!laid_out) {
            std::cout << "Not run (needs root, and bind mounts for a mount): " << r.situation << '\n';
            unmount();
            continue;
        }
        auto expected = snapshot(dir);
        std::vector<std::string> command = program(kind, named);
        std::string redirect;
        for (const std::string& arg : r.args) {
            if (arg.starts_with('|') || arg.starts_with('>') || arg.starts_with('<')) redirect = arg;
            else command.push_back(windows_spelling(arg, dir));
        }
        bytes piped;
        const int status = run_program(command, dir, dir.string() + ".log", redirect, piped, r.size_limit, r.memory_limit,
                                       r.status == 128 + SIGXFSZ, as_nobody);
        if (as_nobody && status == 126) {
            std::cout << "Not run (the user nobody cannot reach the program here): " << r.situation << '\n';
            continue;
        }
        EXPECT_EQ(r.status, status);
        const bytes log = read_file(dir.string() + ".log");
        std::string text(log.begin(), log.end());
        if (runs_other_build) text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
        EXPECT_EQ("Quorvex v1.0 by Velkaran\n" + windows_spelling(r.out, dir), text);
        if (r.made.starts_with('|')) {
            // Another build's text output may end its lines with CR LF, as its log does.
            if (kind == tool::layout && runs_other_build) std::erase(piped, '\r');
            EXPECT_TRUE(made_by(r, expected, kind) == piped) << "the pipe holds what was made, and nothing else";
        } else if (!r.made.empty()) {
            // A replaced file keeps its permissions; appended data follows what was there.
            const bytes added = made_by(r, expected, kind);
            file_state& made = expected[r.made];
            bytes content = redirect.empty() ? bytes{} : made.content.value_or(bytes{});
            content.insert(content.end(), added.begin(), added.end());
            made = {content, made.content ? made.permissions : fresh};
        }
        auto after = snapshot(dir);
        // A killed run that had to name its file at once leaves it; the README says so.
        if (named && r.status == 128 + SIGXFSZ) std::erase_if(after, [](const auto& e) { return e.first.find(".partial-") != std::string::npos; });
        EXPECT_TRUE(expected == after) << "files changed, or a partial output was left";
        unmount();
    }
    fs::remove_all(base);
}

}  // namespace

TEST(EndToEnd, EveryRowLeavesWhatItSays) { run_rows(every_build, posix_only, windows_only, tool::convert, false); }
TEST(EndToEnd, EveryPackRowLeavesWhatItSays) {
    run_rows(pack_every_build, pack_posix_only, pack_windows_only, tool::pack, false);
}
TEST(EndToEnd, EveryLayoutRowLeavesWhatItSays) { run_rows(layout_every_build, layout_posix_only, {}, tool::layout, false); }
// Another build has no such test build: Windows always names its temporary file anyway.
TEST(EndToEnd, EveryRowLeavesWhatItSaysThroughANamedTemporaryFile) {
    if (runs_other_build) GTEST_SKIP() << "another build is tested";
    run_rows(every_build, posix_only, {}, tool::convert, true);
    run_rows(pack_every_build, pack_posix_only, {}, tool::pack, true);
}

// A script must not take a run whose outcome it could not be told for a success; the
// complete bitmap stays.
TEST(Run, UnwritableStandardOutputFailsButKeepsTheBitmap) {
    const fs::path folder = fresh_folder();
    write_file(folder / "t.tis", tile_records(1));
    const std::string input = (folder / "t.tis").string();
    const char* const argv[] = {"quorvex", input.c_str(), "1", "1"};
    std::ostream nowhere(nullptr);  // every write fails, as on a full disk
    EXPECT_EQ(1, run(4, argv, nowhere));
    EXPECT_EQ(12342u, fs::file_size(folder / "t.bmp"));
    fs::remove_all(folder);
}

// The effective user while it lives, the one before after.
struct acting_as {
    explicit acting_as(uid_t user) : before(geteuid()), ok(seteuid(user) == 0) {}
    ~acting_as() { EXPECT_EQ(0, seteuid(before)); }
    uid_t before;
    bool ok;
};

// What another program may do to the name while a run works: a file that appears under a new
// name goes only for a finished output, as if it had been there from the start; a temporary
// name in use is passed over; a file mounted on the name, or another user's in a sticky folder
// (for a run as nobody), which a rename cannot replace, is written into, and one mounted there
// when the output was opened is the one written into.
TEST(PendingOutput, OnlyAFinishedOutputTakesTheNameWhateverHappensToItMeanwhile) {
    const fs::path folder = fresh_folder(), name = folder / "t.bmp", mounted = folder / "mounted.bmp";
    const fs::path taken = folder / (".t.bmp.partial-" + std::to_string(getpid()) + "-0"), their_file = folder / "their.bmp";
    const bytes ours{'o', 'u', 'r', 's'}, theirs{'t', 'h', 'e', 'i', 'r', 's'};
    // The superuser's file, which nobody may write (and so link), in a folder open to all.
    fs::permissions(folder, fs::perms::all | fs::perms::sticky_bit);
    write_file(their_file, theirs);
    fs::permissions(their_file, static_cast<fs::perms>(0666));
    if (geteuid() != 0) std::cout << "Not run (needs root): another user's file appearing in a sticky folder\n";
    enum class meanwhile { appears, temporary_name_taken, mounted_on, unmounted, appears_in_sticky_folder };
    const auto mount_on_name = [&] {
        write_file(mounted, theirs);
        if (geteuid() == 0 && !emulated && mount(mounted.c_str(), name.c_str(), nullptr, MS_BIND, nullptr) == 0) return true;
        std::cout << "Not run (needs root, bind mounts and mount ids, which qemu-user gives as 0): a file mounted on the name\n";
        return false;
    };
    for (const auto& [what, finished] : {std::pair{meanwhile::appears, false}, std::pair{meanwhile::appears, true},
                                         std::pair{meanwhile::temporary_name_taken, true}, std::pair{meanwhile::mounted_on, true},
                                         std::pair{meanwhile::unmounted, true}, std::pair{meanwhile::appears_in_sticky_folder, true}}) {
        SCOPED_TRACE(static_cast<int>(what));
        const bool sticky = what == meanwhile::appears_in_sticky_folder;
        if (sticky && geteuid() != 0) continue;
        fs::remove(name);
        if (what != meanwhile::appears && !sticky) write_file(name, theirs);
        if (what == meanwhile::temporary_name_taken) write_file(taken, theirs);
        if (what == meanwhile::unmounted && !mount_on_name()) continue;
        {
            const acting_as runner(sticky ? 65534 : geteuid());
            pending_output output = pending_output::create(name.string());
            ASSERT_TRUE(runner.ok && output && std::fputs("ours", output.get()) >= 0);
            if (what == meanwhile::appears) write_file(name, theirs);
            if (sticky) fs::create_hard_link(their_file, name);
            if (what == meanwhile::mounted_on && !mount_on_name()) continue;
            EXPECT_TRUE(what != meanwhile::unmounted || umount2(name.c_str(), MNT_DETACH) == 0);
            EXPECT_EQ(finished, finished && output.keep());
        }
        const bool into_mounted = what == meanwhile::mounted_on || what == meanwhile::unmounted;
        EXPECT_TRUE(what != meanwhile::mounted_on || umount2(name.c_str(), 0) == 0);
        EXPECT_TRUE(read_file(name) == (finished && !into_mounted ? ours : theirs));
        EXPECT_TRUE(!into_mounted || read_file(mounted) == ours) << "the mounted file was written into";
        EXPECT_TRUE(what != meanwhile::temporary_name_taken || read_file(taken) == theirs) << "a name in use was taken";
    }
    fs::remove_all(folder);
}

// A file mounted on the name is written into at the end: a disk that fills then fails the run.
TEST(PendingOutput, AFullDiskUnderAMountedNameFailsTheRun) {
    const fs::path folder = fresh_folder(), name = folder / "t.bmp", small = folder / "small";
    fs::create_directory(small);
    write_file(name, {});
    if (geteuid() != 0 || mount("tmpfs", small.c_str(), "tmpfs", 0, "size=4k") != 0) {
        std::cout << "Not run (needs root and mounts): a full disk under a mounted name\n";
        return (void)fs::remove_all(folder);
    }
    write_file(small / "m.bmp", {'t'});  // the one page the disk has
    ASSERT_EQ(0, mount((small / "m.bmp").c_str(), name.c_str(), nullptr, MS_BIND, nullptr));
    {
        pending_output output = pending_output::create(name.string());
        ASSERT_TRUE(output && std::fwrite(bytes(8192, 'o').data(), 1, 8192, output.get()) == 8192);
        EXPECT_FALSE(output.keep());
    }
    EXPECT_TRUE(umount2(name.c_str(), 0) == 0 && umount2(small.c_str(), 0) == 0);
    fs::remove_all(folder);
}

}  // namespace quorvex
