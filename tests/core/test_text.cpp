#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "text.hpp"

namespace {

struct Case {
    double value;
    const char* text;
};

class FormatDecimal : public ::testing::TestWithParam<Case> {};

TEST_P(FormatDecimal, WritesShortestPositionalDigits) {
    EXPECT_EQ(tavrik::format_decimal(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FormatDecimal,
    ::testing::Values(Case{1.0, "1"}, Case{-3.0, "-3"}, Case{1e21, "1000000000000000000000"},
                      Case{0.5, "0.5"}, Case{2e-7, "0.0000002"}, Case{1.25e-3, "0.00125"},
                      Case{-0.0, "-0"}, Case{0.0, "0"}, Case{0.1, "0.1"},
                      Case{1.0 / 3.0, "0.3333333333333333"}, Case{123456.789, "123456.789"},
                      Case{std::numeric_limits<double>::quiet_NaN(), "NaN"},
                      Case{-std::numeric_limits<double>::quiet_NaN(), "NaN"},
                      Case{std::numeric_limits<double>::infinity(), "inf"},
                      Case{-std::numeric_limits<double>::infinity(), "-inf"}));

TEST(FormatDecimal, ExtremesRoundTripWithoutExponent) {
    for (double v : {std::numeric_limits<double>::max(), std::numeric_limits<double>::denorm_min(),
                     -std::numeric_limits<double>::min(), 1.7976931348623157e308}) {
        const std::string text = tavrik::format_decimal(v);
        EXPECT_EQ(text.find_first_of("eE"), std::string::npos) << text;
        EXPECT_EQ(std::strtod(text.c_str(), nullptr), v) << text;
    }
    EXPECT_EQ(tavrik::format_decimal(5e-324).size(), 326u);  // "0." + 323 zeros + "5"
}

}  // namespace
