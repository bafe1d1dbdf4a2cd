// Brent's method on functions with closed-form roots, and the budget it reports.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>

#include "roots.hpp"

namespace {

using tavrik::roots::brent_find_root;

struct RootCase {
    std::string name;
    std::function<double(double)> f;
    double a, b, root;
};

class BrentRoot : public ::testing::TestWithParam<RootCase> {};

TEST_P(BrentRoot, BracketsTheRootWithinTheToleranceAndCountsItsEvaluations) {
    const RootCase& c = GetParam();
    std::uintmax_t calls = 0;
    const auto counted = [&](double x) {
        ++calls;
        return c.f(x);
    };
    std::uintmax_t budget = 200;
    const auto r = brent_find_root(counted, c.a, c.b, c.f(c.a), c.f(c.b), 1e-12, budget);
    EXPECT_TRUE(r.evaluated);
    EXPECT_EQ(budget, calls);
    EXPECT_LT(calls, 200u);
    // The root lies between b and c, and the bracket has shrunk to the tolerance.
    EXPECT_LE(std::fmin(r.b, r.c), c.root);
    EXPECT_GE(std::fmax(r.b, r.c), c.root);
    EXPECT_NEAR(r.middle(), c.root, 1e-12);
}

INSTANTIATE_TEST_SUITE_P(
    ClosedForms, BrentRoot,
    ::testing::Values(
        // The Dottie number, the fixed point of cos.
        RootCase{"dottie", [](double x) { return std::cos(x) - x; }, 0.0, 1.0, 0.7390851332151607},
        RootCase{"cube_root_of_two", [](double x) { return x * x * x - 2.0; }, 2.0, 0.0,
                 1.2599210498948732},
        // Only the sign is informative: every step must fall back to bisection.
        RootCase{"sign_only", [](double x) { return x < 0.3 ? 1.0 : -1.0; }, 0.0, 1.0, 0.3}),
    [](const auto& p) { return p.param.name; });

TEST(BrentRoot, StopsAtTheBudgetAndAtTheFirstNaN) {
    const auto line = [](double x) { return 0.5 - x; };
    std::uintmax_t budget = 1;
    const auto one = brent_find_root([](double x) { return x < 0.3 ? 1.0 : -1.0; }, 0.0, 1.0, 1.0,
                                     -1.0, 1e-12, budget);
    EXPECT_EQ(budget, 1u);
    EXPECT_GT(std::fabs(one.c - one.b), 0.1);  // one bisection of [0, 1]

    budget = 50;
    const auto nan = brent_find_root([](double) { return std::numeric_limits<double>::quiet_NaN(); },
                                     0.0, 1.0, line(0.0), line(1.0), 1e-12, budget);
    EXPECT_FALSE(nan.evaluated);
    EXPECT_EQ(budget, 1u);
}

}  // namespace
