// Scattering-matrix method: the stack's scattering matrix maps the incoming
// amplitudes to the outgoing ones, (B_0, A_L) = S (B_L, A_0), and holds only
// decaying exponentials, so thick evanescent layers stay finite.
//
// S11 and S22 are the transmissions (B_L -> B_0, A_0 -> A_L), S12 and S21 the
// reflections (A_0 -> B_0, B_L -> A_L). B_0 and A_0 sit at layer 0's reference
// plane; A_L and B_L at the start of layer L after an interface step, at its end
// after a propagation step. Same kx, partial waves and complex arithmetic as the
// transfer-matrix method.
#pragma once

#include <cmath>
#include <span>

#include "complex.hpp"
#include "layer.hpp"
#include "transfer_matrix.hpp"

namespace tavrik {

struct ScatteringMatrix {
    // Scattering matrix of the interface from index n_a into index n_b.
    static Matrix2 matrix_interface(double n_a, double n_b, double omega, double beta,
                                    Polarization polarization);
};

// Redheffer star product of the front part a and the part behind it b.
Matrix2 star_product(const Matrix2& a, const Matrix2& b);

// The stack's scattering matrix. Faults for fewer than two layers.
Matrix2 calculate_s_matrix(std::span<const Layer> layers, double omega, double beta,
                           Polarization polarization);

namespace detail {

// With s = a + b: [[2b, a - b], [b - a, 2a]] / s, where a/b is the TE ratio
// k_a/k_b, or for TM (n_b^2 k_a)/(n_a^2 k_b), the ratio of kx/n^2 on the two
// sides. Its determinant is 1 whenever s != 0; s = 0 gives NaN through 0/0.
// The four quotients by s run two at a time in the lanes of ComplexPair.
inline Matrix2 scattering_interface_ab(Complex a, Complex b) {
    const Complex two = real(2.0);
    const Complex s = a + b;
    const ComplexPair twice = pair(two, two) * pair(b, a);  // (2b, 2a)
    const ComplexPair left = pair(first(twice), a - b) / s;
    const ComplexPair right = pair(b - a, second(twice)) / s;
    return {first(left), second(left), first(right), second(right)};
}

inline Matrix2 scattering_interface_te(Complex k_a, Complex k_b) {
    return scattering_interface_ab(k_a, k_b);
}

inline Matrix2 scattering_interface_tm(double n_a, double n_b, Complex k_a, Complex k_b) {
    return scattering_interface_ab((real(n_b) * real(n_b)) * k_a, (real(n_a) * real(n_a)) * k_b);
}

// C = A * B: the multiple reflections between the two parts sum to 1/D with
// D = 1 - A21 B12. Every entry of B takes part, zeros included; D = 0 passes on
// infinities or NaN unchecked. Entry by entry:
//   C11 = (A11 B11)/D,            C12 = A12 + ((A11 B12) A22)/D,
//   C21 = B21 + ((B22 A21) B11)/D, C22 = (A22 B22)/D,
// with the independent products and the quotients by D two at a time.
inline Matrix2 star(const Matrix2& a, const Matrix2& b) {
    const Complex d = real(1.0) - a.m21 * b.m12;
    const ComplexPair through = pair(a.m11, a.m22) * pair(b.m11, b.m22);
    const ComplexPair bounce = (pair(a.m11, b.m22) * pair(b.m12, a.m21)) * pair(a.m22, b.m11);
    const ComplexPair outer = through / d;
    const ComplexPair inner = pair(a.m12, b.m21) + bounce / d;
    return {first(outer), first(inner), second(inner), second(outer)};
}

}  // namespace detail

// The scattering characteristic value log10|det S|, det S = S11 S22 - S12 S21
// (equal to T11/T22); inline for the search's sampling loop.
inline double scattering_characteristic(const Matrix2& s) {
    const Complex det = s.m11 * s.m22 - s.m12 * s.m21;
    return std::log10(std::hypot(det.re, det.im));
}

}  // namespace tavrik
