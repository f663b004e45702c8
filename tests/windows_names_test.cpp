// End to end, for a Windows build run through QUORVEX_COMMAND (under Wine): names as Windows
// users type them. Backslashes and drive letters only name folders there, so on the native
// build these cases skip. Under Wine the drive Z: is the root of this machine's file system.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/run_program.h"
#include "tests/test_support.h"

namespace fs = std::filesystem;

namespace {

const std::string banner = "Quorvex v1.0 by Velkaran\n";
const std::string success = "Tis file converted successfully!\n";

// The Windows spelling of an absolute path of this machine.
std::string drive_path(const fs::path& path) {
    std::string name = "Z:" + path.string();
    for (char& c : name) {
        if (c == '/') c = '\\';
    }
    return name;
}

void expect_converted(const fs::path& bitmap, const bytes& input) {
    const bytes written = read_file(bitmap);
    ASSERT_EQ(12342u, written.size()) << bitmap;
    EXPECT_EQ('B', written[0]);
    EXPECT_TRUE(reference_pixels(input, 1, 1) == bytes(written.begin() + 54, written.end()));
}

}  // namespace

TEST(WindowsNames, BackslashesAndDriveLettersNameFolders) {
    if (!runs_other_build()) GTEST_SKIP() << "backslashes and drive letters name folders only on Windows";
    scoped_temp_dir dir;
    const std::string here = dir.path().filename().string();
    const struct {
        std::string typed, input_at, output_at;
    } cases[] = {
        {"sub\\tiles.tis", "sub/tiles.tis", "sub/tiles.bmp"},
        {"sub/deeper\\tiles.tis", "sub/deeper/tiles.tis", "sub/deeper/tiles.bmp"},
        // The output-name rule reads the name as plain text, across '\' as across '/'.
        {"dir.old\\tiles", "dir.old/tiles", "dir.bmp"},
        {"..\\" + here + "\\up.tis", "up.tis", "up.bmp"},
        {drive_path(dir.path() / "abs.tis"), "abs.tis", "abs.bmp"},
        {drive_path(dir.path() / "sub.d" / "no extension"), "sub.d/no extension", "sub.bmp"},
    };
    const bytes input = tile_record(3);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        fs::create_directories((dir.path() / c.input_at).parent_path());
        write_file(dir.path() / c.input_at, input);
        const program_outcome r = run_quorvex(dir.path(), {c.typed, "1", "1"});
        EXPECT_EQ(banner + success, r.out);
        EXPECT_EQ("", r.err);
        EXPECT_EQ(0, r.status);
        expect_converted(dir.path() / c.output_at, input);
        EXPECT_EQ(input, read_file(dir.path() / c.input_at));
    }
}

TEST(WindowsNames, MessagesRepeatWindowsNamesAsTyped) {
    if (!runs_other_build()) GTEST_SKIP() << "backslashes and drive letters name folders only on Windows";
    scoped_temp_dir dir;
    const std::string missing = drive_path(dir.path() / "nosuch" / "x.tis");
    EXPECT_EQ(banner + missing + " is not a tis file!\n", run_quorvex(dir.path(), {missing, "1", "1"}).out);
    EXPECT_EQ(banner + "sub\\nosuch.tis is not a tis file!\n",
              run_quorvex(dir.path(), {"sub\\nosuch.tis", "1", "1"}).out);

    fs::create_directories(dir.path() / "x" / "y.bmp");
    write_file(dir.path() / "x" / "y.tis", tile_record(0));
    const program_outcome r = run_quorvex(dir.path(), {"x\\y.tis", "1", "1"});
    EXPECT_EQ(banner + "Can't open output file: x\\y.bmp\n", r.out);
    EXPECT_EQ(1, r.status);

    // The same file under another spelling is still the input.
    write_file(dir.path() / "x" / "z.bmp", tile_record(0));
    const std::string same = drive_path(dir.path() / "x" / "z.bmp");
    const program_outcome s = run_quorvex(dir.path(), {same, "1", "1"});
    EXPECT_EQ(banner + "Can't open output file: " + same + " (it is the input file)\n", s.out);
    EXPECT_EQ(1, s.status);
    EXPECT_EQ(tile_record(0), read_file(dir.path() / "x" / "z.bmp"));
}

// UTF-8 is the program's code page on Windows, so names outside any one ANSI code page work
// and messages carry the same bytes as on other systems.
TEST(WindowsNames, NonAsciiNamesKeepTheirBytes) {
    scoped_temp_dir dir;
    const bytes input = tile_record(5);
    for (const std::string stem : {"caf\xc3\xa9", "\xd0\xb6\xd1\x83\xd0\xba", "\xe7\x93\xa6\xe7\x89\x87",
                                   "brick \xf0\x9f\xa7\xb1"}) {
        SCOPED_TRACE(stem);
        write_file(dir.path() / (stem + ".tis"), input);
        const program_outcome r = run_quorvex(dir.path(), {stem + ".tis", "1", "1"});
        EXPECT_EQ(banner + success, r.out);
        EXPECT_EQ(0, r.status);
        expect_converted(dir.path() / (stem + ".bmp"), input);

        const std::string missing = stem + " missing.tis";
        EXPECT_EQ(banner + missing + " is not a tis file!\n", run_quorvex(dir.path(), {missing, "1", "1"}).out);
    }
}
