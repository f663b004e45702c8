// Faults and hostile names, end to end on the real binary. Every row is judged the same way:
// the exact standard output, empty standard error, the exit status, every file that was there
// before still byte-identical, and nothing new left behind but the bitmap of a run that
// succeeded.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "app/files.h"
#include "app/run.h"
#include "tests/run_program.h"
#include "tests/test_support.h"

namespace fs = std::filesystem;

namespace {

const std::string banner = "Quorvex v1.0 by Velkaran\n";
const std::string success = "Tis file converted successfully!\n";
const std::string failure = "Conversion failed!\n";
#if defined(__SANITIZE_ADDRESS__)
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif

struct fault {
    std::string why;
    std::function<void(const fs::path&)> prepare;  // lays out the folder before the run
    std::vector<std::string> args;
    std::string out;                                 // after the banner
    int status;
    std::string created;                             // the bitmap a successful run leaves, or ""
    std::uint64_t created_bytes = 0;
    run_limits limits = {};
};

std::function<void(const fs::path&)> tile_file(std::string name, int records) {
    return [name = std::move(name), records](const fs::path& dir) {
        fs::create_directories((dir / name).parent_path());
        write_file(dir / name, tile_records(records));
    };
}

std::function<void(const fs::path&)> both(std::function<void(const fs::path&)> first,
                                          std::function<void(const fs::path&)> second) {
    return [first = std::move(first), second = std::move(second)](const fs::path& dir) {
        first(dir);
        second(dir);
    };
}

// A pipe under the input's name with a writer behind it, which the run reaps afterwards.
void feed_pipe(const fs::path& dir) {
    const fs::path pipe = dir / "pipe.tis";
    ASSERT_EQ(0, mkfifo(pipe.c_str(), 0600));
    if (fork() == 0) {
        (void)signal(SIGPIPE, SIG_IGN);
        alarm(20);  // never outlive a converter that does not open its end
        const int fd = open(pipe.c_str(), O_WRONLY);
        const bytes record = tile_record(0);
        _exit(fd >= 0 && write(fd, record.data(), record.size()) >= 0 ? 0 : 1);
    }
}

// Every entry under `dir` (not following links) with the contents of the regular files.
std::map<std::string, std::optional<bytes>> snapshot(const fs::path& dir) {
    std::map<std::string, std::optional<bytes>> entries;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        const std::string name = entry.path().lexically_relative(dir).string();
        entries[name] = entry.is_regular_file() && !entry.is_symlink()
                            ? std::optional<bytes>(read_file(entry.path()))
                            : std::nullopt;
    }
    return entries;
}

using runner = program_outcome (*)(const fs::path&, const std::vector<std::string>&, const run_limits&);

void run_faults(const std::vector<fault>& faults, runner program = run_quorvex) {
    for (const fault& f : faults) {
        SCOPED_TRACE(f.why);
        scoped_temp_dir dir;
        f.prepare(dir.path());
        auto before = snapshot(dir.path());
        const program_outcome r = program(dir.path(), f.args, f.limits);
        while (waitpid(-1, nullptr, 0) > 0) {}  // a pipe's writer

        EXPECT_EQ(banner + f.out, r.out);
        EXPECT_EQ("", r.err);
        EXPECT_EQ(f.status, r.status);
        auto after = snapshot(dir.path());
        if (!f.created.empty()) {
            ASSERT_TRUE(after.count(f.created)) << "no " << f.created;
            EXPECT_EQ(f.created_bytes, fs::file_size(dir.path() / f.created));
            after.erase(f.created);
            before.erase(f.created);  // the bitmap it replaced
        }
        EXPECT_TRUE(before == after) << "files changed, or a partial bitmap was left";
    }
}

// A 2 x 1-block bitmap under `name`, its size fields set to `width` x `height` when given.
std::function<void(const fs::path&)> picture_file(std::string name, std::int32_t width = 0, std::int32_t height = 0) {
    return [name = std::move(name), width, height](const fs::path& dir) {
        bytes bitmap = converted_bitmap(tile_records(2), 2, 1);
        for (std::size_t i = 0; width != 0 && i < 4; ++i) {
            bitmap[18 + i] = static_cast<unsigned char>(static_cast<std::uint32_t>(width) >> (8 * i));
            bitmap[22 + i] = static_cast<unsigned char>(static_cast<std::uint32_t>(height) >> (8 * i));
        }
        write_file(dir / name, bitmap);
    };
}

