// Complex numbers for the wave quantities of the stack.
//
// Deliberately not std::complex: the module's arithmetic is defined operation
// by operation so that results are bit-identical on every machine.
//  * product:   (a.re*b.re - a.im*b.im, a.re*b.im + a.im*b.re), no NaN recovery;
//  * quotient:  ((a.re*b.re + a.im*b.im)/m, (a.im*b.re - a.re*b.im)/m) with
//               m = b.re^2 + b.im^2 and no scaling, so a zero divisor gives NaN
//               (0/0) and a divisor whose m overflows gives zero;
//  * sqrt:      the principal root with explicit signed-zero cases;
//  * exp:       e^x (cos y, sin y) with the usual infinity and NaN cases.
// Real scalars (beta, omega, n, Z0) always enter as Complex{value, 0.0}, through
// the full complex product, never as a shortcut scaling.
#pragma once

#include <cmath>

namespace tavrik {

struct Complex {
    double re = 0.0;
    double im = 0.0;
};

constexpr Complex real(double x) { return Complex{x, 0.0}; }

constexpr Complex operator+(Complex a, Complex b) { return {a.re + b.re, a.im + b.im}; }
constexpr Complex operator-(Complex a, Complex b) { return {a.re - b.re, a.im - b.im}; }
constexpr Complex operator-(Complex a) { return {-a.re, -a.im}; }

constexpr Complex operator*(Complex a, Complex b) {
    return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re};
}

constexpr Complex operator/(Complex a, Complex b) {
    const double m = b.re * b.re + b.im * b.im;
    return {(a.re * b.re + a.im * b.im) / m, (a.im * b.re - a.re * b.im) / m};
}

constexpr Complex conj(Complex z) { return {z.re, -z.im}; }

inline double abs(Complex z) { return std::hypot(z.re, z.im); }

namespace detail {
inline void sincos(double x, double* s, double* c) {
#if defined(__GLIBC__)
    ::sincos(x, s, c);
#else
    *s = std::sin(x);
    *c = std::cos(x);
#endif
}
}  // namespace detail

// Principal square root. The branch cut lies on the negative real axis and the
// sign of a zero imaginary part picks the side: sqrt(-4 + 0i) = +2i but
// sqrt(-4 - 0i) = -2i. This is what makes an evanescent layer's kx = +i*kappa.
inline Complex sqrt(Complex z) {
    if (z.im == 0.0) {
        if (!std::signbit(z.re)) return {std::sqrt(z.re), z.im};
        const double r = std::sqrt(-z.re);
        return {0.0, std::signbit(z.im) ? -r : r};
    }
    if (z.re == 0.0) {
        const double x = std::sqrt(std::fabs(z.im) * 0.5);
        return {x, std::signbit(z.im) ? -x : x};
    }
    const double r = std::hypot(z.re, z.im);
    const double theta = std::atan2(z.im, z.re);
    double s = 0.0, c = 0.0;
    detail::sincos(theta * 0.5, &s, &c);
    const double root = std::sqrt(r);
    return {root * c, root * s};
}

// exp(x + iy) = e^x (cos y, sin y). The corner cases keep a decayed wave at
// exactly zero and an overflowed one at +inf instead of inventing NaN where the
// phase does not matter.
inline Complex exp(Complex z) {
    const double x = z.re;
    double y = z.im;
    if (std::isinf(x)) {
        if (x < 0.0) {
            if (!std::isfinite(y)) return {0.0, 0.0};
        } else if (y == 0.0 || !std::isfinite(y)) {
            if (std::isinf(y)) y = NAN;
            return {x, y};
        }
    } else if (std::isnan(x) && y == 0.0) {
        return z;
    }
    // e^(+-0) = 1, sin(+-0) = +-0 and cos(+-0) = 1 exactly (IEEE 754, C Annex
    // F), so a zero part skips its library call but not the products: the same
    // bits, at half the cost for the purely real or imaginary exponents of the
    // propagation matrices.
    const double r = x == 0.0 ? 1.0 : std::exp(x);
    double s = y, c = 1.0;
    if (y != 0.0) detail::sincos(y, &s, &c);
    return {r * c, r * s};
}

}  // namespace tavrik
