// Bracketed root finding on a function of one real variable.
//
// brent_find_root is Brent's method (R. P. Brent, "Algorithms for Minimization
// without Derivatives", 1973, ch. 4, procedure zero): from a bracket [a, b]
// with f(a) and f(b) of opposite signs it takes inverse quadratic or secant
// steps while they stay well inside the bracket and shrink it fast enough,
// and bisection steps otherwise, so it never needs more than about the square
// of the bisection's evaluations and usually far fewer.
//
// The interface follows Boost.Math's tools/roots.hpp: the callable, the
// bracket with the values already known at its ends, the tolerance, and an
// iteration budget passed by reference that comes back holding the number of
// evaluations made. Every step is plain double arithmetic in a fixed order,
// so a given callable gives the same bits on every run and every machine.
//
// The sign convention is the caller's: only "f > 0" is ever tested, so a
// caller that knows the side of a point better than its rounded value (the
// mode count does) may return any value of the right sign.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace tavrik::roots {

// The final state: the best point b (the last evaluated, or the end of the
// bracket with the smaller |f|), f there, and the other end c of the bracket,
// which holds the root between b and c.
struct BrentResult {
    double b = 0.0;
    double fb = 0.0;
    double c = 0.0;
    // False when the callable returned NaN at b: it cannot be evaluated there,
    // and the search stopped at once.
    bool evaluated = true;

    // The estimate: b itself when f(b) is exactly zero, else the middle of the
    // final bracket.
    double middle() const { return fb == 0.0 ? b : b + 0.5 * (c - b); }
};

namespace detail {

// Brent's variables: b the latest point, c the other end of the bracket, a
// the previous point; `step` the last step taken, `prev_step` the one before.
struct BrentState {
    double a, fa, b, fb, c, fc;
    double step, prev_step;
};

// Restores the invariants before a step: the root lies between b and c, and
// b is the end with the smaller |f|.
inline void rebracket(BrentState& s) {
    if ((s.fb > 0.0) == (s.fc > 0.0)) {
        s.c = s.a;
        s.fc = s.fa;
        s.step = s.prev_step = s.b - s.a;
    }
    if (std::fabs(s.fc) < std::fabs(s.fb)) {
        s.a = s.b;
        s.b = s.c;
        s.c = s.a;
        s.fa = s.fb;
        s.fb = s.fc;
        s.fc = s.fa;
    }
}

// Chooses the next step: the secant (two distinct points) or inverse quadratic
// interpolation (three), accepted only while it lands inside the bracket, at
// least `tol` from its ends, and shorter than half the step before last (so
// that slow convergence falls back to bisection); otherwise bisection.
inline void choose_step(BrentState& s, double tol, double half) {
    if (!(std::fabs(s.prev_step) >= tol && std::fabs(s.fa) > std::fabs(s.fb))) {
        s.step = s.prev_step = half;
        return;
    }
    const double r_ba = s.fb / s.fa;
    double p = 0.0, q = 0.0;
    if (s.a == s.c) {
        p = 2.0 * half * r_ba;
        q = 1.0 - r_ba;
    } else {
        const double r_ac = s.fa / s.fc, r_bc = s.fb / s.fc;
        p = r_ba * (2.0 * half * r_ac * (r_ac - r_bc) - (s.b - s.a) * (r_bc - 1.0));
        q = (r_ac - 1.0) * (r_bc - 1.0) * (r_ba - 1.0);
    }
    if (p > 0.0)
        q = -q;
    else
        p = -p;
    const double limit = std::min(3.0 * half * q - std::fabs(tol * q), std::fabs(s.prev_step * q));
    if (2.0 * p < limit) {
        s.prev_step = s.step;
        s.step = p / q;
    } else {
        s.step = s.prev_step = half;
    }
}

}  // namespace detail

// Brent's method on f over the bracket [a, b], fa = f(a) and fb = f(b) of
// opposite signs (a > b is allowed). Stops when the bracket is no wider than
// 2 (2 eps |b| + tolerance/2), when f(b) is exactly zero, when f returns NaN,
// or after max_iter evaluations; max_iter then holds the evaluations made.
template <class F>
BrentResult brent_find_root(F&& f, double a, double b, double fa, double fb, double tolerance,
                            std::uintmax_t& max_iter) {
    constexpr double eps = std::numeric_limits<double>::epsilon();
    detail::BrentState s{a, fa, b, fb, a, fa, b - a, b - a};
    std::uintmax_t iterations = 0;
    for (; iterations < max_iter; ++iterations) {
        detail::rebracket(s);
        const double tol = 2.0 * eps * std::fabs(s.b) + 0.5 * tolerance;
        const double half = 0.5 * (s.c - s.b);
        if (std::fabs(half) <= tol || s.fb == 0.0) break;
        detail::choose_step(s, tol, half);
        s.a = s.b;
        s.fa = s.fb;
        s.b += std::fabs(s.step) > tol ? s.step : std::copysign(tol, half);
        s.fb = f(s.b);
        if (std::isnan(s.fb)) {
            max_iter = iterations + 1;
            return BrentResult{s.b, s.fb, s.c, false};
        }
    }
    max_iter = iterations;
    return BrentResult{s.b, s.fb, s.c, true};
}

}  // namespace tavrik::roots
