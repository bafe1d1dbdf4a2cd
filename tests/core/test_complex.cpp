// The complex rules at their special cases. The search relies on them at
// cut-off (kx = 0), in thick evanescent layers (exp overflow) and at guided
// modes (division by a vanishing T22), so each case is checked bit for bit:
// the sign of every zero, which infinities survive and where NaN appears.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>

#include "complex.hpp"

namespace {

using tavrik::Complex;

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// Same value and, for zeros, the same sign; any NaN matches any NaN.
bool same(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    return a == b && std::signbit(a) == std::signbit(b);
}

enum class Op { Product, Quotient, Sqrt, Exp };

struct Case {
    Op op;
    Complex x, y;  // y is ignored by the one-argument rules
    Complex expected;
    const char* what;
};

std::ostream& operator<<(std::ostream& os, const Case& c) { return os << c.what; }

Complex apply(const Case& c) {
    switch (c.op) {
        case Op::Product: return c.x * c.y;
        case Op::Quotient: return c.x / c.y;
        case Op::Sqrt: return tavrik::sqrt(c.x);
        case Op::Exp: return tavrik::exp(c.x);
    }
    return {};
}

class ComplexRule : public ::testing::TestWithParam<Case> {};

TEST_P(ComplexRule, GivesExactlyTheStatedParts) {
    const Case& c = GetParam();
    const Complex got = apply(c);
    EXPECT_TRUE(same(got.re, c.expected.re) && same(got.im, c.expected.im))
        << c.what << ": got (" << got.re << ", " << got.im << ")";
}

constexpr Complex none{};

INSTANTIATE_TEST_SUITE_P(
    Table, ComplexRule,
    ::testing::Values(
        Case{Op::Product, {1, 2}, {3, 4}, {-5, 10}, "plain product"},
        // No recovery of infinities: inf * i has the 0*inf term NaN in it.
        Case{Op::Product, {inf, 0}, {0, 1}, {nan, inf}, "inf times i keeps the NaN"},
        Case{Op::Product, {-0.0, 0}, {0, 0}, {-0.0, 0}, "product of signed zeros"},
        Case{Op::Quotient, {1, 2}, {3, 4}, {0.44, 0.08}, "plain quotient"},
        Case{Op::Quotient, {1, 0}, {0, 0}, {nan, nan}, "zero divisor gives 0/0"},
        // m = 2e400 overflows: no scaling, so the quotient collapses to zero.
        Case{Op::Quotient, {1, 1}, {1e200, 1e200}, {0, 0}, "overflowing divisor gives zero"},
        Case{Op::Sqrt, {4, 0}, none, {2, 0}, "positive real"},
        Case{Op::Sqrt, {4, -0.0}, none, {2, -0.0}, "positive real keeps -0"},
        Case{Op::Sqrt, {-4, 0}, none, {0, 2}, "negative real above the cut"},
        Case{Op::Sqrt, {-4, -0.0}, none, {0, -2}, "negative real below the cut"},
        Case{Op::Sqrt, {-0.0, 0}, none, {0, 0}, "-0 + 0i"},
        Case{Op::Sqrt, {-0.0, -0.0}, none, {0, -0.0}, "-0 - 0i"},
        Case{Op::Sqrt, {-inf, 0}, none, {0, inf}, "-inf + 0i"},
        Case{Op::Sqrt, {nan, 0}, none, {nan, 0}, "NaN real part"},
        Case{Op::Sqrt, {0, 2}, none, {1, 1}, "positive imaginary axis"},
        Case{Op::Sqrt, {-0.0, -8}, none, {2, -2}, "negative imaginary axis"},
        Case{Op::Exp, {0, 0}, none, {1, 0}, "exp(0)"},
        Case{Op::Exp, {-inf, inf}, none, {0, 0}, "-inf with infinite phase"},
        Case{Op::Exp, {-inf, nan}, none, {0, 0}, "-inf with NaN phase"},
        Case{Op::Exp, {-inf, -1}, none, {0, -0.0}, "-inf with finite phase"},
        Case{Op::Exp, {inf, 0}, none, {inf, 0}, "+inf with zero phase"},
        Case{Op::Exp, {inf, -0.0}, none, {inf, -0.0}, "+inf keeps -0"},
        Case{Op::Exp, {inf, -inf}, none, {inf, nan}, "+inf with infinite phase"},
        Case{Op::Exp, {inf, nan}, none, {inf, nan}, "+inf with NaN phase"},
        Case{Op::Exp, {inf, -2}, none, {-inf, -inf}, "+inf with finite phase"},
        Case{Op::Exp, {nan, 0}, none, {nan, 0}, "NaN with zero phase"},
        Case{Op::Exp, {nan, 1}, none, {nan, nan}, "NaN with a phase"},
        // A finite exponent that overflows is not the +inf case: inf * sin(0)
        // is NaN, which is how an overflowed evanescent layer poisons T.
        Case{Op::Exp, {710, 0}, none, {inf, nan}, "overflowing e^x"},
        Case{Op::Exp, {-746, 0}, none, {0, 0}, "underflowing e^x"}));

TEST(ComplexSqrt, GeneralCaseIsThePrincipalRoot) {
    struct Root {
        Complex z, root;
    };
    for (const Root& r : {Root{{3, 4}, {2, 1}}, Root{{-3, 4}, {1, 2}}, Root{{-3, -4}, {1, -2}},
                          Root{{5, -12}, {3, -2}}}) {
        const Complex got = tavrik::sqrt(r.z);
        EXPECT_NEAR(got.re, r.root.re, 1e-15) << r.z.re << " " << r.z.im;
        EXPECT_NEAR(got.im, r.root.im, 1e-15) << r.z.re << " " << r.z.im;
    }
}

TEST(ComplexAbs, IsHypot) {
    EXPECT_EQ(tavrik::abs({3, -4}), 5.0);
    EXPECT_EQ(tavrik::abs({1e300, 1e300}), std::hypot(1e300, 1e300));  // no overflow
    EXPECT_EQ(tavrik::abs({nan, -inf}), inf);
}

}  // namespace
