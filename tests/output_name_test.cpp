#include "app/output_name.h"

#include <gtest/gtest.h>

#include <string>

TEST(MakeOutputName, ReplacesOnlyTheLastExtensionAndNeverALeadingDot) {
    const struct {
        std::string input;
        std::string expected;
    } cases[] = {
        {"tiles.tis", "tiles.bmp"},
        {"tiles", "tiles.bmp"},
        {"a.b.tis", "a.b.bmp"},
        {".tis", ".tis.bmp"},
        {"x.", "x.bmp"},
        {"dir.old/tiles", "dir.bmp"},
        {"../x", "..bmp"},
        {"dir.old\\tiles", "dir.bmp"},
        {"C:tiles.TIS", "C:tiles.bmp"},
        {"", ".bmp"},
        {"name with space.tis", "name with space.bmp"},
        {"caf\xc3\xa9.tis", "caf\xc3\xa9.bmp"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(c.expected, make_output_name(c.input));
    }
}

TEST(MakeOutputName, HasNoLengthLimit) {
    const std::string stem(5000, 'n');
    EXPECT_EQ(stem + ".bmp", make_output_name(stem + ".tis"));
}
