// End to end: the real binary, run in a temporary folder, judged by what a script sees:
// standard output to the byte, standard error, the exit status and the files left behind.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/run_program.h"
#include "tests/test_support.h"

namespace fs = std::filesystem;

namespace {

const std::string banner = "Quorvex v1.0 by Velkaran\n";
const std::string usage =
    "Usage: quorvex <tisfile> <width in blocks> <height in blocks>\nNote: one block consists of 64*64 pixels\n";
const std::string success = "Tis file converted successfully!\n";
const std::string failure = "Conversion failed!\n";

using names = std::vector<std::string>;

}  // namespace

TEST(CommandLine, TooFewArgumentsShowUsageAndCreateNothing) {
    for (const names& args : {names{}, names{"t.tis"}, names{"t.tis", "1"}}) {
        SCOPED_TRACE(std::to_string(args.size()) + " arguments");
        scoped_temp_dir dir;
        write_file(dir.path() / "t.tis", tile_records(1));
        const program_outcome r = run_quorvex(dir.path(), args);
        EXPECT_EQ(banner + usage, r.out);
        EXPECT_EQ("", r.err);
        EXPECT_EQ(1, r.status);
        EXPECT_EQ(names{"t.tis"}, dir.entries());
    }
}

TEST(CommandLine, ConvertsAndPrintsExactlyTwoLines) {
    scoped_temp_dir dir;
    const bytes input = tile_records(6);
    write_file(dir.path() / "tiles.tis", input);
    const program_outcome r = run_quorvex(dir.path(), {"tiles.tis", "2", "3", "ignored", "too"});
    EXPECT_EQ(banner + success, r.out);
    EXPECT_EQ("", r.err);
    EXPECT_EQ(0, r.status);
    const bytes bitmap = read_file(dir.path() / "tiles.bmp");
    ASSERT_EQ(73782u, bitmap.size());
    EXPECT_TRUE(reference_pixels(input, 2, 3) == bytes(bitmap.begin() + 54, bitmap.end()));
    EXPECT_EQ(input, read_file(dir.path() / "tiles.tis"));
}

TEST(CommandLine, NamesWorkWhateverTheirLengthOrCharacters) {
    std::string deep;  // 700 characters; a single name may not pass 255
    for (int level = 0; level < 5; ++level) deep += std::string(99, 'd') + "/";
    deep += std::string(196, 'n');
    const struct {
        std::string input, output;
    } cases[] = {
        {deep + ".tis", deep + ".bmp"},
        {"with space.tis", "with space.bmp"},
        {"caf\xc3\xa9\xff.tis", "caf\xc3\xa9\xff.bmp"},
        {".tis", ".tis.bmp"},
        {"sub.d/tiles", "sub.bmp"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.output.substr(0, 40));
        scoped_temp_dir dir;
        fs::create_directories((dir.path() / c.input).parent_path());
        write_file(dir.path() / c.input, tile_records(1));
        const program_outcome r = run_quorvex(dir.path(), {c.input, "1", " +1"});
        EXPECT_EQ(banner + success, r.out);
        EXPECT_EQ(0, r.status);
        EXPECT_EQ(12342u, fs::file_size(dir.path() / c.output));
    }
}

TEST(CommandLine, InputThatCannotBeReadIsNotTileData) {
    scoped_temp_dir dir;
    fs::create_directory(dir.path() / "folder.tis");
    for (const std::string name : {"nosuch.tis", "folder.tis", ""}) {
        SCOPED_TRACE(name);
        const program_outcome r = run_quorvex(dir.path(), {name, "1", "1"});
        EXPECT_EQ(banner + name + " is not a tis file!\n", r.out);
        EXPECT_EQ("", r.err);
        EXPECT_EQ(1, r.status);
        EXPECT_EQ(names{"folder.tis"}, dir.entries());
    }
}

TEST(CommandLine, OutputThatCannotBeCreatedIsReported) {
    scoped_temp_dir dir;
    write_file(dir.path() / "t.tis", tile_records(1));
    fs::create_directory(dir.path() / "t.bmp");
    const program_outcome r = run_quorvex(dir.path(), {"t.tis", "1", "1"});
    EXPECT_EQ(banner + "Can't open output file: t.bmp\n", r.out);
    EXPECT_EQ(1, r.status);
    EXPECT_TRUE(fs::is_directory(dir.path() / "t.bmp"));
}

