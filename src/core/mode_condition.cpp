#include "mode_condition.hpp"

#include <cmath>

namespace tavrik {

namespace {

Complex polarization_weight(Complex eps, Polarization pol) {
    return is_te(pol) ? Complex{1.0, 0.0} : Complex{1.0, 0.0} / eps;
}

}  // namespace

Complex outer_gamma(Complex eps, Complex neff, Branch branch) {
    const Complex neff2 = neff * neff;
    if (branch == Branch::Bound) return sqrt(neff2 - eps);
    const Complex kx = sqrt(eps - neff2);
    return Complex{kx.im, -kx.re};  // -i kx
}

// cos(t) and sin(t)/q for t = q x, both multiplied by exp(1 - sqrt(1 + Im(t)^2)):
// cos(a + ib) = cos a cosh b - i sin a sinh b, sin(a + ib) = sin a cosh b +
// i cos a sinh b, with cosh and sinh formed from exponents that never exceed 1.
FilmTransfer film_transfer(Complex eps, Complex p, Complex neff, double x) {
    const Complex q2 = eps - neff * neff;
    const Complex q = sqrt(q2);
    const Complex t = q * Complex{x, 0.0};
    const double a = t.re, b = t.im;
    const double r = std::sqrt(1.0 + b * b);
    const double up = std::exp(b + 1.0 - r), down = std::exp(-b + 1.0 - r);
    const double ch = 0.5 * (up + down);
    // sinh b with its digits for small b: sinh b = (e^b - e^-b)/2, written
    // through expm1 so that a lossless film (b = 0) gives exactly zero.
    const double sh = std::fabs(b) > 1.0
                          ? 0.5 * (up - down)
                          : 0.5 * std::exp(1.0 - r) * (std::expm1(b) - std::expm1(-b));
    double s = 0.0, c = 1.0;
    detail::sincos(a, &s, &c);
    const Complex cos_t{c * ch, -s * sh};
    const Complex sin_t{s * ch, c * sh};
    Complex sinc;  // sin(t)/q
    if (abs(t) < 1e-3) {
        // The series keeps sin(t)/q finite and exact as q -> 0 (a film at its
        // own light line); t^8/9! is below 1e-29 here.
        const Complex t2 = t * t;
        const Complex series = Complex{1.0, 0.0} -
                               t2 / Complex{6.0, 0.0} * (Complex{1.0, 0.0} - t2 / Complex{20.0, 0.0} *
                                                         (Complex{1.0, 0.0} - t2 / Complex{42.0, 0.0}));
        sinc = series * Complex{x * std::exp(1.0 - r), 0.0};
    } else {
        sinc = sin_t / q;
    }
    FilmTransfer m;
    m.m11 = cos_t;
    m.m12 = sinc / p;
    m.m21 = -(p * q2 * sinc);
    m.m22 = cos_t;
    m.log_scale = r - 1.0;
    return m;
}

namespace {

// The film whose interior the two walks meet in: the most opaque one, so that
// neither walk carries a wave it must later cancel across it.
std::size_t meeting_film(std::span<const ComplexLayer> layers) {
    std::size_t best = 0;
    double opacity = -1.0;
    for (std::size_t j = 1; j + 1 < layers.size(); ++j) {
        const Complex eps = layers[j].n * layers[j].n;
        const double o = layers[j].d * (std::fabs(layers[j].n.im) + std::sqrt(std::max(0.0, -eps.re)));
        if (o > opacity) {
            opacity = o;
            best = j;
        }
    }
    return best;
}

void step(const FilmTransfer& m, Complex& psi, Complex& phi) {
    const Complex next_psi = m.m11 * psi + m.m12 * phi;
    phi = m.m21 * psi + m.m22 * phi;
    psi = next_psi;
}

// The inverse of a determinant-one transfer is its adjugate.
void step_back(const FilmTransfer& m, Complex& psi, Complex& phi) {
    const Complex next_psi = m.m22 * psi - m.m12 * phi;
    phi = m.m11 * phi - m.m21 * psi;
    psi = next_psi;
}

}  // namespace

Complex mode_condition(std::span<const ComplexLayer> layers, double omega, Polarization pol,
                       Sheet sheet, Complex neff) {
    const std::size_t count = layers.size();
    const Complex eps0 = layers[0].n * layers[0].n;
    const Complex eps_n = layers[count - 1].n * layers[count - 1].n;
    Complex psi_l{1.0, 0.0};
    Complex phi_l = polarization_weight(eps0, pol) * outer_gamma(eps0, neff, sheet.first);
    Complex psi_r{1.0, 0.0};
    Complex phi_r = -(polarization_weight(eps_n, pol) * outer_gamma(eps_n, neff, sheet.last));
    const std::size_t meet = meeting_film(layers);
    if (meet != 0) {
        const auto transfer = [&](std::size_t j, double fraction) {
            const Complex eps = layers[j].n * layers[j].n;
            return film_transfer(eps, polarization_weight(eps, pol), neff,
                                 omega * (fraction * layers[j].d));
        };
        for (std::size_t j = 1; j < meet; ++j) step(transfer(j, 1.0), psi_l, phi_l);
        for (std::size_t j = count - 2; j > meet; --j) step_back(transfer(j, 1.0), psi_r, phi_r);
        step(transfer(meet, 0.5), psi_l, phi_l);
        step_back(transfer(meet, 0.5), psi_r, phi_r);
    }
    // The Wronskian psi_l phi_r - phi_l psi_r is the same at every plane; at the
    // end of the stack it is -D.
    return phi_l * psi_r - psi_l * phi_r;
}

}  // namespace tavrik
