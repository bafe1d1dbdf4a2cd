#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <vector>

#include "dispersion.hpp"
#include "fault.hpp"
#include "mode_solver.hpp"
#include "support.hpp"

namespace {

using tavrik::CancelCheck;
using tavrik::Layer;
using tavrik::Layers;
using tavrik::Polarization;

constexpr Polarization TE = Polarization::TE;
constexpr Polarization TM = Polarization::TM;
constexpr double two_pi = 2.0 * std::numbers::pi;

std::vector<double> betas_of(const Layers& layers, double omega, Polarization pol) {
    return tavrik::guided_betas(layers, omega, pol);
}

using tavrik::testdata::same_bits;

// A stack scaled by s in every thickness, seen at omega / s, is the same
// waveguide in another length unit: beta scales by 1/s, the group index is
// unchanged and d^2 beta / d k0^2 scales by s. For TE the energy relation
// n_g neff = (sum of n^2 weighted by |E|^2) bounds n_g by n_min^2/neff and
// n_max^2/neff.
TEST(ModeDispersion, RandomStacksScaleAsLengthsAndObeyTheEnergyBound) {
    std::size_t checked = 0;
    for (const auto& stack : tavrik::testdata::random_stacks(60, 17)) {
        for (Polarization pol : {TE, TM}) {
            const std::vector<double> betas = betas_of(stack.layers, stack.omega, pol);
            Layers scaled = stack.layers;
            const double s = 4.0;
            for (Layer& l : scaled) l.d *= s;
            const std::vector<double> scaled_betas = betas_of(scaled, stack.omega / s, pol);
            ASSERT_EQ(betas.size(), scaled_betas.size());
            double n_min = 1e9, n_max = 0.0;
            for (const Layer& l : stack.layers) {
                n_min = std::min(n_min, l.n);
                n_max = std::max(n_max, l.n);
            }
            for (std::size_t m = 0; m < betas.size(); ++m) {
                const auto d = tavrik::mode_dispersion(stack.layers, stack.omega, betas[m], pol);
                const auto ds =
                    tavrik::mode_dispersion(scaled, stack.omega / s, scaled_betas[m], pol);
                EXPECT_NEAR(ds.group_index, d.group_index, 1e-9 * d.group_index);
                EXPECT_NEAR(ds.gvd, s * d.gvd, 1e-6 * std::fabs(s * d.gvd) + 1e-12);
                if (pol == TE) {
                    const double neff = betas[m] / stack.omega;
                    EXPECT_GT(d.group_index, n_min * n_min / neff * (1 - 1e-12));
                    EXPECT_LT(d.group_index, n_max * n_max / neff * (1 + 1e-12));
                }
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 100u);
}

// Two different cores behind a barrier whose e^(kappa d) is far beyond the
// double range: each mode is a mode of one core alone, with that core's
// group index and GVD. Without the scaled evanescent step the walk overflows.
TEST(ModeDispersion, CoresBehindAThickBarrierAreIndependent) {
    const double omega = 6.0;
    const Layers a = {{1.44, 0.0}, {3.47, 0.3}, {1.44, 0.0}};
    const Layers b = {{1.44, 0.0}, {2.0, 0.9}, {1.44, 0.0}};
    const Layers both = {{1.44, 0.0}, {3.47, 0.3}, {1.44, 300.0}, {2.0, 0.9}, {1.44, 0.0}};
    for (Polarization pol : {TE, TM}) {
        const std::vector<double> of_a = betas_of(a, omega, pol);
        const std::vector<double> coupled = betas_of(both, omega, pol);
        ASSERT_EQ(coupled.size(), of_a.size() + betas_of(b, omega, pol).size());
        for (double beta : coupled) {
            const bool in_a = std::any_of(of_a.begin(), of_a.end(),
                                          [&](double x) { return std::fabs(beta - x) < 1e-9; });
            const Layers& alone = in_a ? a : b;
            const auto d = tavrik::mode_dispersion(both, omega, beta, pol);
            const auto d_alone = tavrik::mode_dispersion(alone, omega, beta, pol);
            ASSERT_TRUE(std::isfinite(d.gvd));
            EXPECT_NEAR(d.group_index, d_alone.group_index, 1e-12 * d_alone.group_index);
            EXPECT_NEAR(d.gvd, d_alone.gvd, 1e-9 * std::fabs(d_alone.gvd));
        }
    }
}

TEST(ModeDispersion, OutsideTheGuidedRangeIsNaN) {
    const Layers slab = {{1.44, 0.0}, {3.47, 0.22}, {1.44, 0.0}};
    for (double beta : {1.0, 1.44 * 6.0, std::numeric_limits<double>::quiet_NaN()}) {
        EXPECT_TRUE(std::isnan(tavrik::mode_dispersion(slab, 6.0, beta, TE).group_index));
    }
    EXPECT_TRUE(std::isnan(tavrik::mode_dispersion(Layers{{1.44, 0.0}}, 6.0, 10.0, TE).gvd));
    const Layers negative = {{1.44, 0.0}, {-3.47, 0.22}, {1.44, 0.0}};
    EXPECT_TRUE(std::isnan(tavrik::mode_dispersion(negative, 6.0, 10.0, TE).gvd));
}

// The table is the single-mode results laid out by mode and omega, NaN where a
// mode is not guided, the same bits on any number of threads.
TEST(DispersionTable, RowsAreModesColumnsAreOmegasOnAnyNumberOfThreads) {
    const Layers soi = {{1.0, 0.0}, {3.476, 0.22}, {1.444, 0.0}};
    std::vector<double> omegas;
    for (int i = 0; i < 41; ++i) omegas.push_back(two_pi / (0.4 + 0.05 * i));
    const auto one = tavrik::dispersion_table(soi, omegas, TM, {}, 1);
    const auto three = tavrik::dispersion_table(soi, omegas, TM, {}, 3);
    ASSERT_EQ(one.omega, omegas);
    const std::size_t width = omegas.size();
    ASSERT_EQ(one.modes, betas_of(soi, omegas.front(), TM).size());
    ASSERT_GT(one.modes, betas_of(soi, omegas.back(), TM).size());
    ASSERT_EQ(three.modes, one.modes);
    for (std::size_t i = 0; i < width; ++i) {
        const std::vector<double> betas = betas_of(soi, omegas[i], TM);
        for (std::size_t m = 0; m < one.modes; ++m) {
            const std::size_t at = m * width + i;
            EXPECT_TRUE(same_bits(one.neff[at], three.neff[at]));
            EXPECT_TRUE(same_bits(one.gvd[at], three.gvd[at]));
            if (m >= betas.size()) {
                EXPECT_TRUE(std::isnan(one.neff[at]) && std::isnan(one.group_index[at]));
                continue;
            }
            const auto d = tavrik::mode_dispersion(soi, omegas[i], betas[m], TM);
            EXPECT_EQ(one.neff[at], betas[m] / omegas[i]);
            EXPECT_EQ(one.group_index[at], d.group_index);
            EXPECT_EQ(one.gvd[at], d.gvd);
        }
    }
    // Columns heavy enough (hundreds of modes) that helper threads do start.
    const Layers thick = {{1.0, 0.0}, {3.5, 12.0}, {1.2, 0.0}};
    const std::vector<double> many = {18.0, 18.5, 19.0, 19.5, 20.0, 20.5, 21.0, 21.5};
    const auto serial = tavrik::dispersion_table(thick, many, TE, {}, 1);
    const auto threaded = tavrik::dispersion_table(thick, many, TE, {}, 2);
    ASSERT_GT(serial.modes, 100u);
    ASSERT_EQ(serial.gvd.size(), threaded.gvd.size());
    for (std::size_t i = 0; i < serial.gvd.size(); ++i) {
        EXPECT_TRUE(same_bits(serial.gvd[i], threaded.gvd[i]));
        EXPECT_TRUE(same_bits(serial.neff[i], threaded.neff[i]));
    }
    const auto empty = tavrik::dispersion_table(soi, {}, TE, {}, 2);
    EXPECT_EQ(empty.modes, 0u);
    EXPECT_TRUE(empty.neff.empty());
}

TEST(DispersionTable, CancellationStopsEveryThread) {
    const Layers thick = {{1.0, 0.0}, {3.5, 40.0}, {1.0, 0.0}};
    std::vector<double> omegas(64, 20.0);
    int polls = 0;
    const CancelCheck cancel{[](void* c) { return ++*static_cast<int*>(c) > 2; }, &polls};
    EXPECT_THROW(tavrik::dispersion_table(thick, omegas, TE, cancel, 2), tavrik::Cancelled);
    EXPECT_GT(polls, 2);
}

}  // namespace
