// The real program, run as a script runs it, in a fresh folder per row. A row lays out the
// folder, runs, and is judged by the exact standard output, an empty standard error, the exit
// status and the folder afterwards: everything that was there unchanged, plus the bitmap of a
// run that succeeded, byte for byte what the reference makes of the row's first tile file.
//
// QUORVEX_COMMAND, when set, runs another build instead, split at spaces (for example
// "wine quorvex.exe"); its CR LF line ends are read as LF. POSIX rows skip then, and Windows
// rows run only then; "@" in those is the row's folder spelt Z:\... as Wine shows this machine.

#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <string_view>

#include "app/run.h"
#include "packing/pack_blocks.h"
#include "packing/read_picture.h"
#include "tests/test_support.h"

namespace quorvex {

namespace fs = std::filesystem;

namespace {

// quorvex, or quorvex-pack when `pack`: the other build's command when one is set, else the build's own.
std::vector<std::string> program(bool pack) {
    const char* const other = std::getenv(pack ? "QUORVEX_PACK_COMMAND" : "QUORVEX_COMMAND");
    std::istringstream words(other == nullptr ? "" : other);
    std::vector<std::string> command{std::istream_iterator<std::string>(words), {}};
    return command.empty() ? std::vector<std::string>{pack ? QUORVEX_PACK_BINARY : QUORVEX_BINARY} : command;
}
const bool runs_other_build = program(false) != std::vector<std::string>{QUORVEX_BINARY};

// Runs the program in `dir` with standard output and error both going to `log`, which must
// then hold exactly what standard output should: so standard error stays empty. Returns the
// exit status, or 128 + the signal that ended it. Past a file size limit writes fail as on a
// full disk, or with `killed` the program ends by the signal there; a memory limit caps its
// address space.
int run_program(std::vector<std::string> command, const fs::path& dir, const fs::path& log, rlim_t size_limit,
                rlim_t memory_limit, bool killed) {
    std::vector<char*> argv;
    argv.reserve(command.size() + 1);
    for (std::string& word : command) argv.push_back(word.data());
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        const int out = open(log.c_str(), O_WRONLY | O_CREAT, 0600);
        const rlimit limit{size_limit, size_limit}, memory{memory_limit, memory_limit};
        const rlimit no_core{0, 0};  // a killed run leaves no core file in the folder
        const bool limited = (killed || signal(SIGXFSZ, SIG_IGN) != SIG_ERR) && setrlimit(RLIMIT_CORE, &no_core) == 0 &&
                             (size_limit == RLIM_INFINITY || setrlimit(RLIMIT_FSIZE, &limit) == 0) &&
                             (memory_limit == RLIM_INFINITY || setrlimit(RLIMIT_AS, &memory) == 0);
        int no_input[2];  // standard input is an empty pipe, which no file name can be linked to
        if (out < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0 || pipe(no_input) != 0 || dup2(no_input[0], 0) < 0 ||
            chdir(dir.c_str()) != 0 || !limited) {
            _exit(127);
        }
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The bitmap quorvex makes of two tile records side by side: a picture for quorvex-pack.
bytes two_block_bitmap() { return convert_bytes(reference_convert, tile_records(2), 2, 1).file; }

// One entry of a row's folder: "name=N" a file of N tile records, "name=bmp" a picture of
// 2 x 1 blocks, "name=bmpWxH" the same claiming W x H pixels, "name=bmp-cut" the same cut
// short; "name/" a folder, "name->target" and "name=>target" a symbolic and a hard link.
void lay_out(const fs::path& dir, const std::string& entry) {
    const std::size_t arrow = entry.find('>');
    const std::string name = entry.substr(0, arrow == std::string::npos ? entry.rfind('=') : arrow - 1);
    if (entry.back() == '/') {
        fs::create_directories(dir / entry);
    } else if (arrow != std::string::npos && entry[arrow - 1] == '-') {
        fs::create_symlink(entry.substr(arrow + 1), dir / name);
    } else if (arrow != std::string::npos) {
        fs::create_hard_link(dir / entry.substr(arrow + 1), dir / name);
    } else if (const std::string value = entry.substr(name.size() + 1); value.starts_with("bmp")) {
        bytes bitmap = two_block_bitmap();
        if (const std::size_t by = value.find('x'); by != std::string::npos) {  // sides under 256, in the low bytes
            bitmap[18] = static_cast<unsigned char>(std::stoi(value.substr(3)));
            bitmap[22] = static_cast<unsigned char>(std::stoi(value.substr(by + 1)));
        }
        if (value == "bmp-cut") bitmap.resize(20000);
        write_file(dir / name, bitmap);
    } else {
        fs::create_directories((dir / name).parent_path());
        write_file(dir / name, tile_records(std::stoi(value)));
    }
}

// Every entry under `dir`, links not followed, with the contents of its regular files.
std::map<std::string, std::optional<bytes>> snapshot(const fs::path& dir) {
    std::map<std::string, std::optional<bytes>> entries;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        const bool file = entry.is_regular_file() && !entry.is_symlink();
        entries[entry.path().lexically_relative(dir).string()] = file ? std::optional(read_file(entry.path())) : std::nullopt;
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
    std::vector<std::string> args;
    std::string out;  // after the banner
    int status;       // the exit status; 128 + SIGXFSZ for a run that the file size limit ends
    std::string made = "";  // the bitmap a successful run leaves, in the folder's own spelling
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
// t.bmp and 39 more links before real.bmp: 40 are followed, as many as the system follows.
const std::vector<std::string> chain = [] {
    std::vector<std::string> folder{"t.tis=1", "real.bmp=2", "l1->real.bmp", "t.bmp->l39"};
    for (int i = 2; i <= 39; ++i) folder.push_back(std::string("l").append(std::to_string(i)).append("->l").append(std::to_string(i - 1)));
    return folder;
}();  // the bitmap's name is one byte longer than a name may be

const row every_build[] = {
    {"two arguments", {"t.tis=1"}, {"t.tis", "1"}, usage, 1},
    {"--help", {"t.tis=1"}, {"--help"}, usage, 0},
    {"-h", {"t.tis=1"}, {"-h"}, usage, 0},
    {"--version", {"t.tis=1"}, {"--version"}, "", 0},
    {"-V", {"t.tis=1"}, {"-V"}, "", 0},
    {"-v is no flag", {"t.tis=1"}, {"-v"}, usage, 1},
    {"a flag with more arguments", {"t.tis=1"}, {"--version", "x"}, usage, 1},
    {"a flag as the input name", {"t.tis=1"}, {"--help", "1", "1"}, "--help is not a tis file!\n", 1},
    {"converted, extra arguments ignored", {"t.tis=6"}, {"t.tis", "2", "3", "ignored", "too"}, done, 0, "t.bmp"},
    {"input shorter than the picture", {"t.tis=3"}, {"t.tis", "2", "2"}, done, 0, "t.bmp"},
    {"header alone", {"t.tis=1"}, {"t.tis", "0", "4"}, done, 0, "t.bmp"},
    {"old bitmap replaced", {"t.tis=1", "t.bmp=2"}, {"t.tis", "1", "1"}, done, 0, "t.bmp"},
    {"missing input", {}, {"nosuch.tis", "1", "1"}, "nosuch.tis is not a tis file!\n", 1},
    {"empty input name", {}, {"", "1", "1"}, " is not a tis file!\n", 1},
    {"input is a folder", {"folder.tis/"}, {"folder.tis", "1", "1"}, "folder.tis is not a tis file!\n", 1},
    {"output name is a folder", {"t.tis=1", "t.bmp/"}, {"t.tis", "1", "1"}, "Can't open output file: t.bmp\n", 1},
    {"output name too long", {over + "=1"}, {over, "1", "1"}, "Can't open output file: " + over + ".bmp\n", 1},
    {"input named like its output", {"x.bmp=1"}, {"x.bmp", "1", "1"}, is_input, 1},
    {"refused size, old bitmap kept", {"t.tis=1", "t.bmp=2"}, {"t.tis", "-1", "1"}, failed, 1},
    {"long name", {deep + ".tis=1"}, {deep + ".tis", "1", "1"}, done, 0, deep + ".bmp"},
    {"long name, refused size", {deep + ".tis=1"}, {deep + ".tis", "-1", "1"}, failed, 1},
    {"spaces", {"with space.tis=2"}, {"with space.tis", " 2", "\t1"}, done, 0, "with space.bmp"},
    {"leading dash", {"-1.tis=1"}, {"-1.tis", "1", "1"}, done, 0, "-1.bmp"},
    {"folder part kept", {"sub/t.tis=1"}, {"./sub/t.tis", "1", "1"}, done, 0, "sub/t.bmp"},
    {"UTF-8 names", {names + ".tis=1"}, {names + ".tis", "1", "1"}, done, 0, names + ".bmp"},
    {"missing, UTF-8 name", {}, {names + ".tis", "1", "1"}, names + ".tis is not a tis file!\n", 1},
    {"UTF-8 input named like its output", {names + ".bmp=1"}, {names + ".bmp", "1", "1"},
     "Can't open output file: " + names + ".bmp (it is the input file)\n", 1},
    {"UTF-8 old bitmap kept", {names + ".tis=1", names + ".bmp=2"}, {names + ".tis", "-1", "1"}, failed, 1},
};
// Standard output is a file under the limit too, so the smallest limit is the messages' length.
const row posix_only[] = {
    {"disk full in the header", {"t.tis=1", "t.bmp=2"}, {"t.tis", "0", "1"}, failed, 1, "", 50},
    {"disk full after the header", {"t.tis=4", "t.bmp=2"}, {"t.tis", "2", "2"}, failed, 1, "", 54},
    {"disk full in the first strip", {"t.tis=4", "t.bmp=2"}, {"t.tis", "2", "2"}, failed, 1, "", 20000},
    {"disk full in the last strip", {"t.tis=9"}, {"t.tis", "3", "3"}, failed, 1, "", 100000},
    {"killed in the last strip", {"t.tis=9", "t.bmp=2"}, {"t.tis", "3", "3"}, "", 128 + SIGXFSZ, "", 100000},
    {"no memory for a block-row", {"t.tis=1", "t.bmp=2"}, {"t.tis", "100000", "1"}, failed, 1, "", RLIM_INFINITY, 1u << 30},
    {"failed run through a link", {"t.tis=1", "real.bmp=2", "t.bmp->real.bmp"}, {"t.tis", "-1", "1"}, failed, 1},
    {"link under the output name", {"t.tis=1", "real.bmp=2", "t.bmp->real.bmp"}, {"t.tis", "1", "1"}, done, 0, "real.bmp"},
    {"output leads to a device", {"t.tis=1", "t.bmp->/dev/null"}, {"t.tis", "1", "1"}, done, 0},
    {"40 links under the output name", chain, {"t.tis", "1", "1"}, done, 0, "real.bmp"},
    {"dangling link under the output name", {"t.tis=1", "t.bmp->new.bmp"}, {"t.tis", "1", "1"}, done, 0, "new.bmp"},
    {"output is a symbolic link to the input", {"x.tis=1", "x.bmp->x.tis"}, {"x.tis", "1", "1"}, is_input, 1},
    {"output is a hard link to the input", {"x.tis=1", "x.bmp=>x.tis"}, {"x.tis", "1", "1"}, is_input, 1},
    {"input is a symbolic link to the output", {"x.bmp=1", "x.tis->x.bmp"}, {"x.tis", "1", "1"}, is_input, 1},
    // The naming rule keeps the input's folders, which exist; only a link leads under a file.
    {"output name leads under a file", {"t.tis=1", "t.bmp->t.tis/x"}, {"t.tis", "1", "1"}, "Can't open output file: t.bmp\n", 1},
    {"bytes that are not UTF-8", {"caf\xff.tis=1"}, {"caf\xff.tis", "1", "1"}, done, 0, "caf\xff.bmp"},
};
const row windows_only[] = {
    {"backslash folder", {"sub/t.tis=1"}, {"sub\\t.tis", "1", "1"}, done, 0, "sub/t.bmp"},
    // The naming rule reads the name as plain text, across '\' as across '/'.
    {"dot in a backslash folder", {"dir.old/tiles=1"}, {"dir.old\\tiles", "1", "1"}, done, 0, "dir.bmp"},
    {"drive letter", {"abs.tis=1"}, {"@\\abs.tis", "1", "1"}, done, 0, "abs.bmp"},
    {"missing, drive letter", {}, {"@\\no\\x.tis", "1", "1"}, "@\\no\\x.tis is not a tis file!\n", 1},
    {"output a folder, backslash", {"x/y.tis=1", "x/y.bmp/"}, {"x\\y.tis", "1", "1"}, "Can't open output file: x\\y.bmp\n", 1},
    {"input named like its output, drive letter", {"x.bmp=1"}, {"@\\x.bmp", "1", "1"},
     "Can't open output file: @\\x.bmp (it is the input file)\n", 1},
};

// quorvex-pack's rows: the picture is the first entry of the folder; a packed file must be
// what the packing makes of it.
const std::string pack_usage = "Usage: quorvex-pack <picture> <tisfile>\n"
                               "Note: the picture is a BMP or PNG whose width and height are multiples of 64 pixels\n";
const std::string packed = "Tis file written: 2 x 1 blocks, 0 reduced to 256 colours\n";
const row pack_every_build[] = {
    {"no arguments", {"p.bmp=bmp"}, {}, pack_usage, 1},
    {"one argument", {"p.bmp=bmp"}, {"p.bmp"}, pack_usage, 1},
    {"--help", {"p.bmp=bmp"}, {"--help"}, pack_usage, 0},
    {"-V", {"p.bmp=bmp"}, {"-V"}, "", 0},
    {"missing picture", {}, {"no.bmp", "t.tis"}, "no.bmp is not a BMP or PNG picture!\n", 1},
    {"tile data is no picture", {"t.tis=2"}, {"t.tis", "u.tis"}, "t.tis is not a BMP or PNG picture!\n", 1},
    {"picture is a folder", {"d.bmp/"}, {"d.bmp", "t.tis"}, "d.bmp is not a BMP or PNG picture!\n", 1},
    {"width not in blocks", {"p.bmp=bmp100x64"}, {"p.bmp", "t.tis"},
     "p.bmp is 100 x 64 pixels; width and height must be multiples of 64!\n", 1},
    {"height not in blocks", {"p.bmp=bmp64x96"}, {"p.bmp", "t.tis"},
     "p.bmp is 64 x 96 pixels; width and height must be multiples of 64!\n", 1},
    {"output is the picture", {"p.bmp=bmp"}, {"p.bmp", "./p.bmp"}, "Can't open output file: ./p.bmp (it is the input file)\n", 1},
    {"output is a folder", {"p.bmp=bmp", "o/"}, {"p.bmp", "o"}, "Can't open output file: o\n", 1},
    {"missing original", {"p.bmp=bmp"}, {"--like", "no.tis", "p.bmp", "t.tis"}, "no.tis is not a tis file!\n", 1},
    {"packed, extra arguments ignored", {"p.bmp=bmp", "t.tis=3"}, {"p.bmp", "t.tis", "ignored"}, packed, 0, "t.tis"},
    // Black joins each block's 256 colours: both are reduced.
    {"picture cut short: the rest reads as black", {"p.bmp=bmp-cut"}, {"p.bmp", "t.tis"},
     "Tis file written: 2 x 1 blocks, 2 reduced to 256 colours\n", 0, "t.tis"},
};
const row pack_posix_only[] = {
    {"disk full, the old tile file kept", {"p.bmp=bmp", "t.tis=3"}, {"p.bmp", "t.tis"}, "Packing failed!\n", 1, "", 6000},
    {"disk full in the original's tail", {"p.bmp=bmp", "o.tis=5"}, {"--like", "o.tis", "p.bmp", "t.tis"}, "Packing failed!\n", 1, "", 15000},
    {"output is a hard link to the picture", {"p.bmp=bmp", "h=>p.bmp"}, {"p.bmp", "h"},
     "Can't open output file: h (it is the input file)\n", 1},
};

// What a successful row leaves under r.made: the reference's bitmap of the tile file, or the
// packing of the picture.
bytes made_by(const row& r, const fs::path& dir, bool pack) {
    const bytes input = read_file(dir / r.folder[0].substr(0, r.folder[0].rfind('=')));
    if (!pack) return convert_bytes(reference_convert, input, std::stoi(r.args[1]), std::stoi(r.args[2])).file;
    const unique_file in = temp_file_with(input), out{std::tmpfile()};
    picture pic;
    EXPECT_TRUE(read_picture(in.get(), pic) == picture_problem::none && pack_blocks(pic, out.get()).failed == pack_stage::none);
    return read_all(out.get());
}

// The rows for every build, then those for this kind of system (Windows when another build runs).
void run_rows(std::span<const row> every, std::span<const row> posix, std::span<const row> windows, bool pack) {
    std::string base = (fs::temp_directory_path() / "quorvex-test-XXXXXX").string();
    ASSERT_NE(nullptr, mkdtemp(base.data()));
    std::vector<row> rows(every.begin(), every.end());
    rows.insert(rows.end(), (runs_other_build ? windows : posix).begin(), (runs_other_build ? windows : posix).end());
    for (const row& r : rows) {
        // The sanitizers need more address space than the limit, and a user-mode emulator (the
        // build's launcher) does not pass the limit on at all.
        const bool emulated = std::string_view(QUORVEX_BINARY).find("/emulated-") != std::string_view::npos;
        if (r.memory_limit != RLIM_INFINITY && (emulated || dlsym(RTLD_DEFAULT, "__asan_init") != nullptr)) continue;
        SCOPED_TRACE(r.situation);
        const fs::path dir = fs::path(base) / std::to_string(&r - rows.data());
        fs::create_directory(dir);
        for (const std::string& entry : r.folder) lay_out(dir, entry);
        auto expected = snapshot(dir);
        std::vector<std::string> command = program(pack);
        for (const std::string& arg : r.args) command.push_back(windows_spelling(arg, dir));
        EXPECT_EQ(r.status, run_program(command, dir, dir.string() + ".log", r.size_limit, r.memory_limit,
                                        r.status == 128 + SIGXFSZ));
        const bytes log = read_file(dir.string() + ".log");
        std::string text(log.begin(), log.end());
        if (runs_other_build) text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
        EXPECT_EQ("Quorvex v1.0 by Velkaran\n" + windows_spelling(r.out, dir), text);
        if (!r.made.empty()) expected[r.made] = made_by(r, dir, pack);
        EXPECT_TRUE(expected == snapshot(dir)) << "files changed, or a partial output was left";
    }
    fs::remove_all(base);
}

}  // namespace

TEST(EndToEnd, EveryRowLeavesWhatItSays) { run_rows(every_build, posix_only, windows_only, false); }
TEST(EndToEnd, EveryPackRowLeavesWhatItSays) { run_rows(pack_every_build, pack_posix_only, {}, true); }

// A script must not take a run whose outcome it could not be told for a success; the
// complete bitmap stays.
TEST(Run, UnwritableStandardOutputFailsButKeepsTheBitmap) {
    write_file("unwritable-output.tis", tile_records(1));  // in the build's folder, where the tests run
    fs::remove("unwritable-output.bmp");
    const char* const argv[] = {"quorvex", "unwritable-output.tis", "1", "1"};
    std::ostream nowhere(nullptr);  // every write fails, as on a full disk
    EXPECT_EQ(1, run(4, argv, nowhere));
    EXPECT_EQ(12342u, fs::file_size("unwritable-output.bmp"));
}

}  // namespace quorvex
