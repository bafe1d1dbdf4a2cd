// Field components on the grid, their normalisation to unit power flow, and
// the physics a guided mode's fields must satisfy.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <string>
#include <variant>
#include <vector>

#include "fault.hpp"
#include "field_components.hpp"
#include "multilayer.hpp"
#include "numeric.hpp"
#include "support.hpp"
#include "transfer_matrix.hpp"

namespace {

using tavrik::Complex;
using tavrik::Component;
using tavrik::Layer;
using tavrik::Polarization;
using tavrik::testdata::fault_of;
using tavrik::testdata::same_bits;
using tavrik::testdata::stack;

#define EXPECT_COMPLEX_NEAR(z, re_, im_, tol)  \
    do {                                       \
        const Complex z_ = (z);                \
        EXPECT_NEAR(z_.re, (re_), (tol));      \
        EXPECT_NEAR(z_.im, (im_), (tol));      \
    } while (0)

// Amplitudes of a mode at beta with the last half-space's growing wave removed.
std::vector<tavrik::CoefficientPair> principal(const tavrik::MultiLayer& m, double omega,
                                               double beta, Polarization p) {
    auto a = tavrik::get_propagation_coefficients_transfer(m.layers, omega, beta, p, {0.0, 0.0},
                                                           {1.0, 0.0});
    a.back().b = {0.0, 0.0};
    return a;
}

double found_beta(const tavrik::MultiLayer& m, double omega, Polarization p) {
    const auto solved = tavrik::neff(m, omega, p, 0);
    return std::get<double>(solved) * omega;
}

// -- The unnormalised TE fields at beta = 7.0, which is not a mode --------------

const std::vector<Layer> kThinSlab{{1.45, 0.5}, {2.0, 0.5}, {1.0, 0.5}};

TEST(FieldComponents, WorkedExampleAtATrialBeta) {
    const auto m = stack(kThinSlab, 0.25);
    const double omega = 4.0, beta = 7.0;
    EXPECT_COMPLEX_NEAR(tavrik::kx(1.45, omega, beta), 0.0, 3.919184, 5e-7);
    EXPECT_COMPLEX_NEAR(tavrik::kx(2.0, omega, beta), 3.872983, 0.0, 5e-7);
    EXPECT_COMPLEX_NEAR(tavrik::kx(1.0, omega, beta), 0.0, 5.744563, 5e-7);

    const auto grid = tavrik::get_grid_data(m);
    EXPECT_EQ(grid.x, (std::vector<double>{-0.5, -0.25, 0.0, 0.25, 0.5, 0.75}));
    EXPECT_EQ(grid.layer_bounds, (std::vector<std::size_t>{0, 2, 4, 6}));
    EXPECT_EQ(grid.interfaces, (std::vector<double>{0.0, 0.0, 0.5, 1.0}));

    const auto amplitudes = principal(m, omega, beta, Polarization::TE);
    ASSERT_EQ(amplitudes.size(), 3u);
    EXPECT_COMPLEX_NEAR(amplitudes[0].a, 0.0, 0.0, 0.0);
    EXPECT_COMPLEX_NEAR(amplitudes[0].b, 1.0, 0.0, 0.0);
    EXPECT_COMPLEX_NEAR(amplitudes[1].a, 0.5, -0.505964, 5e-7);
    EXPECT_COMPLEX_NEAR(amplitudes[1].b, 0.5, 0.505964, 5e-7);
    EXPECT_COMPLEX_NEAR(amplitudes[2].a, 0.730502, 0.0, 5e-7);

    const auto c = tavrik::mode_coefficients(m.layers, omega, beta, Polarization::TE, amplitudes);
    const auto ey = tavrik::get_field_componet(m.layers, omega, beta,
                                               c[std::size_t(Component::Ey)].pairs, grid);
    const double expected[] = {0.140916, 0.375388, 1.000000, 1.400467, 0.730502, 0.173745};
    ASSERT_EQ(ey.size(), 6u);
    for (std::size_t k = 0; k < 6; ++k) {
        SCOPED_TRACE(k);
        EXPECT_COMPLEX_NEAR(ey[k], expected[k], 0.0, 5e-7);
    }

    const auto hx = tavrik::get_field_componet(m.layers, omega, beta,
                                               c[std::size_t(Component::Hx)].pairs, grid);
    const auto hz = tavrik::get_field_componet(m.layers, omega, beta,
                                               c[std::size_t(Component::Hz)].pairs, grid);
    EXPECT_COMPLEX_NEAR(tavrik::divide_by_z0(hx[2]), -0.004645233, 0.0, 5e-10);
    EXPECT_COMPLEX_NEAR(tavrik::divide_by_z0(hz[1]), 0.0, -0.000976304, 5e-10);

    // Off a mode the last layer's discarded B wave shows as a jump at the top
    // interface: layer 1's expression ends at 0.587417, layer 2 starts at 0.730502.
    const auto end_of_film = tavrik::superpose(
        amplitudes[1], tavrik::partial_waves(tavrik::kx(2.0, omega, beta), 0.5));
    EXPECT_COMPLEX_NEAR(end_of_film, 0.587417, 0.0, 5e-7);
}

// The fused walk must give exactly the per-component evaluator's values, also
// where the vanishing components are NaN: a 200-unit layer 0 overflows its
// (absent) growing wave, and 0 * inf is NaN.
TEST(FieldComponents, FusedWalkEqualsTheEvaluatorBitForBit) {
    const double omega = 4.0, beta = 7.0;
    for (const auto& layers : {kThinSlab, std::vector<Layer>{{1.45, 200.0}, {2.0, 0.5},
                                                            {1.7, 0.01}, {1.0, 1.5}}}) {
        const auto m = stack(layers, 0.125);
        const auto grid = tavrik::get_grid_data(m);
        for (const Polarization p : {Polarization::TE, Polarization::TM}) {
            const auto c =
                tavrik::mode_coefficients(layers, omega, beta, p, principal(m, omega, beta, p));
            const auto fused = tavrik::evaluate_components(layers, omega, beta, c, grid);
            const std::vector<Complex>* got[] = {&fused.Ex, &fused.Ey, &fused.Ez,
                                                 &fused.Hx, &fused.Hy, &fused.Hz};
            for (std::size_t i = 0; i < tavrik::component_count; ++i) {
                auto one = tavrik::get_field_componet(layers, omega, beta, c[i].pairs, grid);
                if (c[i].over_z0)
                    for (Complex& v : one) v = tavrik::divide_by_z0(v);
                EXPECT_TRUE(same_bits(*got[i], one)) << "component " << i;
            }
            EXPECT_EQ(fused.x, grid.x);
            const auto& zero = tavrik::is_te(p) ? fused.Ex : fused.Ey;
            const bool overflows = layers[0].d > 100.0;
            EXPECT_EQ(std::isnan(zero.front().re), overflows);
            EXPECT_EQ(zero.back().re, 0.0);
            EXPECT_EQ(zero.back().im, 0.0);
        }
    }
}

// The fused walk checks the segments before writing, and must fault exactly
// as the evaluator does.
TEST(FieldComponents, MalformedSegmentsFault) {
    const auto m = stack(kThinSlab, 0.25);
    auto grid = tavrik::get_grid_data(m);
    const auto pairs = tavrik::zero_coefficients(3);
    auto both = [&](std::size_t coefficients) {
        const std::span<const tavrik::CoefficientPair> list(pairs.data(), coefficients);
        tavrik::ModeCoefficients all;
        for (auto& c : all) c.pairs.assign(list.begin(), list.end());
        const std::string one =
            fault_of([&] { tavrik::get_field_componet(m.layers, 4.0, 7.0, list, grid); });
        const std::string fused =
            fault_of([&] { tavrik::evaluate_components(m.layers, 4.0, 7.0, all, grid); });
        EXPECT_EQ(one, fused);
        return one;
    };
    EXPECT_EQ(both(2), tavrik::index_message(2, 2));
    grid.layer_bounds = {0, 4, 2, 6};
    EXPECT_EQ(both(3), "slice index starts at 4 but ends at 2");
    grid.layer_bounds = {0, 2, 4, 7};
    EXPECT_EQ(both(3), "range end index 7 out of range for slice of length 6");
    // Segments that start late cover fewer samples than the grid has.
    grid.layer_bounds = {1, 2, 4, 5};
    EXPECT_EQ(both(3), "no fault");
    tavrik::ModeCoefficients all;
    for (auto& c : all) c.pairs = pairs;
    EXPECT_EQ(tavrik::evaluate_components(m.layers, 4.0, 7.0, all, grid).Ey.size(),
              tavrik::get_field_componet(m.layers, 4.0, 7.0, pairs, grid).size());
}

// -- The normalised field of a found mode --------------------------------------

const std::vector<Layer> kSlab{{1.45, 3.0}, {2.0, 0.5}, {1.0, 3.0}};

Complex value_at(const std::vector<Complex>& v, std::size_t k) { return tavrik::at(v, k); }

TEST(Field, WorkedExampleTE) {
    const auto m = stack(kSlab, 0.01);
    const auto result = tavrik::field(m, 4.0, Polarization::TE, 0);
    const auto& f = std::get<tavrik::FieldData>(result);
    ASSERT_EQ(f.x.size(), 650u);
    EXPECT_EQ(tavrik::get_grid_data(m).layer_bounds, (std::vector<std::size_t>{0, 300, 350, 650}));
    EXPECT_EQ(f.x, tavrik::index_profile(m).x);
    ASSERT_EQ(f.x[300], 0.0);
    EXPECT_COMPLEX_NEAR(value_at(f.Ey, 300), 14.43157, 0.0, 5e-6);
    EXPECT_COMPLEX_NEAR(value_at(f.Hx, 300), -0.06797198, 0.0, 5e-9);
    EXPECT_COMPLEX_NEAR(value_at(f.Hz, 300), 0.0, -0.03917725, 5e-9);
    double largest = 0.0;
    for (const Complex& v : f.Ey) largest = std::max(largest, tavrik::abs(v));
    EXPECT_NEAR(largest, 21.54076, 5e-6);
}

TEST(Field, WorkedExampleTM) {
    const auto result = tavrik::field(stack(kSlab, 0.01), 4.0, Polarization::TM, 0);
    const auto& f = std::get<tavrik::FieldData>(result);
    ASSERT_EQ(f.x.size(), 650u);
    EXPECT_COMPLEX_NEAR(value_at(f.Ez, 300), 10.10628, 0.0, 5e-6);
    EXPECT_COMPLEX_NEAR(value_at(f.Ex, 300), 0.0, -11.23118, 5e-6);
    EXPECT_COMPLEX_NEAR(value_at(f.Hy, 300), 0.0, -0.07246010, 5e-9);
}

// Stacks with several films, thin layers and a last sample on the end of the stack.
const std::vector<std::vector<Layer>> kStacks{
    kSlab,
    {{1.45, 2.0}, {2.0, 0.4}, {1.6, 0.3}, {2.2, 0.25}, {1.3, 2.0}},
    {{1.45, 1.0}, {2.0, 1.378}, {1.0, 1.812}},
    {{1.45, 2.0}, {2.1, 0.004}, {2.0, 0.5}, {1.9, 0.003}, {1.0, 2.0}},
};

// At a mode the tangential fields are continuous: E_y, Z0 H_x and Z0 H_z in TE;
// E_z, Z0 H_y and the normal displacement n^2 E_x in TM. Each layer's
// expression at its reference plane must meet the previous layer's at its far
// side (layer 0 is measured from the interface itself).
TEST(Field, ContinuousAcrossEveryInterfaceAtAMode) {
    const double omega = 4.0;
    for (const auto& layers : kStacks) {
        const auto m = stack(layers, 0.01);
        for (const Polarization p : {Polarization::TE, Polarization::TM}) {
            const double beta = found_beta(m, omega, p);
            const auto c =
                tavrik::mode_coefficients(layers, omega, beta, p, principal(m, omega, beta, p));
            const bool te = tavrik::is_te(p);
            const Component checked[] = {te ? Component::Ey : Component::Ez,
                                         te ? Component::Hx : Component::Hy,
                                         te ? Component::Hz : Component::Ex};
            for (const Component comp : checked) {
                const auto& pairs = c[std::size_t(comp)].pairs;
                auto value = [&](std::size_t j, double xi) {
                    const Complex v = tavrik::superpose(
                        pairs[j], tavrik::partial_waves(tavrik::kx(layers[j].n, omega, beta), xi));
                    const Complex n2 = tavrik::real(layers[j].n) * tavrik::real(layers[j].n);
                    return comp == Component::Ex ? n2 * v : v;
                };
                double scale = 0.0;
                for (std::size_t j = 0; j < layers.size(); ++j)
                    scale = std::max(scale, tavrik::abs(value(j, 0.0)));
                for (std::size_t j = 1; j < layers.size(); ++j) {
                    const double below = j == 1 ? 0.0 : layers[j - 1].d;
                    const double jump = tavrik::abs(value(j, 0.0) - value(j - 1, below));
                    EXPECT_LT(jump, 1e-6 * scale)
                        << "layers " << layers.size() << " interface " << j << " component "
                        << std::size_t(comp) << (te ? " TE" : " TM");
                }
            }
        }
    }
}

TEST(Field, UnitPowerFlowAndVanishingComponents) {
    for (const auto& layers : kStacks) {
        for (const Polarization p : {Polarization::TE, Polarization::TM}) {
            const auto m = stack(layers, 0.01);
            const auto result = tavrik::field(m, 4.0, p, 0);
            const auto& f = std::get<tavrik::FieldData>(result);
            EXPECT_EQ(f.x, tavrik::index_profile(m).x);
            std::vector<Complex> s(f.x.size());
            for (std::size_t k = 0; k < s.size(); ++k)
                s[k] = f.Ex[k] * tavrik::conj(f.Hy[k]) - f.Ey[k] * tavrik::conj(f.Hx[k]);
            const Complex power = tavrik::integrate_trapezoid(s, f.x);
            EXPECT_NEAR(tavrik::abs(power), 1.0, 1e-12);
            const bool te = tavrik::is_te(p);
            for (const auto* zero : te ? std::vector{&f.Ex, &f.Ez, &f.Hy}
                                       : std::vector{&f.Ey, &f.Hx, &f.Hz}) {
                ASSERT_EQ(zero->size(), f.x.size());
                EXPECT_TRUE(std::all_of(zero->begin(), zero->end(),
                                        [](Complex v) { return v.re == 0.0 && v.im == 0.0; }));
            }
            const auto& main = te ? f.Ey : f.Ez;
            EXPECT_TRUE(std::any_of(main.begin(), main.end(),
                                    [](Complex v) { return tavrik::abs(v) > 1.0; }));
        }
    }
}

// Thickening the outer layers from 1 to 3 adds tail power P to the integral; the
// normalised fields at the common positions shrink by the same factor
// 1/sqrt(1 + P) everywhere, so they differ from the thin result by at most P.
TEST(Field, OuterThicknessOnlyAddsTailPower) {
    for (const Polarization p : {Polarization::TE, Polarization::TM}) {
        const auto thin = tavrik::field(stack({{1.45, 1.0}, {2.0, 0.5}, {1.0, 1.0}}, 0.01), 4.0, p, 0);
        const auto thick = tavrik::field(stack(kSlab, 0.01), 4.0, p, 0);
        const auto& a = std::get<tavrik::FieldData>(thin);
        const auto& b = std::get<tavrik::FieldData>(thick);
        ASSERT_EQ(a.x.size(), 250u);
        const std::size_t offset = 200;
        std::vector<Complex> s(b.x.size());
        for (std::size_t k = 0; k < s.size(); ++k)
            s[k] = b.Ex[k] * tavrik::conj(b.Hy[k]) - b.Ey[k] * tavrik::conj(b.Hx[k]);
        double tail = 0.0;
        for (std::size_t k = 0; k < s.size(); ++k)
            if (k < offset || k >= offset + a.x.size()) tail += s[k].re * 0.01;
        ASSERT_GT(tail, 1e-6);
        const auto& ma = tavrik::is_te(p) ? a.Ey : a.Ez;
        const auto& mb = tavrik::is_te(p) ? b.Ey : b.Ez;
        for (std::size_t k = 0; k < a.x.size(); ++k) {
            ASSERT_NEAR(a.x[k], b.x[k + offset], 1e-12);
            const Complex diff = ma[k] - mb[k + offset];
            EXPECT_LE(tavrik::abs(diff), tail * tavrik::abs(ma[k]) + 1e-12) << k;
        }
    }
}

TEST(Field, Faults) {
    EXPECT_EQ(fault_of([] { tavrik::field(stack({}, 0.01), 4.0, Polarization::TE, 0); }),
              fault_of([] { tavrik::neff(stack({}, 0.01), 4.0, Polarization::TE, 0); }));
    for (const double step : {0.0, std::numeric_limits<double>::quiet_NaN()}) {
        EXPECT_EQ(fault_of([&] { tavrik::field(stack(kSlab, step), 4.0, Polarization::TE, 0); }),
                  tavrik::unwrap_message);
    }
    // Fewer than two samples leave no spacing for the power integral.
    EXPECT_EQ(fault_of([] { tavrik::field(stack(kSlab, 10.0), 4.0, Polarization::TE, 0); }),
              tavrik::index_message(1, 1));
    EXPECT_EQ(fault_of([] { tavrik::field(stack(kSlab, -10.0), 4.0, Polarization::TE, 0); }),
              tavrik::index_message(0, 0));
    auto scattering = stack(kSlab, 0.01);
    scattering.backend = tavrik::BackEnd::Scattering;
    EXPECT_EQ(fault_of([&] { tavrik::field(scattering, 4.0, Polarization::TM, 0); }),
              "Not implemented yet");
}

TEST(Field, MissingModeIsTheSearchMessage) {
    const auto m = stack(kSlab, 0.01);
    const auto result = tavrik::field(m, 4.0, Polarization::TE, 7);
    const auto searched = tavrik::neff(m, 4.0, Polarization::TE, 7);
    ASSERT_TRUE(std::holds_alternative<std::string>(result));
    EXPECT_EQ(std::get<std::string>(result), std::get<std::string>(searched));
}

}  // namespace