TEST(CommandLine, NeverOverwritesItsOwnInput) {
    const bytes input = tile_records(1);
    // By name, by symbolic link and by hard link.
    {
        scoped_temp_dir dir;
        write_file(dir.path() / "x.bmp", input);
        const program_outcome r = run_quorvex(dir.path(), {"x.bmp", "1", "1"});
        EXPECT_EQ(banner + "Can't open output file: x.bmp (it is the input file)\n", r.out);
        EXPECT_EQ(1, r.status);
        EXPECT_EQ(input, read_file(dir.path() / "x.bmp"));
    }
    for (const bool symbolic : {true, false}) {
        SCOPED_TRACE(symbolic ? "symbolic link" : "hard link");
        scoped_temp_dir dir;
        write_file(dir.path() / "x.tis", input);
        if (symbolic) fs::create_symlink("x.tis", dir.path() / "x.bmp");
        else fs::create_hard_link(dir.path() / "x.tis", dir.path() / "x.bmp");
        const program_outcome r = run_quorvex(dir.path(), {"x.tis", "1", "1"});
        EXPECT_EQ(banner + "Can't open output file: x.bmp (it is the input file)\n", r.out);
        EXPECT_EQ(1, r.status);
        EXPECT_EQ(input, read_file(dir.path() / "x.tis"));
    }
}

TEST(CommandLine, FailedConversionsExitWithOneAndLeaveNoFile) {
    const struct {
        std::string why, width, height;
    } cases[] = {
        {"negative width", "-1", "1"},
        {"width beyond 32 bits", "99999999999", "1"},
        {"height beyond the format", "0", "2147483647"},
        {"file size beyond 4 GiB", "1000", "1000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        scoped_temp_dir dir;
        write_file(dir.path() / "t.tis", tile_records(1));
        const program_outcome r = run_quorvex(dir.path(), {"t.tis", c.width, c.height});
        EXPECT_EQ(banner + failure, r.out);
        EXPECT_EQ("", r.err);
        EXPECT_EQ(1, r.status);
        EXPECT_EQ(names{"t.tis"}, dir.entries());
    }
}

TEST(CommandLine, FullDiskRemovesThePartialBitmap) {
    scoped_temp_dir dir;
    const bytes input = tile_records(4);
    write_file(dir.path() / "t.tis", input);
    const program_outcome r = run_quorvex(dir.path(), {"t.tis", "2", "2"}, 20000);
    EXPECT_EQ(banner + failure, r.out);
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(names{"t.tis"}, dir.entries());
    EXPECT_EQ(input, read_file(dir.path() / "t.tis"));
}

TEST(CommandLine, InputThatCannotSeekFails) {
    scoped_temp_dir dir;
    ASSERT_EQ(0, mkfifo((dir.path() / "pipe.tis").c_str(), 0600));
    const pid_t writer = fork();
    if (writer == 0) {
        // Opening blocks until the converter opens its end; it may give up before reading all.
        signal(SIGPIPE, SIG_IGN);
        const int fd = open((dir.path() / "pipe.tis").c_str(), O_WRONLY);
        const bytes record = tile_record(0);
        _exit(fd >= 0 && write(fd, record.data(), record.size()) >= 0 ? 0 : 1);
    }
    const program_outcome r = run_quorvex(dir.path(), {"pipe.tis", "1", "1"});
    waitpid(writer, nullptr, 0);
    EXPECT_EQ(banner + failure, r.out);
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(names{"pipe.tis"}, dir.entries());
}

TEST(CommandLine, ShortInputStillSucceeds) {
    scoped_temp_dir dir;
    write_file(dir.path() / "t.tis", tile_records(3));
    const program_outcome r = run_quorvex(dir.path(), {"t.tis", "2", "2"});
    EXPECT_EQ(banner + success, r.out);
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(54u + 4 * 12288, fs::file_size(dir.path() / "t.bmp"));
}
