// Transfer-matrix method.
//
// Inside layer j, at distance xi from the layer's reference plane (xi grows
// toward layer N-1), the field is A_j exp(+i kx_j xi) + B_j exp(-i kx_j xi).
// The reference plane of layer 0 is its interface with layer 1; that of every
// other layer is its start (its interface with layer j-1). In an evanescent
// layer (kx = +i kappa) the A wave decays toward layer N-1 and the B wave decays
// toward layer 0. A guided mode has A_0 = 0 and B_(N-1) = 0, that is T22 = 0.
//
// Every real scalar (n, d, beta, omega, 0.5) enters the arithmetic as a complex
// number with a zero imaginary part, through the full complex product, and the
// exact zeros of the propagation matrix take part in the matrix products. The
// results therefore carry the NaN an overflowed evanescent layer produces
// (0 * inf) instead of silently dropping it. Nothing here allocates except the
// coefficient list.
#pragma once

#include <cmath>
#include <cstddef>
#include <span>
#include <vector>

#include "complex.hpp"
#include "fault.hpp"
#include "layer.hpp"

namespace tavrik {

// 2x2 complex matrix (row, column), held by value.
struct Matrix2 {
    Complex m11, m12, m21, m22;
};

// The amplitudes (A, B) of the two partial waves of one layer.
struct CoefficientPair {
    Complex a, b;
};

// Principal square root of (n*omega + 0i)^2 - (beta + 0i)^2: real and positive
// in an oscillating layer, +i*sqrt(beta^2 - n^2 omega^2) in an evanescent one.
// For positive n, omega and beta the radicand's imaginary part is +0, which is
// what puts an evanescent root on the +i side of the cut.
inline Complex kx(double n, double omega, double beta) {
    const Complex k0n = real(n * omega);
    const Complex b = real(beta);
    return sqrt(k0n * k0n - b * b);
}

struct TransferMatrix {
    // Propagation across a layer of index n and thickness d: diag(exp(i k d), exp(-i k d)).
    static Matrix2 matrix_propagation(double n, double d, double omega, double beta);
    // Passage from a layer of index n_a into the next layer of index n_b.
    static Matrix2 matrix_interface(double n_a, double n_b, double omega, double beta,
                                    Polarization polarization);
};

// The stack's transfer matrix: maps (A_0, B_0) at the interface 0|1 to
// (A_(N-1), B_(N-1)) at the interface N-2|N-1. Faults for fewer than two layers.
Matrix2 calculate_t_matrix(std::span<const Layer> layers, double omega, double beta,
                           Polarization polarization);

// The amplitudes of every layer for the amplitudes (a0, b0) of layer 0; entry j
// at layer j's reference plane. Faults for fewer than two layers.
std::vector<CoefficientPair> get_propagation_coefficients_transfer(std::span<const Layer> layers,
                                                                   double omega, double beta,
                                                                   Polarization polarization,
                                                                   Complex a0, Complex b0);

// The building blocks, from wavenumbers already computed. A stack walk computes
// each layer's kx once per beta and hands it to both the interface on either
// side and the propagation across the layer; the value is the same bits the
// public functions above would recompute.
namespace detail {

inline constexpr Complex zero{0.0, 0.0};

// Full 2x2 products; no term is skipped for a zero factor, so 0 * inf stays NaN.
inline Matrix2 mul(const Matrix2& a, const Matrix2& b) {
    return {a.m11 * b.m11 + a.m12 * b.m21, a.m11 * b.m12 + a.m12 * b.m22,
            a.m21 * b.m11 + a.m22 * b.m21, a.m21 * b.m12 + a.m22 * b.m22};
}

inline CoefficientPair mul(const Matrix2& a, CoefficientPair v) {
    return {a.m11 * v.a + a.m12 * v.b, a.m21 * v.a + a.m22 * v.b};
}

// diag(exp((i k)(d + 0i)), exp((-i k)(d + 0i))) with i k = (-k.im, k.re).
// For an evanescent layer the second entry is e^(+kappa d), which overflows to
// +inf beyond kappa d ~ 709.78; the transfer method lets it.
inline Matrix2 propagation(Complex k, double d) {
    const Complex dd = real(d);
    const Complex ik{-k.im, k.re};
    const Complex minus_ik{k.im, -k.re};
    return {exp(ik * dd), zero, zero, exp(minus_ik * dd)};
}

// Two complex numbers side by side in the two lanes of a 128-bit vector (SSE2
// on x86-64; plain scalar code elsewhere). Each lane performs exactly the
// operations of the scalar Complex rules, in the same order, so a pair gives
// the same bits as two scalar evaluations at about half the instructions; the
// stack walks use it where two products or two quotients by one divisor sit
// side by side.
using Lanes = double __attribute__((vector_size(16)));

struct ComplexPair {
    Lanes re, im;
};

inline ComplexPair pair(Complex a, Complex b) { return {Lanes{a.re, b.re}, Lanes{a.im, b.im}}; }
inline Complex first(const ComplexPair& p) { return {p.re[0], p.im[0]}; }
inline Complex second(const ComplexPair& p) { return {p.re[1], p.im[1]}; }

inline ComplexPair operator+(const ComplexPair& a, const ComplexPair& b) {
    return {a.re + b.re, a.im + b.im};
}

inline ComplexPair operator*(const ComplexPair& a, const ComplexPair& b) {
    return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re};
}

// Both lanes over one divisor by the plain quotient rule.
inline ComplexPair operator/(const ComplexPair& a, Complex d) {
    const double m = d.re * d.re + d.im * d.im;
    return {(a.re * d.re + a.im * d.im) / m, (a.im * d.re - a.re * d.im) / m};
}

// I11 = I22 = (sum * 0.5) / divisor and I12 = I21 = (diff * 0.5) / divisor:
// both quotients share the divisor and run side by side.
inline Matrix2 halves_over(Complex sum, Complex diff, Complex divisor) {
    const Complex half = real(0.5);
    const ComplexPair q = (pair(sum, diff) * pair(half, half)) / divisor;
    const Complex same = first(q), cross = second(q);
    return {same, cross, cross, same};
}

// A_b + B_b = A_a + B_a (tangential E) and A_b - B_b = (k_a/k_b)(A_a - B_a)
// (tangential H for TE); entries 1/2 (1 +- k_a/k_b), written over the common
// divisor k_b. k_b = 0 (beta = n_b omega) gives NaN through 0/0.
inline Matrix2 interface_te(Complex k_a, Complex k_b) {
    return halves_over(k_a + k_b, k_b - k_a, k_b);
}

// TM: continuity of H_y and of E_z ~ kx/n^2 H_y gives the ratio
// (n_a^2 k_b)/(n_b^2 k_a) = U/W; the common divisor is W, zero when k_a = 0.
inline Matrix2 interface_tm(double n_a, double n_b, Complex k_a, Complex k_b) {
    const Complex w = (real(n_b) * real(n_b)) * k_a;
    const Complex u = (real(n_a) * real(n_a)) * k_b;
    return halves_over(w + u, w - u, w);
}

inline Matrix2 interface(double n_a, double n_b, Complex k_a, Complex k_b,
                         Polarization polarization) {
    return is_te(polarization) ? interface_te(k_a, k_b) : interface_tm(n_a, n_b, k_a, k_b);
}

// The interface rule of a polarization fixed for a whole walk: chosen at
// compile time, so that the branch stays out of the per-layer loop.
template <bool TE, Matrix2 (*te)(Complex, Complex), Matrix2 (*tm)(double, double, Complex, Complex)>
inline Matrix2 interface_rule(const Layer& a, const Layer& b, Complex k_a, Complex k_b) {
    if constexpr (TE) {
        return te(k_a, k_b);
    } else {
        return tm(a.n, b.n, k_a, k_b);
    }
}

// The walk over the stack at one beta that every matrix method shares: each
// layer's kx is computed once and handed to the interfaces on either side and
// to the propagation across the layer. start(first, second, k_first,
// k_second) sees the interface 0|1; then step(here, next, k_here, k_next)
// sees every inner layer j = 1 .. N-2 in order, with layer j+1 behind it.
// Faults for fewer than two layers.
template <class Start, class Step>
void walk_layers(std::span<const Layer> layers, double omega, double beta, Start&& start,
                 Step&& step) {
    const Layer& first_layer = at(layers, 0);
    const Layer& second_layer = at(layers, 1);
    const Complex k_first = kx(first_layer.n, omega, beta);
    Complex k_here = kx(second_layer.n, omega, beta);
    start(first_layer, second_layer, k_first, k_here);
    const std::size_t count = layers.size();
    for (std::size_t j = 1; j + 1 < count; ++j) {
        const Layer& next = layers[j + 1];
        const Complex k_next = kx(next.n, omega, beta);
        step(layers[j], next, k_here, k_next);
        k_here = k_next;
    }
}

}  // namespace detail

// The transfer characteristic value log10|1/T22|, computed without scaling;
// inline so that the search's sampling loop carries no call for it.
// The reciprocal of T22 by the plain formula: an overflowing |T22|^2 gives
// w = 0 and v = -inf, an underflowing one gives v = +inf, T22 = 0 gives NaN.
inline double transfer_characteristic(const Matrix2& t) {
    const double re = t.m22.re;
    const double im = t.m22.im;
    const double q = re * re + im * im;
    const double w_re = re / q;
    const double w_im = 0.0 - im / q;
    return std::log10(std::hypot(w_re, w_im));
}

}  // namespace tavrik
