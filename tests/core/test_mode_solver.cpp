#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

#include "mode_count.hpp"
#include "mode_solver.hpp"
#include "support.hpp"

namespace tavrik {
namespace {

constexpr double two_pi = 2.0 * std::numbers::pi;

struct Case {
    const char* name;
    Layers layers;
    double omega;
};

const Case cases[] = {
    {"slab", {{1.0, 0.0}, {1.5, 1.0}, {1.0, 0.0}}, two_pi},
    {"asymmetric", {{1.0, 0.0}, {2.0, 0.5}, {1.45, 0.0}}, two_pi},
    {"coupled cores", {{1.444, 0.0}, {3.476, 0.5}, {1.444, 2.0}, {3.476, 0.5}, {1.444, 0.0}}, two_pi / 1.55},
    {"thick film", {{1.0, 1.0}, {3.5, 12.0}, {1.44, 1.0}}, two_pi / 1.55},
};

// Each root is certified by the count: the mode lies between the returned
// double and its neighbour on one side, and the mode count changes there.
TEST(ModeSolver, EveryRootSitsOnTheCountStepAndSingleModesAgree) {
    for (const Case& c : cases) {
        for (Polarization pol : {Polarization::TE, Polarization::TM}) {
            const std::vector<double> betas = guided_betas(c.layers, c.omega, pol);
            const double lo = std::max(c.layers.front().n, c.layers.back().n) * c.omega;
            ASSERT_EQ(betas.size(), count_modes_above(c.layers, c.omega, lo, pol)) << c.name;
            for (std::size_t m = 0; m < betas.size(); ++m) {
                const double below = std::nextafter(betas[m], 0.0);
                const double above = std::nextafter(betas[m], std::numeric_limits<double>::infinity());
                EXPECT_GT(count_modes_above(c.layers, c.omega, below, pol), m) << c.name << " mode " << m;
                EXPECT_LE(count_modes_above(c.layers, c.omega, above, pol), m) << c.name << " mode " << m;
                const std::optional<double> single = guided_beta(c.layers, c.omega, pol, m);
                ASSERT_TRUE(single.has_value());
                EXPECT_EQ(*single, betas[m]) << c.name << " mode " << m;
            }
            EXPECT_FALSE(guided_beta(c.layers, c.omega, pol, betas.size()).has_value());
        }
    }
}

TEST(ModeSolver, UncertifiableStacksHaveNoModes) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Layers stacks[] = {{}, {{1.5, 1.0}}, {{1.0, 0.0}, {nan, 1.0}, {1.0, 0.0}}, {{1.0, 0.0}, {1.5, -1.0}, {1.0, 0.0}}};
    for (const Layers& layers : stacks) EXPECT_TRUE(guided_betas(layers, two_pi, Polarization::TE).empty());
    const Layers slab = cases[0].layers;
    for (double omega : {0.0, -1.0, nan, std::numeric_limits<double>::infinity()})
        EXPECT_TRUE(guided_betas(slab, omega, Polarization::TE).empty()) << omega;
}

TEST(ModeSolver, ACancelCheckThatFiresStopsTheSolver) {
    const Layers thick = {{1.0, 0.0}, {1.5, 1000.0}, {1.0, 0.0}};
    const CancelCheck cancel{[](void*) { return true; }, nullptr};
    EXPECT_THROW(guided_betas(thick, two_pi, Polarization::TE, cancel), Cancelled);
}

}  // namespace
}  // namespace tavrik

namespace tavrik {
namespace {

// A single mode is the same double as the same entry of the whole list, on
// many random stacks (coupled and uncoupled films, TE and TM).
TEST(ModeSolver, SingleModesAreTheListsBitsOnRandomStacks) {
    std::size_t compared = 0;
    for (const auto& s : testdata::random_stacks(400, 11)) {
        for (Polarization pol : {Polarization::TE, Polarization::TM}) {
            const std::vector<double> betas = guided_betas(s.layers, s.omega, pol);
            for (std::size_t m = 0; m < betas.size(); ++m) {
                const std::optional<double> single = guided_beta(s.layers, s.omega, pol, m);
                ASSERT_TRUE(single.has_value());
                EXPECT_TRUE(testdata::same_bits(*single, betas[m])) << *single << " " << betas[m] << " mode " << m;
                ++compared;
            }
        }
    }
    EXPECT_GT(compared, 500u);
}

}  // namespace
}  // namespace tavrik
