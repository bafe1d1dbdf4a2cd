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
// newton_find_root is Newton's method safeguarded by a bracket (in the spirit
// of Numerical Recipes' rtsafe): the callable returns the value and the slope,
// each Newton step that stays inside the bracket and shrinks it fast enough is
// taken, a secant or bisection step otherwise, and the search ends only when
// the bracket holds two adjacent doubles (or a zero is hit): no absolute
// tolerance, so roots are resolved to the last bit at any scale, and two roots
// closer than any tolerance are told apart by the caller's sign.
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

// ---- safeguarded Newton ------------------------------------------------------

// What the callable of newton_find_root returns at a point. A caller that
// knows a variable in which the function is closer to linear may add the
// Newton point taken in that variable, mapped back (`newton`); it replaces
// x - value/slope for the long steps, while the short ones near the root stay
// plain Newton steps in x.
struct ValueSlope {
    double value = 0.0;
    double slope = 0.0;
    double newton = std::numeric_limits<double>::quiet_NaN();
};

// The final bracket lo < hi: the root lies between them, or is lo = hi itself
// when a value was exactly zero. f_lo and f_hi are the values there.
struct NewtonResult {
    double lo = 0.0, f_lo = 0.0;
    double hi = 0.0, f_hi = 0.0;
    // False when the callable returned NaN (the search stopped there), or when
    // the budget ran out before the bracket closed.
    bool converged = false;
};

namespace detail {

inline constexpr double infinity = std::numeric_limits<double>::infinity();

// The bracket, the latest point with its value and slope, the point before
// with its slope (for the curvature), and the lengths of the last two steps.
struct NewtonState {
    double lo, f_lo, hi, f_hi;
    double x, fx, dfx, newton;
    double x_before, dfx_before;
    double step_before, step_two_before;
};

inline bool inside(const NewtonState& s, double x) { return x > s.lo && x < s.hi; }

// The Newton step from x, or NaN where it is not usable. Once the step is so
// small that its own error (about step^2 f''/(2 f'), with f'' from the last
// two slopes) is below a quarter of a unit in the last place, the root lies
// in the gap of doubles around x + step: the point is rounded away from x
// (the exact sum's rounding error tells the direction), so that it lands on
// the far side of the root and the next such step lands on the other end of
// that gap, closing the bracket. A step that rounds back onto x likewise
// goes to the neighbour of x in its direction.
inline double newton_step(const NewtonState& s) {
    const double step = -s.fx / s.dfx;
    if (!std::isfinite(step)) return std::numeric_limits<double>::quiet_NaN();
    const double toward = step > 0.0 ? infinity : -infinity;
    const double next = s.x + step;
    const double curvature = (s.dfx - s.dfx_before) / (s.x - s.x_before);
    const double error = std::fabs(step * step * curvature / (2.0 * s.dfx));
    const double ulp = std::nextafter(std::fabs(next), infinity) - std::fabs(next);
    if (next == s.x || (std::isfinite(error) && error < 0.25 * ulp)) {
        const double rounding = step - (next - s.x);  // exact sum minus next
        if (next == s.x || (step > 0.0 ? rounding > 0.0 : rounding < 0.0))
            return std::nextafter(next, toward);
        return next;
    }
    return std::isnan(s.newton) ? next : s.newton;
}

// The secant through the ends of the bracket, or its middle where the secant
// does not land strictly inside.
inline double fallback_step(const NewtonState& s) {
    const double secant = s.lo - s.f_lo * ((s.hi - s.lo) / (s.f_hi - s.f_lo));
    if (inside(s, secant)) return secant;
    return s.lo + 0.5 * (s.hi - s.lo);
}

// The next point: Newton's while it stays inside the bracket, else the secant
// through the ends; either is replaced by bisection when it is not shorter than
// half the step before last (Brent's rule: a converging Newton iteration
// shrinks its steps far faster, a stalling one is cut off within two steps).
inline double next_point(const NewtonState& s) {
    double x = newton_step(s);
    if (!inside(s, x)) x = fallback_step(s);
    if (!(std::fabs(x - s.x) < 0.5 * s.step_two_before)) return s.lo + 0.5 * (s.hi - s.lo);
    return x;
}

// The new point x replaces the end of the bracket whose value has its sign.
inline void shrink(NewtonState& s) {
    if ((s.fx > 0.0) == (s.f_lo > 0.0)) {
        s.lo = s.x;
        s.f_lo = s.fx;
    } else {
        s.hi = s.x;
        s.f_hi = s.fx;
    }
}

}  // namespace detail

// Safeguarded Newton on f over the bracket lo < hi, f_lo = f(lo) and
// f_hi = f(hi) of opposite signs, starting from `guess` (its middle where the
// guess lies outside). f returns ValueSlope; a slope that is not finite or
// zero makes that step a secant one. Stops when lo and hi are adjacent
// doubles, when a value is exactly zero (lo = hi there), when f returns NaN,
// or after max_iter evaluations; max_iter then holds the evaluations made.
template <class F>
NewtonResult newton_find_root(F&& f, double lo, double hi, double f_lo, double f_hi, double guess,
                              std::uintmax_t& max_iter) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    detail::NewtonState s{lo,  f_lo, hi,  f_hi, nan, nan, nan,
                         nan, nan,  nan, detail::infinity, detail::infinity};
    double x = detail::inside(s, guess) ? guess : lo + 0.5 * (hi - lo);
    std::uintmax_t iterations = 0;
    bool converged = !(std::nextafter(lo, detail::infinity) < hi);
    while (!converged && iterations < max_iter) {
        const ValueSlope at = f(x);
        ++iterations;
        if (std::isnan(at.value)) break;
        s.x_before = s.x;
        s.dfx_before = s.dfx;
        s.x = x;
        s.fx = at.value;
        s.dfx = at.slope;
        s.newton = at.newton;
        if (at.value == 0.0) {
            s.lo = s.hi = x;
            s.f_lo = s.f_hi = 0.0;
            converged = true;
            break;
        }
        s.step_two_before = s.step_before;
        s.step_before = std::isnan(s.x_before) ? detail::infinity : std::fabs(x - s.x_before);
        detail::shrink(s);
        converged = !(std::nextafter(s.lo, detail::infinity) < s.hi);
        if (!converged) x = detail::next_point(s);
    }
    max_iter = iterations;
    return NewtonResult{s.lo, s.f_lo, s.hi, s.f_hi, converged};
}

}  // namespace tavrik::roots