// 700 characters in folders, as a single name may not pass 255.
std::string long_name() {
    std::string name;
    for (int level = 0; level < 5; ++level) name += std::string(99, 'd') + "/";
    return name + std::string(196, 'n');
}

}  // namespace

TEST(FaultInjection, BadCountsAndNamesFailCleanly) {
    const std::string deep = long_name();
    const std::string over = std::string(252, 'n');  // its bitmap's name is one byte too long
    const std::string cafe = "caf\xc3\xa9";
    const auto old_output = tile_file("t.bmp", 2);  // a bitmap from before, which no failure may touch
    run_faults({
        {"missing input", [](const fs::path&) {}, {"nosuch.tis", "1", "1"}, "nosuch.tis is not a tis file!\n", 1, ""},
        {"empty input name", [](const fs::path&) {}, {"", "1", "1"}, " is not a tis file!\n", 1, ""},
        {"input is a folder", [](const fs::path& d) { fs::create_directory(d / "folder.tis"); },
         {"folder.tis", "1", "1"}, "folder.tis is not a tis file!\n", 1, ""},
        {"output name is a folder", both(tile_file("t.tis", 1), [](const fs::path& d) { fs::create_directory(d / "t.bmp"); }),
         {"t.tis", "1", "1"}, "Can't open output file: t.bmp\n", 1, ""},
        {"input named like its output", tile_file("x.bmp", 1), {"x.bmp", "1", "1"},
         "Can't open output file: x.bmp (it is the input file)\n", 1, ""},
        {"negative width", both(tile_file("t.tis", 1), old_output), {"t.tis", "-1", "1"}, failure, 1, ""},
        {"width beyond 32 bits", tile_file("t.tis", 1), {"t.tis", "99999999999", "1"}, failure, 1, ""},
        {"height far below 32 bits", tile_file("t.tis", 1), {"t.tis", "1", "-99999999999"}, failure, 1, ""},
        {"height beyond the header's field", both(tile_file("t.tis", 1), old_output), {"t.tis", "0", "2147483647"}, failure, 1, ""},
        {"file beyond 4 GiB", both(tile_file("t.tis", 1), old_output), {"t.tis", "1000", "1000"}, failure, 1, ""},
        {"output name over the length limit", tile_file(over, 1), {over, "1", "1"},
         "Can't open output file: " + over + ".bmp\n", 1, ""},
        {"non-ASCII input named like its output", tile_file(cafe + ".bmp", 1), {cafe + ".bmp", "1", "1"},
         "Can't open output file: " + cafe + ".bmp (it is the input file)\n", 1, ""},
        {"non-ASCII output kept", both(tile_file(cafe + ".tis", 1), tile_file(cafe + ".bmp", 2)), {cafe + ".tis", "-1", "1"},
         failure, 1, ""},
        {"output replaced", both(tile_file("t.tis", 1), old_output), {"t.tis", "1", "1"}, success, 0, "t.bmp", 12342},
        {"widest and tallest picture", tile_file("t.tis", 1), {"t.tis", "33554431", "33554431"}, failure, 1, ""},
        {"long name, failed conversion", tile_file(deep + ".tis", 1), {deep + ".tis", "-1", "1"}, failure, 1, ""},
        {"long name", tile_file(deep + ".tis", 1), {deep + ".tis", "1", "1"}, success, 0, deep + ".bmp", 12342},
        {"spaces", tile_file("with space.tis", 2), {"with space.tis", " 2", "\t1"}, success, 0, "with space.bmp", 24630},
        {"leading dot kept", tile_file(".tis", 1), {".tis", "1", "1"}, success, 0, ".tis.bmp", 12342},
        {"two leading dots", tile_file("..tis", 1), {"..tis", "1", "1"}, success, 0, "..bmp", 12342},
        {"leading dash", tile_file("-1.tis", 1), {"-1.tis", "1", "1"}, success, 0, "-1.bmp", 12342},
        {"dot in a folder", tile_file("sub.d/tiles", 1), {"sub.d/tiles", "1", "1"}, success, 0, "sub.bmp", 12342},
        {"folder part kept", tile_file("sub/t.tis", 1), {"./sub/t.tis", "1", "1"}, success, 0, "sub/t.bmp", 12342},
    });
}

