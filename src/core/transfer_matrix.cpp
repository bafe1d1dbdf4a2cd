#include "transfer_matrix.hpp"

#include "fault.hpp"

namespace tavrik {

namespace {

using detail::ComplexPair;
using detail::pair;

template <bool TE>
constexpr auto interface_for = detail::interface_rule<TE, detail::interface_te, detail::interface_tm>;

// T held by rows, each row's two entries side by side: M T is then
// row_i = M_i1 row_1 + M_i2 row_2, lane by lane the operations of detail::mul.
struct Rows {
    ComplexPair r1, r2;  // (T11, T12) and (T21, T22)
};

inline Rows rows_of(const Matrix2& t) { return {pair(t.m11, t.m12), pair(t.m21, t.m22)}; }

inline Matrix2 matrix_of(const Rows& t) {
    return {detail::first(t.r1), detail::second(t.r1), detail::first(t.r2), detail::second(t.r2)};
}

inline Rows mul(const Matrix2& m, const Rows& t) {
    return {pair(m.m11, m.m11) * t.r1 + pair(m.m12, m.m12) * t.r2,
            pair(m.m21, m.m21) * t.r1 + pair(m.m22, m.m22) * t.r2};
}

// T = I(0->1), then T <- I(j->j+1) (P_j T) for the inner layers in order.
template <bool TE>
Matrix2 walk_t_matrix(std::span<const Layer> layers, double omega, double beta) {
    Rows t{};
    detail::walk_layers(
        layers, omega, beta,
        [&](const Layer& a, const Layer& b, Complex k_a, Complex k_b) {
            t = rows_of(interface_for<TE>(a, b, k_a, k_b));
        },
        [&](const Layer& here, const Layer& next, Complex k_here, Complex k_next) {
            const Matrix2 p = detail::propagation(k_here, here.d);
            t = mul(interface_for<TE>(here, next, k_here, k_next), mul(p, t));
        });
    return matrix_of(t);
}

// The same walk applied to one amplitude column; with (a0, b0) = (0, 1) every
// operation matches the walk of T's second column, so the last pair is (T12, T22).
template <bool TE>
std::vector<CoefficientPair> walk_coefficients(std::span<const Layer> layers, double omega,
                                               double beta, Complex a0, Complex b0) {
    std::vector<CoefficientPair> out;
    CoefficientPair ab{a0, b0};
    detail::walk_layers(
        layers, omega, beta,
        [&](const Layer& a, const Layer& b, Complex k_a, Complex k_b) {
            out.reserve(layers.size());
            out.push_back(ab);
            ab = detail::mul(interface_for<TE>(a, b, k_a, k_b), ab);
            out.push_back(ab);
        },
        [&](const Layer& here, const Layer& next, Complex k_here, Complex k_next) {
            const Matrix2 p = detail::propagation(k_here, here.d);
            ab = detail::mul(interface_for<TE>(here, next, k_here, k_next), detail::mul(p, ab));
            out.push_back(ab);
        });
    return out;
}

}  // namespace

Matrix2 TransferMatrix::matrix_propagation(double n, double d, double omega, double beta) {
    return detail::propagation(kx(n, omega, beta), d);
}

Matrix2 TransferMatrix::matrix_interface(double n_a, double n_b, double omega, double beta,
                                         Polarization polarization) {
    return detail::interface(n_a, n_b, kx(n_a, omega, beta), kx(n_b, omega, beta), polarization);
}

Matrix2 calculate_t_matrix(std::span<const Layer> layers, double omega, double beta,
                           Polarization polarization) {
    return is_te(polarization) ? walk_t_matrix<true>(layers, omega, beta)
                               : walk_t_matrix<false>(layers, omega, beta);
}

std::vector<CoefficientPair> get_propagation_coefficients_transfer(std::span<const Layer> layers,
                                                                   double omega, double beta,
                                                                   Polarization polarization,
                                                                   Complex a0, Complex b0) {
    return is_te(polarization) ? walk_coefficients<true>(layers, omega, beta, a0, b0)
                               : walk_coefficients<false>(layers, omega, beta, a0, b0);
}

}  // namespace tavrik
