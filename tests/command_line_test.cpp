// End to end: the real binary, run in a temporary folder, judged by what a script sees:
// standard output to the byte, standard error, the exit status and the files left behind.
// Faults and hostile names are in fault_injection_test.cpp.

#include <gtest/gtest.h>

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

using names = std::vector<std::string>;

}  // namespace

// A flag is answered only when it is the one argument; anywhere else it is a name as before.
TEST(CommandLine, FewArgumentsOrAFlagCreateNothing) {
    struct row {
        names args;
        std::string out;
        int status;
    };
    const row rows[] = {
        {{}, banner + usage, 1},
        {{"t.tis"}, banner + usage, 1},
        {{"t.tis", "1"}, banner + usage, 1},
        {{"--help"}, banner + usage, 0},
        {{"-h"}, banner + usage, 0},
        {{"--version"}, banner, 0},
        {{"-V"}, banner, 0},
        {{"-v"}, banner + usage, 1},
        {{"--version", "x"}, banner + usage, 1},
        {{"--help", "1", "1"}, banner + "--help is not a tis file!\n", 1},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(testing::PrintToString(r.args));
        scoped_temp_dir dir;
        write_file(dir.path() / "t.tis", tile_records(1));
        const program_outcome outcome = run_quorvex(dir.path(), r.args);
        EXPECT_EQ(r.out, outcome.out);
        EXPECT_EQ("", outcome.err);
        EXPECT_EQ(r.status, outcome.status);
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

TEST(CommandLine, ShortInputStillSucceeds) {
    scoped_temp_dir dir;
    write_file(dir.path() / "t.tis", tile_records(3));
    const program_outcome r = run_quorvex(dir.path(), {"t.tis", "2", "2"});
    EXPECT_EQ(banner + success, r.out);
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(54u + 4 * 12288, fs::file_size(dir.path() / "t.bmp"));
}
