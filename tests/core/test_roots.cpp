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

namespace newton {

using tavrik::roots::newton_find_root;
using tavrik::roots::ValueSlope;

constexpr double inf = std::numeric_limits<double>::infinity();

// x^2 - c with its sign exact (one rounding of the exact x*x - c), so the final
// bracket must be the two doubles around sqrt(c), whichever guess starts it.
struct SquareCase {
    double c, lo, hi;
};

class NewtonRoot : public ::testing::TestWithParam<SquareCase> {};

TEST_P(NewtonRoot, EndsOnTheTwoDoublesAroundTheRootFromAnyGuess) {
    const SquareCase& c = GetParam();
    const auto f = [&](double x) { return ValueSlope{std::fma(x, x, -c.c), 2.0 * x}; };
    for (int g = 0; g <= 8; ++g) {
        const double guess = c.lo + (c.hi - c.lo) * g / 8.0;  // the ends included
        std::uintmax_t budget = 200;
        const auto r = newton_find_root(f, c.lo, c.hi, f(c.lo).value, f(c.hi).value, guess, budget);
        ASSERT_TRUE(r.converged) << guess;
        EXPECT_LT(budget, 60u) << guess;
        if (r.lo == r.hi) {
            EXPECT_EQ(std::fma(r.lo, r.lo, -c.c), 0.0);
            continue;
        }
        EXPECT_EQ(std::nextafter(r.lo, inf), r.hi) << guess;
        EXPECT_LT(std::fma(r.lo, r.lo, -c.c), 0.0) << guess;
        EXPECT_GT(std::fma(r.hi, r.hi, -c.c), 0.0) << guess;
        EXPECT_TRUE(r.lo == std::sqrt(c.c) || r.hi == std::sqrt(c.c)) << guess;
    }
}

INSTANTIATE_TEST_SUITE_P(Squares, NewtonRoot,
                         ::testing::Values(SquareCase{2.0, 0.0, 2.0}, SquareCase{3e-200, 1e-101, 1e-99},
                                           SquareCase{7e250, 1e100, 1e126},
                                           SquareCase{1.0 + 0x1p-40, 0.5, 1e3}));

// From a guess close to the root Newton needs a few evaluations, not the
// fifty-odd of bisection.
TEST(NewtonRoot, AGoodGuessTakesAFewEvaluations) {
    const auto f = [](double x) { return ValueSlope{std::fma(x, x, -2.0), 2.0 * x}; };
    std::uintmax_t budget = 200;
    const auto r = newton_find_root(f, 1.0, 2.0, -1.0, 2.0, 1.4142, budget);
    EXPECT_TRUE(r.converged);
    EXPECT_LE(budget, 6u);
}

// Two roots 1e-12 apart: the bracket's signs pick one, and the search ends on
// it and not on its neighbour; a sign-only function (no slope) still closes
// the bracket by bisection; NaN and an exhausted budget are reported.
TEST(NewtonRoot, SeparatesCloseRootsAndReportsFailures) {
    const double r1 = 1.0, r2 = 1.0 + 1e-12;
    const auto pair = [&](double x) {
        return ValueSlope{(x - r1) * (x - r2), (x - r1) + (x - r2)};
    };
    std::uintmax_t budget = 500;
    auto r = newton_find_root(pair, 0.5, 1.0 + 0.5e-12, pair(0.5).value, pair(1.0 + 0.5e-12).value,
                              1.0 + 0.4e-12, budget);
    EXPECT_TRUE(r.converged);
    EXPECT_LE(r.lo, r1);
    EXPECT_GE(r.hi, r1);
    EXPECT_LE(r.hi, std::nextafter(r1, inf));

    const auto sign_only = [](double x) {
        return ValueSlope{x < 0.3 ? 1.0 : -1.0, std::numeric_limits<double>::quiet_NaN()};
    };
    budget = 5000;
    r = newton_find_root(sign_only, 0.0, 1.0, 1.0, -1.0, 0.9, budget);
    EXPECT_TRUE(r.converged);
    EXPECT_EQ(r.hi, 0.3);
    EXPECT_EQ(std::nextafter(r.lo, inf), 0.3);

    budget = 3;
    r = newton_find_root(sign_only, 0.0, 1.0, 1.0, -1.0, 0.9, budget);
    EXPECT_FALSE(r.converged);
    EXPECT_EQ(budget, 3u);

    const auto broken = [](double) { return ValueSlope{std::numeric_limits<double>::quiet_NaN(), 1.0}; };
    budget = 50;
    r = newton_find_root(broken, 0.0, 1.0, 1.0, -1.0, 0.5, budget);
    EXPECT_FALSE(r.converged);
    EXPECT_EQ(budget, 1u);
}

}  // namespace newton
