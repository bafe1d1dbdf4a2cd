#include "mode_amplitudes.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "banded_lu.hpp"
#include "fault.hpp"

namespace tavrik {

namespace {

// One layer at one beta: its wavenumber, the A wave's factor across it, and
// the integrals over it of |e_A|^2 = |e_B|^2 (i0) and of e_A conj(e_B) (i1, real
// for real indices), with e_A = exp(i k xi) and e_B = exp(-i k (xi - d)).
struct LayerTerms {
    Complex k;
    Complex across{1.0, 0.0};  // exp(i k d): e^(-kappa d) when evanescent
    double i0 = 0.0, i1 = 0.0;
    double weight = 1.0;       // 1 (TE) or n^2/|k|^2 (TM)
};

std::vector<LayerTerms> layer_terms(std::span<const Layer> layers, double omega, double beta,
                                    Polarization pol) {
    const std::size_t count = layers.size();
    std::vector<LayerTerms> terms(count);
    for (std::size_t j = 0; j < count; ++j) {
        LayerTerms& t = terms[j];
        t.k = transverse_wavenumber(layers[j].n, omega, beta);
        const double kappa = t.k.im;
        if (!is_te(pol)) t.weight = (layers[j].n * layers[j].n) / (t.k.re * t.k.re + kappa * kappa);
        if (j == 0 || j + 1 == count) {
            // A half-space holds one wave decaying away from the stack.
            t.i0 = 0.5 / kappa;
            continue;
        }
        const double d = layers[j].d;
        t.across = exp(Complex{-kappa * d, t.k.re * d});
        if (kappa == 0.0) {
            t.i0 = d;
            t.i1 = t.k.re == 0.0 ? d : std::sin(t.k.re * d) / t.k.re;
        } else {
            t.i0 = -std::expm1(-2.0 * kappa * d) / (2.0 * kappa);
            t.i1 = d * std::exp(-kappa * d);
        }
    }
    return terms;
}

// The interface conditions at beta as a band matrix. Unknowns in layer
// order: b_0, a_1, b_1, ..., a_(N-2), b_(N-2), a_(N-1). Interface j|j+1 gives
// row 2j (psi continuous) and row 2j+1 (the flux: k (A - B) for TE, written
// as n_j^2 k_(j+1) (A - B)_j = n_(j+1)^2 k_j (A - B)_(j+1) for TM so that no
// k divides), the flux row scaled to entries of modulus at most 1.
BandedLU interface_matrix(std::span<const Layer> layers, const std::vector<LayerTerms>& terms,
                          Polarization pol) {
    const std::size_t n = 2 * layers.size() - 2;
    BandedLU m(n, 2, 2);
    for (std::size_t j = 0; j + 1 < layers.size(); ++j) {
        const LayerTerms& left = terms[j];
        const LayerTerms& right = terms[j + 1];
        Complex c_left = left.k, c_right = right.k;
        if (!is_te(pol)) {
            c_left = real(layers[j].n * layers[j].n) * right.k;
            c_right = real(layers[j + 1].n * layers[j + 1].n) * left.k;
        }
        const double scale = std::max(abs(c_left), abs(c_right));
        if (scale > 0.0 && std::isfinite(scale)) {
            c_left = c_left / real(scale);
            c_right = c_right / real(scale);
        }
        const std::size_t row = 2 * j;
        if (j > 0) {  // a_j at column 2j - 1
            m.entry(row, row - 1) = left.across;
            m.entry(row + 1, row - 1) = c_left * left.across;
        }
        m.entry(row, row) = real(1.0);  // b_j
        m.entry(row + 1, row) = -c_left;
        m.entry(row, row + 1) = real(-1.0);  // a_(j+1)
        m.entry(row + 1, row + 1) = -c_right;
        if (j + 2 < layers.size()) {  // b_(j+1)
            m.entry(row, row + 2) = -right.across;
            m.entry(row + 1, row + 2) = c_right * right.across;
        }
    }
    return m;
}

std::vector<CoefficientPair> as_pairs(std::span<const Complex> x, std::size_t layer_count) {
    std::vector<CoefficientPair> f(layer_count);
    f[0].b = x[0];
    for (std::size_t j = 1; j < layer_count; ++j) {
        f[j].a = x[2 * j - 1];
        if (j + 1 < layer_count) f[j].b = x[2 * j];
    }
    return f;
}

// The power cross product sum_j w_j integral psi_f conj(psi_g); psi carries
// the B wave with the sign s = +1 for TE (E_y) and -1 for TM (H_y's A - B).
Complex power_product(std::span<const LayerTerms> terms, Polarization pol,
                      std::span<const CoefficientPair> f, std::span<const CoefficientPair> g) {
    const Complex s = real(is_te(pol) ? 1.0 : -1.0);
    Complex total{0.0, 0.0};
    for (std::size_t j = 0; j < terms.size(); ++j) {
        const LayerTerms& t = terms[j];
        const Complex same = f[j].a * conj(g[j].a) + f[j].b * conj(g[j].b);
        const Complex cross = f[j].a * conj(g[j].b) + f[j].b * conj(g[j].a);
        total = total + real(t.weight) * (same * real(t.i0) + s * cross * real(t.i1));
    }
    return total;
}

void scale_pairs(std::vector<CoefficientPair>& f, Complex factor) {
    for (CoefficientPair& p : f) {
        p.a = p.a * factor;
        p.b = p.b * factor;
    }
}

void normalise_power(const std::vector<LayerTerms>& terms, Polarization pol,
                     std::vector<CoefficientPair>& f) {
    const double power = power_product(terms, pol, f, f).re;
    if (power > 0.0 && std::isfinite(power)) scale_pairs(f, real(1.0 / std::sqrt(power)));
}

// A fixed pseudo-random start vector for each position in a group of modes
// (splitmix64 mapped to [-1, 1)), so that modes sharing one null space start
// from independent vectors and every call gives the same bits.
std::vector<Complex> start_vector(std::size_t size, std::uint64_t seed) {
    std::vector<Complex> x(size);
    std::uint64_t state = 0x9E3779B97F4A7C15ull * (seed + 1);
    for (Complex& v : x) {
        state += 0x9E3779B97F4A7C15ull;
        std::uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        v = real(static_cast<double>(z >> 11) * 0x1.0p-52 - 1.0);
    }
    return x;
}

// Three solves: each one multiplies the null vector's share by about
// 1 / (rounding of beta) against every other direction. The iterate is
// rescaled after each solve so that it stays finite.
std::vector<Complex> inverse_iteration(const BandedLU& lu, std::uint64_t seed) {
    std::vector<Complex> x = start_vector(lu.size(), seed);
    for (int pass = 0; pass < 3; ++pass) {
        lu.solve(x);
        double largest = 0.0;
        for (const Complex& v : x) largest = std::max(largest, std::fabs(v.re) + std::fabs(v.im));
        if (!(largest > 0.0) || !std::isfinite(largest)) break;
        for (Complex& v : x) v = v / real(largest);
    }
    return x;
}

// The null space is spanned by real fields (real indices, real beta), so the
// real part of a null vector is one too. The part with more power is kept, so
// that whatever phase the iteration ended with, nothing vanishes. The
// conjugate field conj(psi) has amplitudes (conj(b) e^(-ikd), conj(a) e^(-ikd))
// in an oscillating layer and (conj(a), conj(b)) in an evanescent one.
std::vector<CoefficientPair> real_field(const std::vector<LayerTerms>& terms, Polarization pol,
                                        const std::vector<CoefficientPair>& f) {
    std::vector<CoefficientPair> re(f.size()), im(f.size());
    for (std::size_t j = 0; j < f.size(); ++j) {
        CoefficientPair c{conj(f[j].a), conj(f[j].b)};
        if (terms[j].k.im == 0.0) c = {conj(f[j].b * terms[j].across), conj(f[j].a * terms[j].across)};
        const Complex half = real(0.5), minus_half_i{0.0, -0.5};
        re[j] = {(f[j].a + c.a) * half, (f[j].b + c.b) * half};
        im[j] = {(f[j].a - c.a) * minus_half_i, (f[j].b - c.b) * minus_half_i};
    }
    return power_product(terms, pol, re, re).re >= power_product(terms, pol, im, im).re ? re : im;
}

// Makes psi real: the phase of its largest interface value is removed, and
// the sign makes the first interface value that is not negligible positive
// (psi(0) > 0 whenever psi(0) is measurable, as the transfer method starts).
void fix_phase(const std::vector<LayerTerms>& terms, std::vector<CoefficientPair>& f) {
    std::vector<Complex> values;  // psi at the interfaces 0|1, 1|2, ...
    values.push_back(f[0].b);
    for (std::size_t j = 1; j + 1 < f.size(); ++j) values.push_back(f[j].a * terms[j].across + f[j].b);
    std::size_t largest = 0;
    for (std::size_t j = 1; j < values.size(); ++j) {
        if (abs(values[j]) > abs(values[largest])) largest = j;
    }
    const double size = abs(values[largest]);
    if (!(size > 0.0) || !std::isfinite(size)) return;
    Complex rotation = conj(values[largest]) / real(size);
    for (const Complex& v : values) {
        if (abs(v) < 1e-12 * size) continue;
        if ((v * rotation).re < 0.0) rotation = -rotation;
        break;
    }
    scale_pairs(f, rotation);
}

}  // namespace

Complex transverse_wavenumber(double n, double omega, double beta) {
    const double n_omega = n * omega;
    return sqrt(Complex{(n_omega - beta) * (n_omega + beta), 0.0});
}

std::vector<CoefficientPair> mode_amplitudes(std::span<const Layer> layers, double omega,
                                             Polarization pol, std::span<const double> betas,
                                             std::size_t mode) {
    at(layers, 1);
    const double beta = at(betas, mode);
    // The group of modes that the doubles may not resolve: neighbours closer
    // than 1e-9 relative, where rounding of the interface matrix can mix modes
    // by more than 1e-7. They are made orthogonal in mode order.
    constexpr double unresolved = 1e-9;
    std::size_t first = mode;
    while (first > 0 && betas[first - 1] - betas[first] <= unresolved * std::fabs(betas[first - 1])) {
        --first;
    }
    const std::vector<LayerTerms> terms = layer_terms(layers, omega, beta, pol);
    std::vector<std::vector<CoefficientPair>> group;
    for (std::size_t m = first; m <= mode; ++m) {
        const std::vector<LayerTerms> own =
            betas[m] == beta ? terms : layer_terms(layers, omega, betas[m], pol);
        BandedLU lu = interface_matrix(layers, own, pol);
        lu.factorise();
        std::vector<CoefficientPair> f = real_field(
            own, pol, as_pairs(inverse_iteration(lu, m - first), layers.size()));
        normalise_power(terms, pol, f);
        for (int sweep = 0; sweep < 2; ++sweep) {
            for (const auto& earlier : group) {
                const Complex overlap = power_product(terms, pol, f, earlier);
                for (std::size_t j = 0; j < f.size(); ++j) {
                    f[j].a = f[j].a - overlap * earlier[j].a;
                    f[j].b = f[j].b - overlap * earlier[j].b;
                }
            }
            normalise_power(terms, pol, f);
        }
        group.push_back(std::move(f));
    }
    std::vector<CoefficientPair> result = std::move(group.back());
    fix_phase(terms, result);
    normalise_power(terms, pol, result);
    return result;
}

std::vector<double> layer_powers(std::span<const Layer> layers, double omega, double beta,
                                 Polarization pol, std::span<const CoefficientPair> f) {
    const std::vector<LayerTerms> terms = layer_terms(layers, omega, beta, pol);
    std::vector<double> powers(terms.size());
    for (std::size_t j = 0; j < terms.size(); ++j) {
        const std::span<const LayerTerms> one(&terms[j], 1);
        powers[j] = power_product(one, pol, f.subspan(j, 1), f.subspan(j, 1)).re;
    }
    return powers;
}

std::vector<CoefficientPair> reference_plane_pairs(std::span<const Layer> layers, double omega,
                                                   double beta,
                                                   std::span<const CoefficientPair> f) {
    const std::vector<LayerTerms> terms = layer_terms(layers, omega, beta, Polarization::TE);
    std::vector<CoefficientPair> pairs(f.begin(), f.end());
    for (std::size_t j = 1; j + 1 < pairs.size(); ++j) pairs[j].b = pairs[j].b * terms[j].across;
    return pairs;
}

}  // namespace tavrik
