#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numbers>
#include <vector>

#include "fault.hpp"
#include "mode_count.hpp"
#include "support.hpp"
#include "transfer_matrix.hpp"

namespace {

using tavrik::complete_mode_list;
using tavrik::count_modes_above;
using tavrik::Layer;
using tavrik::Layers;
using tavrik::Polarization;

constexpr double pi = std::numbers::pi;
constexpr double two_pi = 2.0 * std::numbers::pi;
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr Polarization TE = Polarization::TE;
constexpr Polarization TM = Polarization::TM;

// An independent dispersion function: the field that decays into layer 0,
// carried through the inner layers with the plain real transfer matrix of
// (psi, p psi'), tested against the decaying condition of the last layer. It
// changes sign at every guided mode. No scaling, so only for stacks whose
// evanescent layers stay well below exp(700).
double shooting_mismatch(const Layers& layers, double omega, double beta, Polarization pol) {
    auto p_of = [&](double n) { return pol == TE ? 1.0 : 1.0 / (n * n); };
    auto q_of = [&](double n) { return n * omega * (n * omega) - beta * beta; };
    double u = 1.0;
    double v = p_of(layers.front().n) * std::sqrt(-q_of(layers.front().n));
    for (std::size_t j = 1; j + 1 < layers.size(); ++j) {
        const double n = layers[j].n, d = layers[j].d, p = p_of(n), q = q_of(n);
        double u1 = u, v1 = v;
        if (q > 0) {
            const double k = std::sqrt(q);
            u1 = std::cos(k * d) * u + std::sin(k * d) / (p * k) * v;
            v1 = -p * k * std::sin(k * d) * u + std::cos(k * d) * v;
        } else if (q < 0) {
            const double kappa = std::sqrt(-q);
            u1 = std::cosh(kappa * d) * u + std::sinh(kappa * d) / (p * kappa) * v;
            v1 = p * kappa * std::sinh(kappa * d) * u + std::cosh(kappa * d) * v;
        } else {
            u1 = u + d / p * v;
        }
        u = u1;
        v = v1;
    }
    const double n_last = layers.back().n;
    return v + p_of(n_last) * std::sqrt(-q_of(n_last)) * u;
}

double lower_edge(const Layers& layers, double omega) {
    return std::max(layers.front().n, layers.back().n) * omega;
}

double upper_edge(const Layers& layers, double omega) {
    double n_max = layers.front().n;
    for (const Layer& l : layers) n_max = std::max(n_max, l.n);
    return n_max * omega;
}

// Sign changes of the shooting function on `samples` equal steps over [a, b].
std::size_t sign_changes(const Layers& layers, double omega, Polarization pol, double a, double b,
                         int samples) {
    std::size_t changes = 0;
    double prev = shooting_mismatch(layers, omega, a, pol);
    for (int i = 1; i <= samples; ++i) {
        const double x = a + (b - a) * i / samples;
        const double f = shooting_mismatch(layers, omega, x, pol);
        if ((f < 0) != (prev < 0)) ++changes;
        prev = f;
    }
    return changes;
}

// Every returned beta has exactly one guided mode within 1e-9: one sign change
// of the shooting function there, with opposite signs at the window's ends.
// (Not for modes split by less than the window.)
void expect_each_solves_dispersion(const Layers& layers, double omega, Polarization pol,
                                   const std::vector<double>& betas) {
    const double lo = lower_edge(layers, omega);
    for (const double beta : betas) {
        const double a = std::max(beta - 1e-9, lo), b = beta + 1e-9;
        EXPECT_EQ(sign_changes(layers, omega, pol, a, b, 400), 1u)
            << "no single mode within 1e-9 of beta " << beta;
    }
}

// The shooting function of the left half of a mirror-symmetric stack, ended
// at the mirror plane: the even modes have psi' = 0 there, the odd ones psi = 0.
// Each parity's roots are far apart even where the two parities nearly meet.
double half_stack_mismatch(const Layers& half, double omega, double beta, Polarization pol,
                           bool even) {
    auto p_of = [&](double n) { return pol == TE ? 1.0 : 1.0 / (n * n); };
    auto q_of = [&](double n) { return n * omega * (n * omega) - beta * beta; };
    double u = 1.0;
    double v = p_of(half.front().n) * std::sqrt(-q_of(half.front().n));
    for (std::size_t j = 1; j < half.size(); ++j) {
        const double n = half[j].n, d = half[j].d, p = p_of(n), q = q_of(n);
        const double r = std::sqrt(std::fabs(q));
        const double c = q > 0 ? std::cos(r * d) : std::cosh(r * d);
        const double s = q > 0 ? std::sin(r * d) : std::sinh(r * d);
        const double u1 = c * u + s / (p * r) * v;
        const double v1 = (q > 0 ? -1.0 : 1.0) * p * r * s * u + c * v;
        u = u1;
        v = v1;
    }
    return even ? v : u;
}

// The modes of a mirror-symmetric stack given by its left half: the roots of
// both parities, bisected to 1e-13, in descending order.
std::vector<double> symmetric_stack_modes(const Layers& half, double omega, Polarization pol,
                                          double lo, double hi) {
    std::vector<double> roots;
    for (const bool even : {true, false}) {
        auto f = [&](double b) { return half_stack_mismatch(half, omega, b, pol, even); };
        const int samples = 4000;
        for (int i = 0; i < samples; ++i) {
            double a = lo + (hi - lo) * i / samples, b = lo + (hi - lo) * (i + 1) / samples;
            if ((f(a) < 0) == (f(b) < 0)) continue;
            while (b - a > 1e-13) {
                const double m = 0.5 * (a + b);
                if ((f(m) < 0) == (f(a) < 0)) a = m; else b = m;
            }
            roots.push_back(0.5 * (a + b));
        }
    }
    std::sort(roots.begin(), roots.end(), std::greater<>());
    return roots;
}

std::vector<double> neffs(const std::vector<double>& betas, double omega) {
    std::vector<double> out;
    for (const double b : betas) out.push_back(b / omega);
    return out;
}

using tavrik::testdata::same_bits;

const Layers symmetric_slab{{1.0, 0.0}, {1.5, 1.0}, {1.0, 0.0}};
const Layers asymmetric_slab{{1.0, 0.0}, {2.0, 0.5}, {1.45, 0.0}};
const Layers core_on_buffer{{1.5, 2.0}, {1.0, 1.2}, {1.9, 0.4}, {1.0, 2.0}};
const Layers two_cores{{1.0, 1.0}, {1.5, 0.5}, {1.0, 4.0}, {1.5, 0.5}, {1.0, 1.0}};

// ---------------------------------------------------------------------------
// The counter

struct SlabCase {
    double n_core, n_clad;
    Polarization pol;
};

class SymmetricSlabCount : public ::testing::TestWithParam<SlabCase> {};

// A symmetric slab of thickness d has its m-th cut-off (TE and TM alike) at
// k0 d sqrt(n1^2 - n2^2) = m pi, so with x = k0 d NA / pi it guides floor(x) + 1
// modes for a non-integer x. Put x just below and just above each cut-off.
TEST_P(SymmetricSlabCount, MatchesTheCutOffsOnEitherSide) {
    const auto [n1, n2, pol] = GetParam();
    const double omega = two_pi;
    const double na = std::sqrt(n1 * n1 - n2 * n2);
    std::vector<double> xs;
    for (int m = 0; m <= 60; ++m) xs.push_back(m);
    for (const double m : {137.0, 1000.0, 31415.0, 100000.0}) xs.push_back(m);
    for (const double m : xs) {
        for (const double eps : {-1e-7, 1e-7, 0.5}) {
            const double x = m + eps;
            if (x <= 0) continue;
            const double d = x * pi / (omega * na);
            const Layers slab{{n2, 1.0}, {n1, d}, {n2, 1.0}};
            const auto expected = static_cast<std::size_t>(std::floor(x)) + 1;
            EXPECT_EQ(count_modes_above(slab, omega, n2 * omega, pol), expected)
                << "x = " << x;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Contrasts, SymmetricSlabCount,
                         ::testing::Values(SlabCase{1.5, 1.0, TE}, SlabCase{1.5, 1.0, TM},
                                           SlabCase{3.5, 1.0, TE}, SlabCase{3.5, 1.0, TM},
                                           SlabCase{1.4501, 1.45, TE},
                                           SlabCase{1.4501, 1.45, TM}));

// The count steps down by one at each known mode: values to ten digits for
// a symmetric slab (three modes) and an asymmetric one (two modes) at 2 pi.
TEST(CountModesAbove, StepsAtTheKnownModes) {
    struct Known {
        const Layers* layers;
        Polarization pol;
        std::vector<double> neff;
    };
    const std::vector<Known> cases{
        {&symmetric_slab, TE, {1.4491167149, 1.2923307200, 1.0393548948}},
        {&symmetric_slab, TM, {1.4339748985, 1.2372678018, 1.0141148223}},
        {&asymmetric_slab, TE, {1.8740348969, 1.5040203128}},
    };
    const double omega = two_pi;
    for (const Known& c : cases) {
        for (std::size_t m = 0; m < c.neff.size(); ++m) {
            EXPECT_EQ(count_modes_above(*c.layers, omega, (c.neff[m] + 1e-9) * omega, c.pol), m);
            EXPECT_EQ(count_modes_above(*c.layers, omega, (c.neff[m] - 1e-9) * omega, c.pol),
                      m + 1);
        }
        EXPECT_EQ(count_modes_above(*c.layers, omega, upper_edge(*c.layers, omega), c.pol), 0u);
        EXPECT_EQ(count_modes_above(*c.layers, omega, lower_edge(*c.layers, omega), c.pol),
                  c.neff.size());
        // Below the guided range the count is the total.
        EXPECT_EQ(count_modes_above(*c.layers, omega, 0.0, c.pol), c.neff.size());
    }
}

// Cutting layers into sub-layers of the same index, inserting zero-thickness
// layers of any index, or changing the outer thicknesses changes nothing.
TEST(CountModesAbove, IgnoresHowTheStackIsCut) {
    const double omega = two_pi;
    const Layers whole{{1.0, 0.0}, {1.5, 1.0}, {1.2, 0.7}, {1.8, 0.3}, {1.3, 0.0}};
    const Layers cut{{1.0, nan},  {1.5, 0.1},  {1.5, 0.25}, {2.7, 0.0}, {1.5, 0.3},
                     {1.5, 0.35}, {1.2, 0.69}, {1.2, 0.01}, {1.0, 0.0}, {1.8, 0.3},
                     {1.3, inf}};
    const double lo = lower_edge(whole, omega), hi = upper_edge(whole, omega);
    for (const Polarization pol : {TE, TM}) {
        ASSERT_GT(count_modes_above(whole, omega, lo, pol), 1u);
        for (int i = 0; i <= 2000; ++i) {
            const double beta = lo + (hi - lo) * i / 2000.0;
            EXPECT_EQ(count_modes_above(cut, omega, beta, pol),
                      count_modes_above(whole, omega, beta, pol))
                << "beta " << beta;
        }
    }
}

// Against the plain shooting function on stacks of a few layers: the count
// above each sample equals the number of sign changes above it.
TEST(CountModesAbove, AgreesWithShootingOnAssortedStacks) {
    std::uint64_t state = 0x9e3779b97f4a7c15ull;
    auto uniform = [&](double a, double b) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return a + (b - a) * static_cast<double>(state >> 11) * 0x1.0p-53;
    };
    const double omega = two_pi;
    for (int stack = 0; stack < 12; ++stack) {
        Layers layers;
        const int count = 3 + stack % 6;
        for (int j = 0; j < count; ++j) layers.push_back({uniform(1.0, 2.5), uniform(0.05, 0.8)});
        const double lo = lower_edge(layers, omega), hi = upper_edge(layers, omega);
        if (!(hi > lo)) continue;
        for (const Polarization pol : {TE, TM}) {
            const int samples = 20000;
            std::vector<double> f(samples + 1);
            for (int i = 0; i <= samples; ++i)
                f[static_cast<std::size_t>(i)] =
                    shooting_mismatch(layers, omega, lo + (hi - lo) * i / samples, pol);
            std::size_t above = 0;  // sign changes above sample i
            for (int i = samples; i >= 0; --i) {
                const auto k = static_cast<std::size_t>(i);
                if (i < samples && ((f[k] < 0) != (f[k + 1] < 0))) ++above;
                if (i == 0) continue;  // the lower edge: the field's own limit
                const double beta = lo + (hi - lo) * i / samples;
                ASSERT_EQ(count_modes_above(layers, omega, beta, pol), above)
                    << "stack " << stack << " pol " << static_cast<int>(pol) << " beta " << beta;
            }
            EXPECT_EQ(count_modes_above(layers, omega, lo, pol), above) << "stack " << stack;
        }
    }
}

// A barrier so thick that e^(kappa d) overflows many times over: two identical
// cores far apart guide exactly twice the modes of one, at every beta, and a
// thick barrier before a denser half-space leaves the single core's count.
TEST(CountModesAbove, ExactThroughVeryThickBarriers) {
    const double omega = two_pi;
    const Layers single{{1.0, 0.0}, {1.5, 1.0}, {1.0, 0.0}};
    for (const double barrier : {1e4, 1e8, 1e300}) {
        const Layers pair{{1.0, 0.0}, {1.5, 1.0}, {1.0, barrier}, {1.5, 1.0}, {1.0, 0.0}};
        const Layers buffered{{1.0, 0.0}, {1.5, 1.0}, {1.0, barrier}, {1.2, 0.0}};
        for (const Polarization pol : {TE, TM}) {
            ASSERT_EQ(count_modes_above(pair, omega, omega, pol), 6u);
            for (int i = 0; i <= 1000; ++i) {
                const double beta = omega * (1.0 + 0.5 * i / 1000.0);
                const std::size_t one = count_modes_above(single, omega, beta, pol);
                EXPECT_EQ(count_modes_above(pair, omega, beta, pol), 2 * one) << beta;
                if (beta > 1.2 * omega) {
                    EXPECT_EQ(count_modes_above(buffered, omega, beta, pol), one) << beta;
                }
            }
        }
    }
}

// beta exactly at n omega of some layer (k = 0 or kappa = 0 there) is the
// limit of its neighbours, not a failure.
TEST(CountModesAbove, FlatLayersAreLimits) {
    const double omega = two_pi;
    const Layers stack{{1.0, 0.0}, {1.5, 1.0}, {1.3, 0.7}, {1.5, 0.4}, {1.1, 0.0}};
    for (const Polarization pol : {TE, TM}) {
        for (const double n : {1.3, 1.1, 1.0}) {
            const double beta = n * omega;
            const std::size_t at = count_modes_above(stack, omega, beta, pol);
            EXPECT_EQ(at, count_modes_above(stack, omega, std::nextafter(beta, inf), pol)) << n;
            EXPECT_EQ(at, count_modes_above(stack, omega, beta * (1 + 1e-12), pol)) << n;
            if (n > 1.1) {
                EXPECT_EQ(at, count_modes_above(stack, omega, beta * (1 - 1e-12), pol)) << n;
            }
        }
        EXPECT_GE(count_modes_above(stack, omega, 1.3 * omega, pol), 1u);
        EXPECT_EQ(count_modes_above(stack, omega, 1.5 * omega, pol), 0u);
    }
}

TEST(CountModesAbove, UnwalkableInputCountsNothing) {
    const double omega = two_pi;
    const std::vector<Layers> stacks{
        {},
        {{1.5, 1.0}},
        {{1.0, 0.0}, {nan, 1.0}, {1.0, 0.0}},
        {{1.0, 0.0}, {1.5, inf}, {1.0, 0.0}},
        {{1.0, 0.0}, {1.5, -1.0}, {1.0, 0.0}},
        {{1.0, 0.0}, {1.5, nan}, {1.0, 0.0}},
        {{1.0, 0.0}, {0.0, 1.0}, {1.0, 0.0}},
        {{1.0, 0.0}, {-1.5, 1.0}, {1.0, 0.0}},
        {{inf, 0.0}, {1.5, 1.0}, {1.0, 0.0}},
        {{1.0, 0.0}, {1e300, 1.0}, {1.0, 0.0}},
    };
    for (const Layers& s : stacks)
        for (const Polarization pol : {TE, TM}) EXPECT_EQ(count_modes_above(s, omega, 7.0, pol), 0u);
    for (const double w : {0.0, -1.0, nan, inf})
        EXPECT_EQ(count_modes_above(symmetric_slab, w, 7.0, TE), 0u) << w;
    EXPECT_EQ(count_modes_above(symmetric_slab, omega, nan, TE), 0u);
    EXPECT_EQ(count_modes_above(symmetric_slab, omega, inf, TE), 0u);
    // A core so thick that its half-turns no longer fit a double's integers.
    const Layers huge{{1.0, 0.0}, {1.5, 1e300}, {1.0, 0.0}};
    EXPECT_EQ(count_modes_above(huge, omega, 7.0, TE), std::numeric_limits<std::size_t>::max());
}

// ---------------------------------------------------------------------------
// The completed list

TEST(CompleteModeList, FindsTheModeOfACoreOnABuffer) {
    const double omega = two_pi;
    const auto te = complete_mode_list(core_on_buffer, omega, TE, {});
    const auto tm = complete_mode_list(core_on_buffer, omega, TM, {});
    ASSERT_EQ(te.size(), 1u);
    ASSERT_EQ(tm.size(), 1u);
    EXPECT_NEAR(te[0] / omega, 1.712000865, 1e-9);
    EXPECT_NEAR(tm[0] / omega, 1.575835493, 1e-9);
    expect_each_solves_dispersion(core_on_buffer, omega, TE, te);
    expect_each_solves_dispersion(core_on_buffer, omega, TM, tm);
}

// Two cores 4 apart: each polarization has two pairs, the upper pair split by
// about 1e-9 or less. Each of the four modes is found, against the even and odd
// modes of the mirror-symmetric stack.
TEST(CompleteModeList, FindsBothModesOfEachCoupledPair) {
    const double omega = two_pi;
    const Layers half{{1.0, 0.0}, {1.5, 0.5}, {1.0, 2.0}};
    for (const Polarization pol : {TE, TM}) {
        const auto betas = complete_mode_list(two_cores, omega, pol, {});
        const auto exact = symmetric_stack_modes(half, omega, pol, omega, 1.5 * omega);
        ASSERT_EQ(exact.size(), 4u);
        ASSERT_EQ(betas.size(), 4u);
        EXPECT_LT(exact[0] - exact[1], 2e-9);
        for (std::size_t m = 0; m < 4; ++m) EXPECT_NEAR(betas[m], exact[m], 1e-9) << m;
        // The upper pair lies closer than the refinement's tolerance: each
        // mode still gets a value of its own.
        EXPECT_GT(betas[0], betas[1]);
        // A single search value near the pair cannot tell which mode it is:
        // both come out distinct.
        const std::vector<double> one{exact[0]};
        const auto completed = complete_mode_list(two_cores, omega, pol, one);
        ASSERT_EQ(completed.size(), 4u);
        EXPECT_GT(completed[0], completed[1]);
    }
}

// The stack's own transfer matrix agrees: T22 at each returned beta is tiny
// next to its values a little way off.
TEST(CompleteModeList, ReturnedModesZeroTheTransferMatrix) {
    const double omega = two_pi;
    for (const Layers* layers : {&core_on_buffer, &two_cores, &symmetric_slab, &asymmetric_slab}) {
        for (const Polarization pol : {TE, TM}) {
            const auto betas = complete_mode_list(*layers, omega, pol, {});
            ASSERT_FALSE(betas.empty());
            for (const double beta : betas) {
                auto t22 = [&](double b) {
                    return tavrik::abs(tavrik::calculate_t_matrix(*layers, omega, b, pol).m22);
                };
                const double around = std::min(t22(beta - 1e-4), t22(beta + 1e-4));
                EXPECT_LT(t22(beta), 1e-3 * around) << beta / omega;
            }
        }
    }
}

TEST(CompleteModeList, MatchesTheKnownSlabModes) {
    const double omega = two_pi;
    const std::vector<double> te = {1.4491167149, 1.2923307200, 1.0393548948};
    const std::vector<double> tm = {1.4339748985, 1.2372678018, 1.0141148223};
    const auto got_te = neffs(complete_mode_list(symmetric_slab, omega, TE, {}), omega);
    const auto got_tm = neffs(complete_mode_list(symmetric_slab, omega, TM, {}), omega);
    ASSERT_EQ(got_te.size(), 3u);
    ASSERT_EQ(got_tm.size(), 3u);
    for (std::size_t m = 0; m < 3; ++m) {
        EXPECT_NEAR(got_te[m], te[m], 3e-10);
        EXPECT_NEAR(got_tm[m], tm[m], 3e-10);
    }
    const auto asym = neffs(complete_mode_list(asymmetric_slab, omega, TE, {}), omega);
    ASSERT_EQ(asym.size(), 2u);
    EXPECT_NEAR(asym[0], 1.8740348969, 3e-10);
    EXPECT_NEAR(asym[1], 1.5040203128, 3e-10);
}

// Many layers, a thick multimode guide whose first modes crowd n_max omega, and
// a slab just above a cut-off: all modes, each a root of the dispersion.
TEST(CompleteModeList, CompletesHardStacks) {
    const double omega = two_pi;
    Layers bragg{{1.0, 0.0}};
    for (int j = 0; j < 9; ++j) {
        bragg.push_back({2.0, 0.3});
        bragg.push_back({1.4, 0.5});
    }
    bragg.push_back({1.0, 0.0});
    const Layers thick{{1.0, 0.0}, {1.5, 50.0}, {1.0, 0.0}};
    // x = k0 d NA / pi = 3 + 1e-3: the fourth mode has just left cut-off.
    const double d = 3.001 * pi / (omega * std::sqrt(1.5 * 1.5 - 1.0));
    const Layers near_cut_off{{1.0, 0.0}, {1.5, d}, {1.0, 0.0}};
    struct Case {
        const Layers* layers;
        std::size_t modes;  // from the cut-offs where they are known
    };
    for (const Case c : {Case{&bragg, 0}, Case{&thick, 112}, Case{&near_cut_off, 4}}) {
        for (const Polarization pol : {TE, TM}) {
            const auto betas = complete_mode_list(*c.layers, omega, pol, {});
            const double lo = lower_edge(*c.layers, omega), hi = upper_edge(*c.layers, omega);
            if (c.modes != 0) {
                EXPECT_EQ(betas.size(), c.modes);
            }
            EXPECT_EQ(betas.size(), count_modes_above(*c.layers, omega, lo, pol));
            EXPECT_EQ(betas.size(), sign_changes(*c.layers, omega, pol, lo, hi, 200000));
            EXPECT_TRUE(std::is_sorted(betas.rbegin(), betas.rend()));
            for (const double b : betas) {
                EXPECT_GT(b, lo);
                EXPECT_LT(b, hi);
            }
            expect_each_solves_dispersion(*c.layers, omega, pol, betas);
        }
    }
}

// When the search already found every mode its values come back bit for bit,
// whatever order they came in.
TEST(CompleteModeList, KeepsACompleteSearchListBitForBit) {
    const double omega = two_pi;
    for (const Layers* layers : {&symmetric_slab, &two_cores, &core_on_buffer}) {
        for (const Polarization pol : {TE, TM}) {
            const auto modes = complete_mode_list(*layers, omega, pol, {});
            ASSERT_FALSE(modes.empty());
            // Search-like values: off the refined ones by less than a step,
            // given in ascending order.
            std::vector<double> search;
            for (std::size_t m = 0; m < modes.size(); ++m)
                search.push_back(modes[m] + (m % 2 ? 0.6e-9 : -0.4e-9));
            std::reverse(search.begin(), search.end());
            std::vector<double> expected = search;
            std::sort(expected.begin(), expected.end(), std::greater<>());
            EXPECT_TRUE(same_bits(complete_mode_list(*layers, omega, pol, search), expected));
        }
    }
    // Where beta is so large that doubles are coarser than 1e-9, the search's
    // exact values are still recognised.
    const double big = two_pi * 1e8;
    const Layers scaled{{1.0, 0.0}, {1.5, 1e-8}, {1.0, 0.0}};
    const auto modes = complete_mode_list(scaled, big, TE, {});
    ASSERT_EQ(modes.size(), 3u);
    EXPECT_NEAR(modes[1] / big, 1.2923307200, 1e-9);
    EXPECT_TRUE(same_bits(complete_mode_list(scaled, big, TE, modes), modes));
}

// A value near no mode is dropped, a second value for a mode is dropped, and a
// mode the search missed is added beside the kept values.
TEST(CompleteModeList, DropsSpuriousAndRepeatedValues) {
    const double omega = two_pi;
    const auto modes = complete_mode_list(symmetric_slab, omega, TE, {});
    ASSERT_EQ(modes.size(), 3u);
    const double kept = modes[1] + 0.3e-9;
    const double again = modes[1] - 1.2e-9;  // the same mode, a step lower
    const double spurious = 0.5 * (modes[0] + modes[1]);
    const std::vector<double> search{spurious, kept,    kept,       again,
                                     modes[2], 9.9 * omega, 0.5 * omega, nan};
    const auto got = complete_mode_list(symmetric_slab, omega, TE, search);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_NEAR(got[0], modes[0], 2e-9);  // the missed mode, found afresh
    EXPECT_EQ(std::memcmp(&got[1], &kept, sizeof kept), 0);
    EXPECT_EQ(std::memcmp(&got[2], &modes[2], sizeof(double)), 0);
    EXPECT_TRUE(complete_mode_list(symmetric_slab, omega, TE, std::vector<double>{spurious})
                    .size() == 3u);
    // A stack that guides nothing drops every value.
    // A film below the cut-off of its first mode guides nothing and drops every value.
    const Layers none{{1.0, 0.0}, {1.5, 0.01}, {1.45, 0.0}};
    ASSERT_EQ(count_modes_above(none, omega, 1.45 * omega, TE), 0u);
    EXPECT_TRUE(complete_mode_list(none, omega, TE, std::vector<double>{1.47 * omega}).empty());
}

// Where the count cannot be certified the search values come back sorted.
TEST(CompleteModeList, ReturnsTheSearchListWhereNothingIsCertified) {
    const double omega = two_pi;
    const std::vector<double> search{7.0, 9.0, 8.0, 9.0};
    const std::vector<double> expected{9.0, 9.0, 8.0, 7.0};
    const std::vector<Layers> stacks{
        {},
        {{1.5, 1.0}},
        {{1.0, 0.0}, {nan, 1.0}, {1.0, 0.0}},
        {{1.0, 0.0}, {1.5, inf}, {1.0, 0.0}},
        {{1.0, 0.0}, {1.5, -0.5}, {1.0, 0.0}},
        {{1.0, 0.0}, {0.0, 1.0}, {1.0, 0.0}},
        {{1.0, 0.0}, {1e300, 1.0}, {1.0, 0.0}},
        {{1.0, 0.0}, {5e-324, 1.0}, {1.0, 0.0}},
        {{1.0, 0.0}, {1.5, 1e300}, {1.0, 0.0}},  // uncountably many turns
        {{1.0, 0.0}, {1.5, 1e9}, {1.0, 0.0}},    // about 2e9 modes
        {{1.5, 0.0}, {1.5, 1.0}, {1.5, 0.0}},    // no room
        {{1.0, 0.0}, {1.5, 1.0}, {2.0, 0.0}},    // the half-space is densest
    };
    for (const Layers& s : stacks)
        for (const Polarization pol : {TE, TM})
            EXPECT_TRUE(same_bits(complete_mode_list(s, omega, pol, search), expected));
    for (const double w : {0.0, -two_pi, nan, inf, 1e300})
        EXPECT_TRUE(same_bits(complete_mode_list(symmetric_slab, w, TE, search), expected)) << w;
}

// Subnormal and huge but finite numbers that still describe a stack.
TEST(CompleteModeList, CopesWithExtremeButFiniteStacks) {
    const double omega = two_pi;
    const Layers subnormal_film{{1.0, 0.0}, {1.5, 1.0}, {1.2, 5e-324}, {1.0, 0.0}};
    EXPECT_EQ(complete_mode_list(subnormal_film, omega, TE, {}).size(), 3u);
    const Layers far_apart{{1.0, 0.0}, {1.5, 1.0}, {1.0, 1e300}, {1.5, 1.0}, {1.0, 0.0}};
    const auto pairs = complete_mode_list(far_apart, omega, TM, {});
    ASSERT_EQ(pairs.size(), 6u);
    const auto single = complete_mode_list(symmetric_slab, omega, TM, {});
    for (std::size_t m = 0; m < 6; ++m) EXPECT_NEAR(pairs[m], single[m / 2], 2e-9);
}

struct Polls {
    int calls = 0;
    int cancel_after = -1;
};

bool poll(void* context) {
    auto* p = static_cast<Polls*>(context);
    ++p->calls;
    return p->cancel_after >= 0 && p->calls > p->cancel_after;
}

TEST(CompleteModeList, PollsAndHonoursCancellation) {
    const double omega = two_pi;
    const Layers thick{{1.0, 0.0}, {1.5, 50.0}, {1.0, 0.0}};
    Polls quiet;
    EXPECT_EQ(complete_mode_list(thick, omega, TE, {}, tavrik::CancelCheck{poll, &quiet}).size(),
              112u);
    EXPECT_GT(quiet.calls, 10);
    Polls stop{0, 3};
    EXPECT_THROW(complete_mode_list(thick, omega, TE, {}, tavrik::CancelCheck{poll, &stop}),
                 tavrik::Cancelled);
    EXPECT_EQ(stop.calls, 4);
}

}  // namespace

// The slope carried through the walk is the derivative of its plain mismatch
// (negative, by the Sturm comparison theorem): central
// differences of the mismatch on random stacks (thin, thick oscillating and
// thick evanescent layers, TE and TM), away from the lower edge's branch point.
TEST(PruferWalk, SlopeIsTheDerivativeOfTheMismatch) {
    int checked = 0;
    for (const auto& s : tavrik::testdata::random_stacks(300, 7)) {
        const double lo = lower_edge(s.layers, s.omega), hi = upper_edge(s.layers, s.omega);
        if (!(hi > 1.02 * lo)) continue;
        for (const Polarization pol : {TE, TM}) {
            for (const double at : {0.03, 0.3, 0.6, 0.97}) {
                const double beta = lo + at * (hi - lo), h = 1e-6 * (hi - lo);
                const auto walk = tavrik::detail::prufer_walk(s.layers, s.omega, beta, pol, true);
                const auto plain = [&](double b) {
                    const auto w = tavrik::detail::prufer_walk(s.layers, s.omega, b, pol);
                    return tavrik::detail::mismatch(w.half_turns, w.plain_rest(), 0);
                };
                // Central differences at h and h/2, extrapolated (error h^4).
                const double wide = (plain(beta + h) - plain(beta - h)) / (2.0 * h);
                const double narrow = (plain(beta + 0.5 * h) - plain(beta - 0.5 * h)) / h;
                const double difference = (4.0 * narrow - wide) / 3.0;
                EXPECT_LT(walk.slope, 0.0) << beta;
                EXPECT_NEAR(walk.slope, difference, 1e-5 * std::fabs(difference)) << beta;
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 1000);
    // The count-only walk does not carry it.
    const Layers slab{{1.0, 0.0}, {1.5, 1.0}, {1.0, 0.0}};
    EXPECT_TRUE(std::isnan(tavrik::detail::prufer_walk(slab, two_pi, 8.0, TE).slope));
}
