// The amplitudes of a guided mode: continuity of psi and of its flux at every
// interface, unit power, and orthogonal modes where beta does not resolve them.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "mode_amplitudes.hpp"
#include "mode_solver.hpp"

namespace {

using tavrik::Complex;
using tavrik::Layer;
using tavrik::Polarization;

const double kOmega = 2.0 * std::numbers::pi / 1.55;

std::vector<Layer> coupled(double gap) {
    return {{1.444, 0.0}, {3.476, 0.5}, {1.444, gap}, {3.476, 0.5}, {1.444, 0.0}};
}

// psi and its flux (k (A - B) for TE, (n^2/k) (A - B) for TM) at both sides of
// every interface, from the amplitudes' own definition.
void expect_continuous(const std::vector<Layer>& layers, double beta, Polarization pol,
                       const std::vector<tavrik::CoefficientPair>& f) {
    const bool te = tavrik::is_te(pol);
    double scale = 0.0;
    for (const auto& p : f) scale = std::max({scale, tavrik::abs(p.a), tavrik::abs(p.b)});
    for (std::size_t j = 0; j + 1 < layers.size(); ++j) {
        const Complex kl = tavrik::transverse_wavenumber(layers[j].n, kOmega, beta);
        const Complex kr = tavrik::transverse_wavenumber(layers[j + 1].n, kOmega, beta);
        const double dl = j == 0 ? 0.0 : layers[j].d;
        const double dr = j + 2 == layers.size() ? 0.0 : layers[j + 1].d;
        const Complex el = tavrik::exp(Complex{-kl.im * dl, kl.re * dl});
        const Complex er = tavrik::exp(Complex{-kr.im * dr, kr.re * dr});
        const Complex psi_l = f[j].a * el + f[j].b, psi_r = f[j + 1].a + f[j + 1].b * er;
        const Complex wl = te ? kl : tavrik::real(layers[j].n * layers[j].n) / kl;
        const Complex wr = te ? kr : tavrik::real(layers[j + 1].n * layers[j + 1].n) / kr;
        const Complex flux_l = wl * (f[j].a * el - f[j].b), flux_r = wr * (f[j + 1].a - f[j + 1].b * er);
        EXPECT_LT(tavrik::abs(psi_l - psi_r), 1e-12 * scale) << "interface " << j;
        EXPECT_LT(tavrik::abs(flux_l - flux_r), 1e-12 * scale * std::max(tavrik::abs(wl), tavrik::abs(wr)))
            << "interface " << j;
    }
}

TEST(ModeAmplitudes, ContinuousUnitPowerAndOrthogonalAcrossWideGaps) {
    for (const double gap : {1.0, 2.0, 10.0}) {
        for (const Polarization pol : {Polarization::TE, Polarization::TM}) {
            SCOPED_TRACE(gap);
            const auto layers = coupled(gap);
            const auto betas = tavrik::guided_betas(layers, kOmega, pol);
            ASSERT_GE(betas.size(), 2u);
            std::vector<std::vector<tavrik::CoefficientPair>> modes;
            for (std::size_t m = 0; m < 2; ++m) {
                modes.push_back(tavrik::mode_amplitudes(layers, kOmega, pol, betas, m));
                expect_continuous(layers, betas[m], pol, modes.back());
                double total = 0.0;
                for (double p : tavrik::layer_powers(layers, kOmega, betas[m], pol, modes.back())) total += p;
                EXPECT_NEAR(total, 1.0, 1e-13);
            }
            // Modes a few units in the last place apart (gap 10: the splitting is far below
            // double precision) must still be orthogonal:
            // |f0 + c f1|^2 = 2 for c = 1 and c = i exactly when <f0, f1> = 0.
            const bool unresolved = betas[0] - betas[1] < 1e-14 * betas[0];
            if (gap == 10.0) EXPECT_TRUE(unresolved);
            if (!unresolved) continue;
            auto sum_power = [&](Complex c) {
                auto s = modes[0];
                for (std::size_t j = 0; j < s.size(); ++j) {
                    s[j].a = s[j].a + c * modes[1][j].a;
                    s[j].b = s[j].b + c * modes[1][j].b;
                }
                double total = 0.0;
                for (double p : tavrik::layer_powers(layers, kOmega, betas[0], pol, s)) total += p;
                return total;
            };
            EXPECT_NEAR(sum_power({1.0, 0.0}), 2.0, 1e-12);
            EXPECT_NEAR(sum_power({0.0, 1.0}), 2.0, 1e-12);
            EXPECT_GT(sum_power({-1.0, 0.0}), 1.0);  // and distinct: f1 != f0
        }
    }
}

}  // namespace
