// Second-order jets in two variables: forward-mode automatic differentiation
// for the dispersion relation F(beta, k0).
//
// A Jet holds a function's value and its first and second partial derivatives
// with respect to beta (b) and k0 (k) at one point. The arithmetic below is the
// chain rule written out once; every other derivative in the core is built from
// it, so derivatives come out exact up to the rounding of each operation,
// never from a difference quotient.
#pragma once

#include <cmath>

#include "complex.hpp"

namespace tavrik {

struct Jet {
    double v = 0.0;                  // value
    double b = 0.0, k = 0.0;         // d/dbeta, d/dk0
    double bb = 0.0, bk = 0.0, kk = 0.0;  // second derivatives
};

constexpr Jet constant_jet(double value) { return Jet{value, 0.0, 0.0, 0.0, 0.0, 0.0}; }

constexpr Jet operator+(const Jet& x, const Jet& y) {
    return {x.v + y.v, x.b + y.b, x.k + y.k, x.bb + y.bb, x.bk + y.bk, x.kk + y.kk};
}

constexpr Jet operator-(const Jet& x, const Jet& y) {
    return {x.v - y.v, x.b - y.b, x.k - y.k, x.bb - y.bb, x.bk - y.bk, x.kk - y.kk};
}

constexpr Jet operator-(const Jet& x) { return {-x.v, -x.b, -x.k, -x.bb, -x.bk, -x.kk}; }

constexpr Jet operator*(double s, const Jet& x) {
    return {s * x.v, s * x.b, s * x.k, s * x.bb, s * x.bk, s * x.kk};
}

constexpr Jet operator*(const Jet& x, const Jet& y) {
    return {x.v * y.v,
            x.b * y.v + x.v * y.b,
            x.k * y.v + x.v * y.k,
            x.bb * y.v + 2.0 * (x.b * y.b) + x.v * y.bb,
            x.bk * y.v + x.b * y.k + x.k * y.b + x.v * y.bk,
            x.kk * y.v + 2.0 * (x.k * y.k) + x.v * y.kk};
}

// f(x) for a scalar function with f(x.v) = f0, f'(x.v) = f1, f''(x.v) = f2.
constexpr Jet compose(const Jet& x, double f0, double f1, double f2) {
    return {f0,
            f1 * x.b,
            f1 * x.k,
            f1 * x.bb + f2 * (x.b * x.b),
            f1 * x.bk + f2 * (x.b * x.k),
            f1 * x.kk + f2 * (x.k * x.k)};
}

inline Jet reciprocal(const Jet& x) {
    const double r = 1.0 / x.v;
    return compose(x, r, -(r * r), 2.0 * (r * r * r));
}

inline Jet operator/(const Jet& x, const Jet& y) { return x * reciprocal(y); }

// The positive root; x.v must be positive.
inline Jet sqrt(const Jet& x) {
    const double r = std::sqrt(x.v);
    const double f1 = 0.5 / r;
    return compose(x, r, f1, -0.5 * f1 / x.v);
}

inline Jet exp(const Jet& x) {
    const double e = std::exp(x.v);
    return compose(x, e, e, e);
}

struct JetSinCos {
    Jet sin, cos;
};

inline JetSinCos sincos(const Jet& x) {
    double s = 0.0, c = 1.0;
    detail::sincos(x.v, &s, &c);
    return {compose(x, s, c, -s), compose(x, c, -s, -c)};
}

// Multiplication by 2^e: exact (barring underflow), so scaling a jet this way
// changes no ratio of its components.
inline Jet ldexp(const Jet& x, int e) {
    return {std::ldexp(x.v, e), std::ldexp(x.b, e), std::ldexp(x.k, e),
            std::ldexp(x.bb, e), std::ldexp(x.bk, e), std::ldexp(x.kk, e)};
}

}  // namespace tavrik
