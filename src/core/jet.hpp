// Second-order jets in two variables: forward-mode automatic differentiation
// for the dispersion relation of a guided mode.
//
// A Jet holds a function's value and its first and second partial derivatives
// with respect to two variables x and y at one point. The arithmetic below is the
// chain rule written out once; every other derivative in the core is built from
// it, so derivatives come out exact up to the rounding of each operation,
// never from a difference quotient.
#pragma once

#include <cmath>

#include "complex.hpp"

namespace tavrik {

struct Jet {
    double v = 0.0;                       // value
    double x = 0.0, y = 0.0;              // d/dx, d/dy
    double xx = 0.0, xy = 0.0, yy = 0.0;  // second derivatives
};

constexpr Jet constant_jet(double value) { return Jet{value, 0.0, 0.0, 0.0, 0.0, 0.0}; }

constexpr Jet operator+(const Jet& a, const Jet& b) {
    return {a.v + b.v, a.x + b.x, a.y + b.y, a.xx + b.xx, a.xy + b.xy, a.yy + b.yy};
}

constexpr Jet operator-(const Jet& a, const Jet& b) {
    return {a.v - b.v, a.x - b.x, a.y - b.y, a.xx - b.xx, a.xy - b.xy, a.yy - b.yy};
}

constexpr Jet operator-(const Jet& a) { return {-a.v, -a.x, -a.y, -a.xx, -a.xy, -a.yy}; }

constexpr Jet operator*(double s, const Jet& a) {
    return {s * a.v, s * a.x, s * a.y, s * a.xx, s * a.xy, s * a.yy};
}

constexpr Jet operator*(const Jet& a, const Jet& b) {
    return {a.v * b.v,
            a.x * b.v + a.v * b.x,
            a.y * b.v + a.v * b.y,
            a.xx * b.v + 2.0 * (a.x * b.x) + a.v * b.xx,
            a.xy * b.v + a.x * b.y + a.y * b.x + a.v * b.xy,
            a.yy * b.v + 2.0 * (a.y * b.y) + a.v * b.yy};
}

// f(a) for a scalar function with f(a.v) = f0, f'(a.v) = f1, f''(a.v) = f2.
constexpr Jet compose(const Jet& a, double f0, double f1, double f2) {
    return {f0,
            f1 * a.x,
            f1 * a.y,
            f1 * a.xx + f2 * (a.x * a.x),
            f1 * a.xy + f2 * (a.x * a.y),
            f1 * a.yy + f2 * (a.y * a.y)};
}

inline Jet reciprocal(const Jet& a) {
    const double r = 1.0 / a.v;
    return compose(a, r, -(r * r), 2.0 * (r * r * r));
}

inline Jet operator/(const Jet& a, const Jet& b) { return a * reciprocal(b); }

// The positive root; a.v must be positive.
inline Jet sqrt(const Jet& a) {
    const double r = std::sqrt(a.v);
    const double f1 = 0.5 / r;
    return compose(a, r, f1, -0.5 * f1 / a.v);
}

inline Jet exp(const Jet& a) {
    const double e = std::exp(a.v);
    return compose(a, e, e, e);
}

struct JetSinCos {
    Jet sin, cos;
};

inline JetSinCos sincos(const Jet& a) {
    double s = 0.0, c = 1.0;
    detail::sincos(a.v, &s, &c);
    return {compose(a, s, c, -s), compose(a, c, -s, -c)};
}

// Multiplication by 2^e: exact (barring underflow), so scaling a jet this way
// changes no ratio of its components.
inline Jet ldexp(const Jet& a, int e) {
    return {std::ldexp(a.v, e), std::ldexp(a.x, e), std::ldexp(a.y, e),
            std::ldexp(a.xx, e), std::ldexp(a.xy, e), std::ldexp(a.yy, e)};
}

}  // namespace tavrik
