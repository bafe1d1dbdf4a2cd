#include "scattering_matrix.hpp"

#include "fault.hpp"

namespace tavrik {

namespace {

template <bool TE>
constexpr auto interface_for =
    detail::interface_rule<TE, detail::scattering_interface_te, detail::scattering_interface_tm>;

// S = S(0->1); then per inner layer j: S <- S * Phi_j (moves layer j's planes
// from its start to its end) and S <- S * S(j->j+1). Phi_j = diag(phi, phi)
// with phi = exp((d + 0i)(i kx)), of modulus at most 1 in an evanescent layer:
// no growing exponential ever enters.
template <bool TE>
Matrix2 walk_s_matrix(std::span<const Layer> layers, double omega, double beta) {
    Matrix2 s{};
    detail::walk_layers(
        layers, omega, beta,
        [&](const Layer& a, const Layer& b, Complex k_a, Complex k_b) {
            s = interface_for<TE>(a, b, k_a, k_b);
        },
        [&](const Layer& here, const Layer& next, Complex k_here, Complex k_next) {
            const Complex phi = exp(real(here.d) * Complex{-k_here.im, k_here.re});
            s = detail::star(s, Matrix2{phi, detail::zero, detail::zero, phi});
            s = detail::star(s, interface_for<TE>(here, next, k_here, k_next));
        });
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
