#include "app/block_count.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvex {

TEST(ParseBlockCount, ReadsSignAndLeadingDigitsAndSaturates) {
    const struct {
        std::string text;
        std::int32_t expected;
    } cases[] = {
        {"12", 12}, {"abc", 0}, {"", 0}, {" 12", 12}, {"\t\n\v\f\r 5", 5}, {"+3", 3}, {"-2", -2},
        {"7x", 7}, {"6.5", 6}, {"007", 7}, {"+", 0}, {"-", 0}, {"+-3", 0}, {"1 2", 1},
        {"2147483647", 2147483647}, {"2147483648", 2147483647},
        {"-2147483648", -2147483647 - 1}, {"-2147483649", -2147483647 - 1}, {"-21474836470", -2147483647 - 1},
        {"99999999999999999999999999", 2147483647}, {"-99999999999999999999999999", -2147483647 - 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("'" + c.text + "'");
        EXPECT_EQ(c.expected, parse_block_count(c.text));
    }
}

}  // namespace quorvex
