#include "app/output_name.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvex {

// The saved command_line fuzz inputs pin the same rule on POSIX names against a reference.
TEST(MakeOutputName, CutsOnlyTheLastComponentsExtensionAndNeverALeadingDot) {
    const auto posix = name_rules::posix, windows = name_rules::windows;
    const struct {
        std::string input;
        name_rules rules;
        std::string expected;
    } cases[] = {
        {"tiles.tis", posix, "tiles.bmp"}, {"tiles", posix, "tiles.bmp"}, {"a.b.tis", posix, "a.b.bmp"},
        {".tis", posix, ".tis.bmp"}, {"x.", posix, "x.bmp"}, {"", posix, ".bmp"},
        {"dir.old/tiles", posix, "dir.old/tiles.bmp"}, {"../x", posix, "../x.bmp"},
        {"game/.cache/AR01", posix, "game/.cache/AR01.bmp"}, {"dir/.tis", posix, "dir/.tis.bmp"},
        {"a.d/b.tis", posix, "a.d/b.bmp"}, {"dir.old\\tiles", posix, "dir.bmp"}, {"C:.tis", posix, "C:.bmp"},
        {"dir.old\\tiles", windows, "dir.old\\tiles.bmp"}, {"dir\\.tis", windows, "dir\\.tis.bmp"},
        {"a.d/b\\c", windows, "a.d/b\\c.bmp"}, {"C:.tis", windows, "C:.tis.bmp"}, {"C:t.TIS", windows, "C:t.bmp"},
        {"C:\\data.v2\\AR01", windows, "C:\\data.v2\\AR01.bmp"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(c.expected, make_output_name(c.input, c.rules));
    }
}

}  // namespace quorvex
