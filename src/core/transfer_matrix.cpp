#include "transfer_matrix.hpp"

#include "fault.hpp"

namespace tavrik {

namespace {

// The polarization is fixed for a whole walk; choosing the interface formula
// once keeps the branch out of the per-layer loop.
template <bool TE>
Matrix2 interface_for(const Layer& a, const Layer& b, Complex k_a, Complex k_b) {
    if constexpr (TE) {
        return detail::interface_te(k_a, k_b);
    } else {
        return detail::interface_tm(a.n, b.n, k_a, k_b);
    }
}

// T = I(0->1), then T <- I(j->j+1) (P_j T) for the inner layers in order.
template <bool TE>
Matrix2 walk_t_matrix(std::span<const Layer> layers, double omega, double beta) {
    const Layer& first = at(layers, 0);
    const Layer& second = at(layers, 1);
    Complex k_prev = kx(first.n, omega, beta);
    Complex k_here = kx(second.n, omega, beta);
    Matrix2 t = interface_for<TE>(first, second, k_prev, k_here);
    const std::size_t count = layers.size();
    for (std::size_t j = 1; j + 1 < count; ++j) {
        const Layer& here = layers[j];
        const Layer& next = layers[j + 1];
        const Complex k_next = kx(next.n, omega, beta);
        const Matrix2 p = detail::propagation(k_here, here.d);
        t = detail::mul(interface_for<TE>(here, next, k_here, k_next), detail::mul(p, t));
        k_here = k_next;
    }
    return t;
}

// The same walk applied to one amplitude column; with (a0, b0) = (0, 1) every
// operation matches the walk of T's second column, so the last pair is (T12, T22).
template <bool TE>
std::vector<CoefficientPair> walk_coefficients(std::span<const Layer> layers, double omega,
                                               double beta, Complex a0, Complex b0) {
    const Layer& first = at(layers, 0);
    const Layer& second = at(layers, 1);
    std::vector<CoefficientPair> out;
    out.reserve(layers.size());
    out.push_back({a0, b0});
    const Complex k_first = kx(first.n, omega, beta);
    Complex k_here = kx(second.n, omega, beta);
    CoefficientPair ab = detail::mul(interface_for<TE>(first, second, k_first, k_here),
                                     CoefficientPair{a0, b0});
    out.push_back(ab);
    const std::size_t count = layers.size();
    for (std::size_t j = 1; j + 1 < count; ++j) {
        const Layer& here = layers[j];
        const Layer& next = layers[j + 1];
        const Complex k_next = kx(next.n, omega, beta);
        const Matrix2 p = detail::propagation(k_here, here.d);
        ab = detail::mul(interface_for<TE>(here, next, k_here, k_next), detail::mul(p, ab));
        out.push_back(ab);
        k_here = k_next;
    }
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
