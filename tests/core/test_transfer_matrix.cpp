#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "fault.hpp"
#include "support.hpp"
#include "scattering_matrix.hpp"
#include "transfer_matrix.hpp"

namespace {

using namespace tavrik;

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr Polarization TE = Polarization::TE;
constexpr Polarization TM = Polarization::TM;

using testdata::same_bits;

// (1.45, -), (2.0, 0.5), (1.0, -) at omega = 4: a guiding film between an
// evanescent substrate and cover at beta = 7.
const Layers film{{1.45, 0.0}, {2.0, 0.5}, {1.0, 0.0}};

TEST(Kx, OscillatingRealEvanescentPositiveImaginary) {
    const Complex k0 = kx(1.45, 4.0, 7.0), k1 = kx(2.0, 4.0, 7.0), k2 = kx(1.0, 4.0, 7.0);
    // The radicand's imaginary part is +0: evanescent roots lie on +i exactly.
    EXPECT_TRUE(same_bits(Complex{k0.re, k1.im}, Complex{k2.re, 0.0}));
    EXPECT_TRUE(same_bits(Complex{k0.re, 0.0}, Complex{0.0, 0.0}));
    EXPECT_NEAR(k0.im, 3.919184, 5e-7);
    EXPECT_NEAR(k1.re, 3.872983, 5e-7);
    EXPECT_NEAR(k2.im, 5.744563, 5e-7);
}

struct Worked {
    Polarization polarization;
    double t22, v;
    Complex a1, b1, a2;
};

std::ostream& operator<<(std::ostream& os, const Worked& w) {
    return os << (is_te(w.polarization) ? "TE" : "TM");
}

class WorkedFilm : public ::testing::TestWithParam<Worked> {};

TEST_P(WorkedFilm, MatrixValueAndAmplitudes) {
    const Worked& w = GetParam();
    const Matrix2 t = calculate_t_matrix(film, 4.0, 7.0, w.polarization);
    EXPECT_NEAR(t.m22.re, w.t22, 5e-6);
    EXPECT_NEAR(t.m22.im, 0.0, 1e-12);
    EXPECT_NEAR(transfer_characteristic(t), w.v, 5e-7);

    const auto c = get_propagation_coefficients_transfer(film, 4.0, 7.0, w.polarization,
                                                         {0.0, 0.0}, {1.0, 0.0});
    ASSERT_EQ(c.size(), 3u);
    EXPECT_TRUE(same_bits(c[0].a, {0.0, 0.0}) && same_bits(c[0].b, {1.0, 0.0}));
    const Complex got[] = {c[1].a, c[1].b, c[2].a, c[2].b};
    const Complex want[] = {w.a1, w.b1, w.a2, {w.t22, 0.0}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(got[i].re, want[i].re, 5e-6) << i;
        EXPECT_NEAR(got[i].im, want[i].im, 5e-7) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Polarizations, WorkedFilm,
    ::testing::Values(Worked{TE, -0.143085, 0.844404, {0.5, -0.505964}, {0.5, 0.505964}, {0.730502, 0}},
                      Worked{TM, 1.79797, -0.254782, {0.5, 0.259714}, {0.5, -0.259714}, {-2.64065, 0}}));

TEST(TransferMatrix, PropagationIsExactlyDiagonal) {
    const Matrix2 osc = TransferMatrix::matrix_propagation(2.0, 0.5, 4.0, 7.0);
    const double phase = std::sqrt(15.0) * 0.5;
    EXPECT_NEAR(osc.m11.re, std::cos(phase), 1e-15);
    EXPECT_NEAR(osc.m11.im, std::sin(phase), 1e-15);
    EXPECT_NEAR(osc.m22.im, -std::sin(phase), 1e-15);
    EXPECT_TRUE(same_bits(osc.m12, {0.0, 0.0}) && same_bits(osc.m21, {0.0, 0.0}));
    // kappa d = 5499: the decaying wave underflows to 0 and the growing one
    // overflows to (+inf, inf * sin 0 = NaN).
    const Matrix2 thick = TransferMatrix::matrix_propagation(1.0, 400.0, 6.0, 15.0);
    EXPECT_TRUE(same_bits(thick.m11, {0.0, 0.0}));
    EXPECT_EQ(thick.m22.re, inf);
    EXPECT_TRUE(std::isnan(thick.m22.im));
}

TEST(TransferMatrix, EqualIndicesGiveTheIdentityInterface) {
    const Matrix2 identity{{1.0, 0.0}, {0.0, 0.0}, {0.0, 0.0}, {1.0, 0.0}};
    for (const Polarization p : {TE, TM})
        for (const double beta : {3.0, 9.0}) {  // oscillating and evanescent
            const Matrix2 i = TransferMatrix::matrix_interface(2.0, 2.0, 4.0, beta, p);
            EXPECT_TRUE(same_bits(i, identity)) << static_cast<int>(p) << " " << beta;
        }
    // A uniform medium: T = diag(e^(ikD), e^(-ikD)) with D the inner thickness.
    const Layers uniform{{1.5, 9.0}, {1.5, 0.3}, {1.5, 0.45}, {1.5, 0.25}, {1.5, 7.0}};
    const double k = std::sqrt(36.0 - 16.0);
    const Matrix2 t = calculate_t_matrix(uniform, 4.0, 4.0, TM);
    EXPECT_NEAR(t.m11.re, std::cos(k), 1e-14);
    EXPECT_NEAR(t.m11.im, std::sin(k), 1e-14);
    EXPECT_NEAR(t.m22.im, -std::sin(k), 1e-14);
    EXPECT_EQ(abs(t.m12) + abs(t.m21), 0.0);
}

TEST(TransferMatrix, TwoLayersAreOneInterface) {
    const Layers two{{1.45, 1.0}, {1.0, 2.0}};
    for (const Polarization p : {TE, TM}) {
        EXPECT_TRUE(same_bits(calculate_t_matrix(two, 4.0, 5.0, p),
                               TransferMatrix::matrix_interface(1.45, 1.0, 4.0, 5.0, p)));
        EXPECT_EQ(get_propagation_coefficients_transfer(two, 4.0, 5.0, p, {}, {1.0, 0.0}).size(), 2u);
    }
}

// kx_j = 0 at beta = n_j omega: TE divides by k_b (NaN from every interface
// into j >= 1), TM by W = n_b^2 k_a (NaN from every interface out of j <= N-2).
struct CutOff {
    double beta;
    Polarization polarization;
    double v;  // NaN where the division 0/0 takes over
};

std::ostream& operator<<(std::ostream& os, const CutOff& c) {
    return os << (is_te(c.polarization) ? "TE" : "TM") << " beta " << c.beta;
}

class AtCutOff : public ::testing::TestWithParam<CutOff> {};

TEST_P(AtCutOff, TransferValue) {
    const CutOff& c = GetParam();
    const double v = transfer_characteristic(calculate_t_matrix(film, 4.0, c.beta, c.polarization));
    if (std::isnan(c.v)) {
        EXPECT_TRUE(std::isnan(v)) << v;
    } else {
        EXPECT_NEAR(v, c.v, 5e-7);
    }
}

INSTANTIATE_TEST_SUITE_P(Film, AtCutOff,
                         ::testing::Values(CutOff{5.8, TE, 0.148486}, CutOff{5.8, TM, nan},
                                           CutOff{8.0, TE, nan}, CutOff{8.0, TM, nan},
                                           CutOff{4.0, TE, nan}, CutOff{4.0, TM, 0.306513}));

TEST(TransferCharacteristic, ExtremesOfTheUnscaledReciprocal) {
    struct Case {
        Complex t22;
        double v;
    };
    for (const Case& c : {Case{{0.5, 0.0}, std::log10(2.0)}, Case{{3.0, -4.0}, std::log10(0.2)},
                          Case{{0.0, 0.0}, nan},         // 0/0, not +inf
                          Case{{1e155, 0.0}, -inf},      // |T22|^2 overflows
                          Case{{0.0, -2e154}, -inf},
                          Case{{1e-170, 1e-170}, inf}})  // |T22|^2 underflows to 0
    {
        const double v = transfer_characteristic({{}, {}, {}, c.t22});
        EXPECT_TRUE(std::isnan(c.v) ? std::isnan(v) : v == c.v) << c.t22.re << " -> " << v;
    }
}

// The walk of one amplitude column performs the same operations as the walk
// of T's second column; the outer thicknesses are never read.
TEST(TransferMatrix, RandomStacksLastPairIsSecondColumnAndOuterThicknessIsUnused) {
    for (const auto& s : testdata::random_stacks(300, 7))
        for (const Polarization p : {TE, TM}) {
            const Matrix2 t = calculate_t_matrix(s.layers, s.omega, s.beta, p);
            const auto c = get_propagation_coefficients_transfer(s.layers, s.omega, s.beta, p,
                                                                 {0.0, 0.0}, {1.0, 0.0});
            ASSERT_EQ(c.size(), s.layers.size());
            EXPECT_TRUE(same_bits(c.back().a, t.m12) && same_bits(c.back().b, t.m22));

            Layers other = s.layers;
            other.front().d = nan;
            other.back().d = -inf;
            EXPECT_TRUE(same_bits(calculate_t_matrix(other, s.omega, s.beta, p), t));
            const auto c2 = get_propagation_coefficients_transfer(other, s.omega, s.beta, p,
                                                                  {0.0, 0.0}, {1.0, 0.0});
            EXPECT_EQ(std::memcmp(c.data(), c2.data(), c.size() * sizeof c[0]), 0);
        }
}

// The walks reuse each kx and may reorganise the work, but every result must
// be the bits of the plain composition of the elementary matrices.
TEST(StackWalks, RandomStacksEqualThePlainCompositionBitForBit) {
    auto stacks = testdata::random_stacks(300, 5);
    // Cut-off lines (0/0) and an overflowing spacer (0 * inf) as well.
    for (const double beta : {4.0, 5.8, 8.0}) stacks.push_back({film, 4.0, beta});
    stacks.push_back({{{1.44, 0.0}, {3.5, 0.22}, {1.0, 400.0}, {3.5, 0.3}, {1.44, 0.0}}, 6.0, 15.0});
    for (const auto& s : stacks)
        for (const Polarization p : {TE, TM}) {
            const Layers& l = s.layers;
            Matrix2 t = TransferMatrix::matrix_interface(l[0].n, l[1].n, s.omega, s.beta, p);
            Matrix2 sm = ScatteringMatrix::matrix_interface(l[0].n, l[1].n, s.omega, s.beta, p);
            for (std::size_t j = 1; j + 1 < l.size(); ++j) {
                const Matrix2 pj = TransferMatrix::matrix_propagation(l[j].n, l[j].d, s.omega, s.beta);
                t = detail::mul(TransferMatrix::matrix_interface(l[j].n, l[j + 1].n, s.omega, s.beta, p),
                                detail::mul(pj, t));
                const Complex phi = pj.m11;  // exp((i k)(d + 0i)) = exp((d + 0i)(i k))
                sm = star_product(sm, {phi, {}, {}, phi});
                sm = star_product(sm, ScatteringMatrix::matrix_interface(l[j].n, l[j + 1].n, s.omega,
                                                                         s.beta, p));
            }
            EXPECT_TRUE(same_bits(calculate_t_matrix(l, s.omega, s.beta, p), t));
            EXPECT_TRUE(same_bits(calculate_s_matrix(l, s.omega, s.beta, p), sm));
        }
}

struct StackCall {
    const char* name;
    std::function<void(std::span<const Layer>)> call;
};

std::ostream& operator<<(std::ostream& os, const StackCall& c) { return os << c.name; }

class FewerThanTwoLayers : public ::testing::TestWithParam<StackCall> {};

TEST_P(FewerThanTwoLayers, FaultOnTheMissingIndex) {
    const Layers none, one{{1.5, 1.0}};
    for (const auto& [layers, message] :
         {std::pair{none, "index out of bounds: the len is 0 but the index is 0"},
          std::pair{one, "index out of bounds: the len is 1 but the index is 1"}}) {
        try {
            GetParam().call(layers);
            ADD_FAILURE() << "no fault for " << layers.size() << " layers";
        } catch (const Fault& f) {
            EXPECT_EQ(std::string(f.what()), message);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    StackWalks, FewerThanTwoLayers,
    ::testing::Values(
        StackCall{"t_matrix", [](std::span<const Layer> l) { calculate_t_matrix(l, 4.0, 5.0, TE); }},
        StackCall{"coefficients",
                  [](std::span<const Layer> l) {
                      get_propagation_coefficients_transfer(l, 4.0, 5.0, TM, {}, {1.0, 0.0});
                  }},
        StackCall{"s_matrix", [](std::span<const Layer> l) { calculate_s_matrix(l, 4.0, 5.0, TM); }}));

}  // namespace