TEST(FaultInjection, SystemFaultsFailCleanly) {
    if (runs_other_build()) GTEST_SKIP() << "pipes, links, file-size limits and raw byte names are POSIX";
    const auto link_to = [](const std::string& target, const std::string& name, bool symbolic) {
        return [=](const fs::path& d) {
            if (symbolic) fs::create_symlink(target, d / name);
            else fs::create_hard_link(d / target, d / name);
        };
    };
    const std::string is_input = "Can't open output file: x.bmp (it is the input file)\n";
    const auto old_output = both(tile_file("t.tis", 9), tile_file("t.bmp", 2));
    const auto linked = both(both(tile_file("t.tis", 1), tile_file("real.bmp", 2)), link_to("real.bmp", "t.bmp", true));
    // Standard output is a file here too, so the smallest limit is the messages' length.
    std::vector<fault> faults{
        {"disk full in the header", old_output, {"t.tis", "0", "1"}, failure, 1, "", 0, {50}},
        {"disk full after the header", old_output, {"t.tis", "2", "2"}, failure, 1, "", 0, {54}},
        {"disk full in the first strip", old_output, {"t.tis", "2", "2"}, failure, 1, "", 0, {20000}},
        {"disk full in the last strip", tile_file("t.tis", 9), {"t.tis", "3", "3"}, failure, 1, "", 0, {100000}},
        {"killed in the last strip", old_output, {"t.tis", "3", "3"}, "", 128 + SIGXFSZ, "", 0, {100000, {}, true}},
        {"input cannot seek", both(feed_pipe, tile_file("pipe.bmp", 2)), {"pipe.tis", "1", "1"}, failure, 1, ""},
        {"failed run through a link", linked, {"t.tis", "-1", "1"}, failure, 1, ""},
        {"link under the output name", linked, {"t.tis", "1", "1"}, success, 0, "real.bmp", 12342},
        {"dangling link under the output name", both(tile_file("t.tis", 1), link_to("new.bmp", "t.bmp", true)),
         {"t.tis", "1", "1"}, success, 0, "new.bmp", 12342},
        {"output is a symbolic link to the input", both(tile_file("x.tis", 1), link_to("x.tis", "x.bmp", true)),
         {"x.tis", "1", "1"}, is_input, 1, ""},
        {"output is a hard link to the input", both(tile_file("x.tis", 1), link_to("x.tis", "x.bmp", false)),
         {"x.tis", "1", "1"}, is_input, 1, ""},
        {"input is a symbolic link to the output", both(tile_file("x.bmp", 1), link_to("x.bmp", "x.tis", true)),
         {"x.tis", "1", "1"}, is_input, 1, ""},
        // The naming rule keeps the input's folders, which exist; only a link leads under a file.
        {"output name leads under a regular file", both(tile_file("t.tis", 1), link_to("t.tis/x", "t.bmp", true)),
         {"t.tis", "1", "1"}, "Can't open output file: t.bmp\n", 1, ""},
        {"bytes that are not UTF-8", tile_file("caf\xc3\xa9\xff.tis", 1), {"caf\xc3\xa9\xff.tis", "1", "1"}, success, 0,
         "caf\xc3\xa9\xff.bmp", 12342},
    };
    // The sanitizers' shadow memory does not fit under an address-space limit.
    if (!sanitized) faults.push_back({"strip memory that cannot be had", old_output, {"t.tis", "100000", "1"}, failure, 1, "", 0, {{}, 1 << 30}});
    run_faults(faults);
}

