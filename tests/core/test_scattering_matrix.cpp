#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ostream>
#include <string>

#include "support.hpp"
#include "scattering_matrix.hpp"

namespace {

using namespace tavrik;

constexpr Polarization TE = Polarization::TE;
constexpr Polarization TM = Polarization::TM;

const Layers film{{1.45, 0.0}, {2.0, 0.5}, {1.0, 0.0}};

struct Worked {
    Polarization polarization;
    double s11, s12, s21, s22, v;
};

std::ostream& operator<<(std::ostream& os, const Worked& w) {
    return os << (is_te(w.polarization) ? "TE" : "TM");
}

class WorkedFilmS : public ::testing::TestWithParam<Worked> {};

TEST_P(WorkedFilmS, EntriesAndValue) {
    const Worked& w = GetParam();
    const Matrix2 s = calculate_s_matrix(film, 4.0, 7.0, w.polarization);
    const Complex got[] = {s.m11, s.m12, s.m21, s.m22};
    const double want[] = {w.s11, w.s12, w.s21, w.s22};
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(got[i].re, want[i], 5e-6) << i;
        EXPECT_NEAR(got[i].im, 0.0, 1e-12) << i;  // real up to rounding
    }
    EXPECT_NEAR(scattering_characteristic(s), w.v, 5e-7);
}

INSTANTIATE_TEST_SUITE_P(Polarizations, WorkedFilmS,
                         ::testing::Values(Worked{TE, -6.98883, -5.89949, -5.10535, -4.76807, 0.505727},
                                           Worked{TM, 1.71402, 1.88273, 1.46869, 0.556184, 0.258115}));

// A 400-thick evanescent spacer: e^(kappa d) overflows the transfer matrix to
// NaN, while the scattering matrix only ever holds e^(-kappa d) = 0.
TEST(ScatteringMatrix, ThickEvanescentSpacerStaysFinite) {
    const Layers coupler{{1.44, 0.0}, {3.5, 0.22}, {1.0, 400.0}, {3.5, 0.3}, {1.44, 0.0}};
    const Matrix2 t = calculate_t_matrix(coupler, 6.0, 15.0, TE);
    for (const Complex& e : {t.m11, t.m12, t.m21, t.m22})
        EXPECT_TRUE(std::isnan(e.re) && std::isnan(e.im));
    EXPECT_TRUE(std::isnan(transfer_characteristic(t)));

    const Matrix2 s = calculate_s_matrix(coupler, 6.0, 15.0, TE);
    EXPECT_EQ(abs(s.m11), 0.0);
    EXPECT_EQ(abs(s.m22), 0.0);
    EXPECT_NEAR(s.m12.re, 0.0358248, 5e-8);
    EXPECT_NEAR(s.m21.re, 5.23147, 5e-6);
    EXPECT_NEAR(s.m12.im, 0.0, 1e-12);
    EXPECT_NEAR(s.m21.im, 0.0, 1e-12);
    EXPECT_NEAR(scattering_characteristic(s), -0.727192, 5e-7);
}

TEST(ScatteringMatrix, InterfaceAloneHasUnitDeterminant) {
    for (const Polarization p : {TE, TM})
        for (const double beta : {3.0, 5.0, 7.0, 9.0}) {
            const Layers two{{1.45, 5.0}, {2.0, 5.0}};
            const Matrix2 s = calculate_s_matrix(two, 4.0, beta, p);
            const Matrix2 i = ScatteringMatrix::matrix_interface(1.45, 2.0, 4.0, beta, p);
            EXPECT_EQ(std::memcmp(&s, &i, sizeof s), 0);
            EXPECT_NEAR(scattering_characteristic(s), 0.0, 1e-15) << beta;
        }
    // Equal indices: full transmission, no reflection, exactly.
    const Matrix2 same = ScatteringMatrix::matrix_interface(2.0, 2.0, 4.0, 9.0, TM);
    EXPECT_TRUE(same.m11.re == 1.0 && same.m22.re == 1.0 && same.m11.im == 0.0 &&
                same.m22.im == 0.0 && abs(same.m12) == 0.0 && abs(same.m21) == 0.0);
}

// kx = 0 in the film makes D = 0 in the star product out of it; at the outer
// index lines the scattering matrix stays finite where T is NaN.
TEST(ScatteringMatrix, CutOffLines) {
    for (const Polarization p : {TE, TM}) {
        EXPECT_TRUE(std::isnan(scattering_characteristic(calculate_s_matrix(film, 4.0, 8.0, p))));
        for (const double beta : {5.8, 4.0})
            EXPECT_TRUE(std::isfinite(scattering_characteristic(calculate_s_matrix(film, 4.0, beta, p))))
                << static_cast<int>(p) << " " << beta;
    }
}

// Relative distance of two complex numbers, scaled by the larger modulus.
double rel(Complex a, Complex b) { return abs(a - b) / std::max({abs(a), abs(b), 1e-300}); }

TEST(ScatteringMatrix, RandomStacksAgreeWithTheTransferMatrix) {
    for (const auto& st : testdata::random_stacks(300, 11))
        for (const Polarization p : {TE, TM}) {
            const Matrix2 t = calculate_t_matrix(st.layers, st.omega, st.beta, p);
            const Matrix2 s = calculate_s_matrix(st.layers, st.omega, st.beta, p);
            const Complex det_s = s.m11 * s.m22 - s.m12 * s.m21;
            EXPECT_LT(rel(det_s, t.m11 / t.m22), 1e-9);
            if (p != TE) continue;
            // det I = k_a/k_b and det P = 1, so det T = k_0/k_(N-1); forming it
            // from T's entries would cancel catastrophically in evanescent stacks.
            const Complex det_t = kx(st.layers.front().n, st.omega, st.beta) /
                                  kx(st.layers.back().n, st.omega, st.beta);
            const Complex one{1.0, 0.0};
            EXPECT_LT(rel(s.m11, one / t.m22), 1e-9);
            EXPECT_LT(rel(s.m12, -t.m21 / t.m22), 1e-9);
            EXPECT_LT(rel(s.m21, t.m12 / t.m22), 1e-9);
            EXPECT_LT(rel(s.m22, det_t / t.m22), 1e-9);
        }
}

}  // namespace
