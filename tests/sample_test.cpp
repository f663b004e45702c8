#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/test_support.h"

// The shipped sample is exactly what its generator writes, so it can always be rebuilt.
TEST(Sample, GeneratorReproducesTheShippedFile) {
    scoped_temp_dir dir;
    const auto made = dir.path() / "sample.tis";
    const std::string command = std::string("'") + MAKE_SAMPLE_BINARY + "' '" + made.string() + "'";
    ASSERT_EQ(0, std::system(command.c_str()));  // NOLINT(cert-env33-c): runs our own generator
    const bytes shipped = read_file(SAMPLE_TILE_FILE);
    EXPECT_EQ(12u * 5120, shipped.size());
    EXPECT_TRUE(read_file(made) == shipped);
}
