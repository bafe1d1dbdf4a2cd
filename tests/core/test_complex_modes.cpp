// Complex stacks: the argument-principle count and the modes it certifies,
// against closed forms.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "argument_principle.hpp"
#include "complex_mode_solver.hpp"
#include "mode_condition.hpp"
#include "mode_solver.hpp"
#include "support.hpp"

namespace tavrik {
namespace {

struct Polynomial {
    std::vector<Complex> roots;
};

Complex product_at(const void* context, Complex z) {
    Complex v{1.0, 0.0};
    for (Complex r : static_cast<const Polynomial*>(context)->roots) v = v * (z - r);
    return v;
}

TEST(ArgumentPrinciple, CountsAndIsolatesZerosWithMultiplicity) {
    // A double zero and two zeros 1e-9 apart count as they are; the zero
    // outside the box does not count.
    const Polynomial p{{{0.3, 0.2}, {0.3, 0.2}, {-0.5, 0.1}, {-0.5, 0.1 + 1e-9}, {3.0, 0.0}}};
    const ComplexFunction f{product_at, &p};
    const Rectangle box{-1.0, 1.0, -1.0, 1.0};
    EXPECT_EQ(winding_number(f, box, 1.0, {}), 4);
    const ZeroSearch found = zeros_in(f, box, 1.0, {});
    ASSERT_EQ(found.zeros.size(), 4u);
    for (Complex z : found.zeros) {
        double nearest = INFINITY;
        for (Complex r : p.roots) nearest = std::min(nearest, abs(z - r));
        EXPECT_LT(nearest, 1e-7);  // a double zero has half the digits
    }
}

TEST(ArgumentPrinciple, ZeroOnTheContourIsReported) {
    const Polynomial p{{{1.0, 0.0}}};
    const ComplexFunction f{product_at, &p};
    EXPECT_THROW(winding_number(f, Rectangle{0.0, 1.0, -1.0, 1.0}, 1.0, {}), ContourHit);
}

constexpr double wavelength = 0.6328;
const double omega = 2.0 * 3.141592653589793 / wavelength;
const Complex gold_eps{-11.6, 1.2};

std::vector<Complex> modes_of(const ComplexLayers& layers, Polarization pol) {
    auto result = complex_modes(layers, omega, pol, default_bound_window(layers, omega), false);
    if (auto* message = std::get_if<std::string>(&result)) ADD_FAILURE() << *message;
    return std::get<0>(result);
}

TEST(ComplexModes, SurfacePlasmonOfOneInterface) {
    const Complex ed{1.7689, 0.0};
    const ComplexLayers layers{{sqrt(gold_eps), 1.0}, {sqrt(ed), 1.0}};
    EXPECT_TRUE(modes_of(layers, Polarization::TE).empty());
    const std::vector<Complex> tm = modes_of(layers, Polarization::TM);
    ASSERT_EQ(tm.size(), 1u);
    const Complex exact = sqrt(gold_eps * ed / (gold_eps + ed));
    EXPECT_LT(abs(tm[0] - exact), 1e-12 * abs(exact));
}

TEST(ComplexModes, ThickGoldFilmGivesBothInterfacePlasmons) {
    // Air | 1-thick gold | glass: the film holds exp(-35) between its faces, so
    // each face carries its own plasmon, finite and exact. The one on the air
    // side lies below the glass's index: it leaks into the glass (the
    // Kretschmann coupling), by exp(-70), so it is found as a leaky mode.
    const Complex air{1.0, 0.0}, glass{2.25, 0.0};
    const ComplexLayers layers{{sqrt(air), 1.0}, {sqrt(gold_eps), 1.0}, {sqrt(glass), 1.0}};
    const std::vector<Complex> tm = modes_of(layers, Polarization::TM);
    ASSERT_EQ(tm.size(), 1u);
    const Complex on_glass = sqrt(gold_eps * glass / (gold_eps + glass));
    const Complex on_air = sqrt(gold_eps * air / (gold_eps + air));
    EXPECT_LT(abs(tm[0] - on_glass), 1e-12);
    auto leaky = leaky_modes(layers, omega, Polarization::TM, default_leaky_window(layers, omega));
    ASSERT_TRUE(std::holds_alternative<std::vector<Complex>>(leaky));
    ASSERT_EQ(std::get<0>(leaky).size(), 1u);
    EXPECT_LT(abs(std::get<0>(leaky)[0] - on_air), 1e-12);
}

TEST(ComplexModes, SymmetricThickFilmCountsTheDegeneratePairTwice) {
    const Complex glass{2.25, 0.0};
    const ComplexLayers layers{{sqrt(glass), 1.0}, {sqrt(gold_eps), 1.0}, {sqrt(glass), 1.0}};
    const std::vector<Complex> tm = modes_of(layers, Polarization::TM);
    ASSERT_EQ(tm.size(), 2u);
    const Complex exact = sqrt(gold_eps * glass / (gold_eps + glass));
    for (Complex z : tm) EXPECT_LT(abs(z - exact), 1e-12);
}

TEST(ComplexModes, ScalingKeepsThickAbsorbersFinite) {
    const ComplexLayers layers{{Complex{1.0, 0.0}, 1.0}, {sqrt(gold_eps), 1e4}, {Complex{1.5, 0.0}, 1.0}};
    for (double re : {1.0, 1.5, 3.0}) {
        const Complex d = mode_condition(layers, omega, Polarization::TM, Sheet{}, Complex{re, 0.01});
        EXPECT_TRUE(std::isfinite(d.re) && std::isfinite(d.im));
    }
}

TEST(ComplexModes, RealStacksGiveTheRealSolversModes) {
    // Zero imaginary parts: the winding count equals the oscillation count and
    // every root meets the real solver's exact one.
    for (const testdata::RandomStack& random : testdata::random_stacks(12, 7)) {
        ComplexLayers layers;
        for (const Layer& layer : random.layers) layers.push_back({Complex{layer.n, 0.0}, layer.d});
        for (Polarization pol : {Polarization::TE, Polarization::TM}) {
            const std::vector<double> betas = guided_betas(random.layers, random.omega, pol);
            auto found = complex_modes(layers, random.omega, pol, default_bound_window(layers, random.omega), false);
            ASSERT_TRUE(std::holds_alternative<std::vector<Complex>>(found)) << std::get<std::string>(found);
            const std::vector<Complex>& modes = std::get<0>(found);
            ASSERT_EQ(modes.size(), betas.size());
            for (std::size_t k = 0; k < modes.size(); ++k) {
                EXPECT_NEAR(modes[k].re, betas[k] / random.omega, 1e-12);
                EXPECT_NEAR(modes[k].im, 0.0, 1e-12);
            }
        }
    }
}

}  // namespace
}  // namespace tavrik