// The one fault the conversion cannot see: every write fits the stream's buffer and only the
// final close reaches the full disk. The bitmap must still go.
TEST(FaultInjection, FailedCloseRemovesTheBitmap) {
    scoped_temp_dir dir;
    const fs::path name = dir.path() / "t.bmp";
    const pid_t child = fork();
    if (child == 0) {
        pending_output output = pending_output::create(name.string());
        const bool written = output && std::fputs("BM", output.get()) >= 0;
        (void)signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        const bool limited = getrlimit(RLIMIT_FSIZE, &limit) == 0;
        const rlimit tiny{1, limit.rlim_max};
        const bool applied = limited && setrlimit(RLIMIT_FSIZE, &tiny) == 0;
        const bool kept = output.keep();
        // Lifted again so that the child's own exit can write what it must.
        (void)setrlimit(RLIMIT_FSIZE, &limit);
        std::exit(written && applied && !kept ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the close did not fail as it should";
    EXPECT_FALSE(fs::exists(name));
}

// A script must not take a run whose outcome it could not be told for a success; the
// complete bitmap stays.
TEST(FaultInjection, UnwritableStandardOutputFailsButKeepsTheBitmap) {
    scoped_temp_dir dir;
    write_file(dir.path() / "t.tis", tile_records(1));
    const std::string input = (dir.path() / "t.tis").string();
    const char* const argv[] = {"quorvex", input.c_str(), "1", "1"};
    std::ostream nowhere(nullptr);  // every write fails, as on a full disk
    EXPECT_EQ(1, run(4, argv, nowhere));
    EXPECT_EQ(12342u, fs::file_size(dir.path() / "t.bmp"));
}

TEST(FaultInjection, PackRefusesAndFailsCleanly) {
    const auto nothing = [](const fs::path&) {};
    const std::string usage =
        "Usage: quorvex-pack <picture> <tisfile>\n"
        "Note: the picture is a BMP or PNG whose width and height are multiples of 64 pixels\n";
    const std::string is_input = "Can't open output file: ./p.bmp (it is the input file)\n";
    const std::string written = "Tis file written: 2 x 1 blocks, 0 reduced to 256 colours\n";
    std::vector<fault> faults = {
        {"no arguments", nothing, {}, usage, 1, ""},
        {"one argument", picture_file("p.bmp"), {"p.bmp"}, usage, 1, ""},
        {"help", nothing, {"--help"}, usage, 0, ""},
        {"version", nothing, {"-V"}, "", 0, ""},
        {"missing picture", nothing, {"no.bmp", "t.tis"}, "no.bmp is not a BMP or PNG picture!\n", 1, ""},
        {"tile data", tile_file("t.tis", 2), {"t.tis", "u.tis"}, "t.tis is not a BMP or PNG picture!\n", 1, ""},
        {"folder", [](const fs::path& d) { fs::create_directory(d / "d.bmp"); }, {"d.bmp", "t.tis"},
         "d.bmp is not a BMP or PNG picture!\n", 1, ""},
        {"width not in blocks", picture_file("p.bmp", 100, 64), {"p.bmp", "t.tis"},
         "p.bmp is 100 x 64 pixels; width and height must be multiples of 64!\n", 1, ""},
        {"height not in blocks", picture_file("p.bmp", 64, 96), {"p.bmp", "t.tis"},
         "p.bmp is 64 x 96 pixels; width and height must be multiples of 64!\n", 1, ""},
        {"output is the picture", picture_file("p.bmp"), {"p.bmp", "./p.bmp"}, is_input, 1, ""},
        {"output is a folder", both(picture_file("p.bmp"), [](const fs::path& d) { fs::create_directory(d / "o"); }),
         {"p.bmp", "o"}, "Can't open output file: o\n", 1, ""},
        {"packed", picture_file("p.bmp"), {"p.bmp", "t.tis", "ignored"}, written, 0, "t.tis", 10240},
        {"picture cut short: the rest reads as black",
         [](const fs::path& d) {
             bytes tiles = uniform_record({9, 9, 9, 0}, 0);
             tiles.resize(10240);  // a grey block, then a black one
             bytes bitmap = converted_bitmap(tiles, 2, 1);
             bitmap.resize(20000);
             write_file(d / "p.bmp", bitmap);
         },
         {"p.bmp", "t.tis"}, written, 0, "t.tis", 10240},
    };
    if (!runs_other_build()) {
        faults.push_back({"disk full, the old tile file kept", both(picture_file("p.bmp"), tile_file("t.tis", 3)),
                          {"p.bmp", "t.tis"}, "Packing failed!\n", 1, "", 0, {6000}});
        faults.push_back({"output is a hard link to the picture",
                          both(picture_file("p.bmp"), [](const fs::path& d) { fs::create_hard_link(d / "p.bmp", d / "h"); }),
                          {"p.bmp", "h"}, "Can't open output file: h (it is the input file)\n", 1, ""});
    }
    run_faults(faults, run_quorvex_pack);
}
