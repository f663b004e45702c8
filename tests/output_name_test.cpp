#include "app/output_name.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvex {

TEST(MakeOutputName, ReplacesOnlyTheLastExtensionAndNeverALeadingDot) {
    const std::string long_stem(5000, 'n');
    const struct {
        std::string input, expected;
    } cases[] = {
        {"tiles.tis", "tiles.bmp"}, {"tiles", "tiles.bmp"}, {"a.b.tis", "a.b.bmp"}, {".tis", ".tis.bmp"},
        {"x.", "x.bmp"}, {"dir.old/tiles", "dir.bmp"}, {"../x", "..bmp"}, {"dir.old\\tiles", "dir.bmp"},
        {"C:tiles.TIS", "C:tiles.bmp"}, {"", ".bmp"}, {"name with space.tis", "name with space.bmp"},
        {"caf\xc3\xa9.tis", "caf\xc3\xa9.bmp"}, {long_stem + ".tis", long_stem + ".bmp"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(c.expected, make_output_name(c.input));
    }
}

}  // namespace quorvex
