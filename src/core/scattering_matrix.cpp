#include "scattering_matrix.hpp"

#include "fault.hpp"

namespace tavrik {

namespace {

using detail::ComplexPair;
using detail::first;
using detail::pair;
using detail::second;

// The walk's versions of detail::scattering_interface_ab and detail::star: the
// quotients by one divisor and independent products run two at a time, lane by
// lane the same operations, so the same bits at half the divider work.
inline Matrix2 interface_lanes(Complex a, Complex b) {
    const Complex two = real(2.0);
    const Complex s = a + b;
    const ComplexPair twice = pair(two, two) * pair(b, a);  // (2b, 2a)
    const ComplexPair left = pair(first(twice), a - b) / s;
    const ComplexPair right = pair(b - a, second(twice)) / s;
    return {first(left), second(left), first(right), second(right)};
}

template <bool TE>
Matrix2 interface_for(const Layer& a, const Layer& b, Complex k_a, Complex k_b) {
    if constexpr (TE) {
        return interface_lanes(k_a, k_b);
    } else {
        return interface_lanes((real(b.n) * real(b.n)) * k_a, (real(a.n) * real(a.n)) * k_b);
    }
}

inline Matrix2 star_lanes(const Matrix2& a, const Matrix2& b) {
    const Complex d = real(1.0) - a.m21 * b.m12;
    const ComplexPair through = pair(a.m11, a.m22) * pair(b.m11, b.m22);
    const ComplexPair bounce = (pair(a.m11, b.m22) * pair(b.m12, a.m21)) * pair(a.m22, b.m11);
    const ComplexPair outer = through / d;
    const ComplexPair inner = pair(a.m12, b.m21) + bounce / d;
    return {first(outer), first(inner), second(inner), second(outer)};
}

// S = S(0->1); then per inner layer j: S <- S * Phi_j (moves layer j's planes
// from its start to its end) and S <- S * S(j->j+1). Phi_j = diag(phi, phi)
// with phi = exp((d + 0i)(i kx)), of modulus at most 1 in an evanescent layer:
// no growing exponential ever enters.
template <bool TE>
Matrix2 walk_s_matrix(std::span<const Layer> layers, double omega, double beta) {
    const Layer& first = at(layers, 0);
    const Layer& second = at(layers, 1);
    const Complex k_first = kx(first.n, omega, beta);
    Complex k_here = kx(second.n, omega, beta);
    Matrix2 s = interface_for<TE>(first, second, k_first, k_here);
    const std::size_t count = layers.size();
    for (std::size_t j = 1; j + 1 < count; ++j) {
        const Layer& here = layers[j];
        const Layer& next = layers[j + 1];
        const Complex k_next = kx(next.n, omega, beta);
        const Complex phi = exp(real(here.d) * Complex{-k_here.im, k_here.re});
        s = star_lanes(s, Matrix2{phi, detail::zero, detail::zero, phi});
        s = star_lanes(s, interface_for<TE>(here, next, k_here, k_next));
        k_here = k_next;
    }
    return s;
}

}  // namespace

Matrix2 ScatteringMatrix::matrix_interface(double n_a, double n_b, double omega, double beta,
                                           Polarization polarization) {
    const Complex k_a = kx(n_a, omega, beta);
    const Complex k_b = kx(n_b, omega, beta);
    return is_te(polarization) ? detail::scattering_interface_te(k_a, k_b)
                               : detail::scattering_interface_tm(n_a, n_b, k_a, k_b);
}

Matrix2 star_product(const Matrix2& a, const Matrix2& b) { return detail::star(a, b); }

Matrix2 calculate_s_matrix(std::span<const Layer> layers, double omega, double beta,
                           Polarization polarization) {
    return is_te(polarization) ? walk_s_matrix<true>(layers, omega, beta)
                               : walk_s_matrix<false>(layers, omega, beta);
}

}  // namespace tavrik
