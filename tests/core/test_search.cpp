#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "fault.hpp"
#include "multilayer.hpp"
#include "numeric.hpp"
#include "peak_finder.hpp"
#include "scattering_matrix.hpp"
#include "search.hpp"
#include "support.hpp"
#include "transfer_matrix.hpp"

namespace tavrik {
namespace {

constexpr double two_pi = 2.0 * std::numbers::pi;

using testdata::fault_of;
using testdata::stack;

std::string message_of(const NeffResult& r) {
    return std::holds_alternative<std::string>(r) ? std::get<std::string>(r) : "(a value)";
}

// ---------------------------------------------------------------------------
// The pass loop on a synthetic characteristic value with known poles.

// v = -sum log10|beta - r_j| plus a ripple whose maxima pass the early,
// low thresholds and must be dropped once the threshold rises.
struct SyntheticCurve {
    std::vector<double> poles;
    double operator()(double beta) const {
        double v = 0.05 * std::sin(100.0 * beta);
        for (double r : poles) v -= std::log10(std::fabs(beta - r));
        return v;
    }
};

// The search as written, materialising the samples and values of every
// window and running the batch finder over them. The found order is free, so
// both lists are compared in ascending order.
template <class F>
std::vector<double> materialised_search(const MultiLayer& m, double omega, const F& v) {
    double n_min = m.layers.at(0).n, n_max = m.layers.at(0).n;
    for (const Layer& l : m.layers) {
        if (l.n < n_min) n_min = l.n;
        if (l.n > n_max) n_max = l.n;
    }
    std::vector<std::pair<double, double>> intervals{{n_min * omega + 1e-9, n_max * omega - 1e-9}};
    std::vector<double> found;
    for (int i = 2; i < m.scan_limit; ++i) {
        double p = 1.0;
        for (int k = 0; k < i; ++k) p *= 10.0;
        const double step = 1.0 / p;
        const double h = i < 3 ? -2.0 : i < 6 ? 0.0 : i < 9 ? 3.0 : i < 12 ? 6.0 : 9.0;
        found.clear();
        for (const auto& [lo, hi] : intervals) {
            const std::vector<double> xs = arange(lo, hi, step);
            std::vector<double> ys;
            for (double x : xs) ys.push_back(v(x));
            PeakFinder finder(ys);
            finder.set_min_height(h);
            for (const Peak& peak : finder.find_peaks()) found.push_back(xs[peak.middle_position()]);
        }
        intervals.clear();
        for (double b : found) intervals.emplace_back(b - step, b + step);
    }
    std::sort(found.begin(), found.end());
    return found;
}

TEST(SearchPasses, StreamingEqualsTheMaterialisedSearchAndFindsThePoles) {
    // omega = 1, indices 1.0 .. 3.0: beta runs over (1 + 1e-9, 3 - 1e-9). The
    // pole at 1.004 lies next to the first sample and is lost, as the scan
    // never reports a maximum on a window's first sample.
    const SyntheticCurve curve{{1.004, 1.2345678912, 1.5, 2.0100000003, 2.75}};
    const MultiLayer m = stack({{1.0, 0.0}, {3.0, 1.0}, {2.0, 0.0}});
    std::size_t calls = 0;
    const auto counted = [&](double beta) {
        ++calls;
        return curve(beta);
    };
    std::vector<double> sorted = detail::search_passes(m, 1.0, counted, {});
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, materialised_search(m, 1.0, curve));

    ASSERT_EQ(sorted.size(), 4u);
    for (std::size_t k = 0; k < 4; ++k) EXPECT_NEAR(sorted[k], curve.poles[k + 1], 1e-9);
    // The first pass costs 200 evaluations; the ripple's maxima cost their
    // windows until the threshold drops them, after which each pole costs
    // about 20 evaluations per pass.
    EXPECT_GT(calls, 200u + 7u * 4u * 19u);
    EXPECT_LT(calls, 200u + 7u * 40u * 21u);
}

TEST(SearchPasses, EmptyRangesCallNoCharacteristic) {
    std::size_t calls = 0;
    const auto counted = [&](double) {
        ++calls;
        return 0.0;
    };
    // One layer, equal indices (hi = lo - 2e-9), omega = 0 (lo = 1e-9, hi = -1e-9),
    // a negative omega over less than a step, and no pass at all.
    MultiLayer no_passes = stack({{1.0, 0.0}, {3.0, 1.0}, {1.0, 0.0}});
    no_passes.scan_limit = 2;
    const std::vector<std::pair<MultiLayer, double>> cases{
        {stack({{1.5, 1.0}}), two_pi},
        {stack({{1.5, 0.0}, {1.5, 1.0}, {1.5, 0.0}}), two_pi},
        {stack({{1.0, 0.0}, {1.5, 1.0}, {1.0, 0.0}}), 0.0},
        {stack({{1.0, 0.0}, {1.001, 1.0}, {1.0, 0.0}}), -1.0},
        {no_passes, two_pi},
    };
    for (const auto& [m, omega] : cases) {
        EXPECT_TRUE(detail::search_passes(m, omega, counted, {}).empty());
    }
    EXPECT_EQ(calls, 0u);
}

struct PollCounter {
    std::size_t polls = 0;
    std::size_t cancel_at = 0;  // 0: never cancel
    static bool poll(void* self) {
        auto* c = static_cast<PollCounter*>(self);
        ++c->polls;
        return c->cancel_at != 0 && c->polls >= c->cancel_at;
    }
    CancelCheck check() { return CancelCheck{&PollCounter::poll, this}; }
};

TEST(SearchPasses, CancellationIsPolledEvery4096Evaluations) {
    const SyntheticCurve curve{{10.5, 30.25}};
    const MultiLayer m = stack({{1.0, 0.0}, {500.0, 1.0}, {1.0, 0.0}});  // ~49900 first-pass samples
    std::size_t calls = 0;
    const auto counted = [&](double beta) {
        ++calls;
        return curve(beta);
    };
    PollCounter counter{0, 3};
    EXPECT_THROW(detail::search_passes(m, 1.0, counted, counter.check()), Cancelled);
    // Polled before evaluations 0, 4096 and 8192; the third poll cancels.
    EXPECT_EQ(counter.polls, 3u);
    EXPECT_EQ(calls, 2u * detail::cancel_poll_interval);
}

// ---------------------------------------------------------------------------
// The search over real stacks: worked examples, both backends.

struct Worked {
    std::string name;
    std::vector<Layer> layers;
    Polarization polarization;
    std::vector<double> neffs;  // descending, to the digits given
    std::string beyond;         // the message for the first mode past the end
};

class WorkedExample : public ::testing::TestWithParam<std::pair<Worked, BackEnd>> {};

TEST_P(WorkedExample, GivesTheModesToTheDigitsGiven) {
    const auto& [w, backend] = GetParam();
    const MultiLayer m = stack(w.layers, backend);
    const std::vector<double> modes = mode_list(m, two_pi, w.polarization, {});
    ASSERT_EQ(modes.size(), w.neffs.size());
    for (std::size_t k = 0; k < modes.size(); ++k) {
        EXPECT_NEAR(modes[k], w.neffs[k], 0.5e-10) << "mode " << k;
        const NeffResult r = neff(m, two_pi, w.polarization, static_cast<std::uint32_t>(k));
        ASSERT_TRUE(std::holds_alternative<double>(r));
        EXPECT_EQ(std::get<double>(r), modes[k]);
    }
    EXPECT_EQ(message_of(neff(m, two_pi, w.polarization, static_cast<std::uint32_t>(modes.size()))),
              w.beyond);
}

const Worked symmetric_te{"symmetric_te",
                          {{1.0, 0.0}, {1.5, 1.0}, {1.0, 0.0}},
                          Polarization::TE,
                          {1.4491167149, 1.2923307200, 1.0393548948},
                          "Mode 3 not found. Only 3 modes (0->2) available."};
const Worked symmetric_tm{"symmetric_tm",
                          {{1.0, 0.0}, {1.5, 1.0}, {1.0, 0.0}},
                          Polarization::TM,
                          {1.4339748985, 1.2372678018, 1.0141148223},
                          "Mode 3 not found. Only 3 modes (0->2) available."};
const Worked asymmetric_te{"asymmetric_te",
                           {{1.0, 0.0}, {2.0, 0.5}, {1.45, 0.0}},
                           Polarization::TE,
                           {1.8740348969, 1.5040203128},
                           "Mode 2 not found. Only 2 modes (0->1) available."};

INSTANTIATE_TEST_SUITE_P(
    Slabs, WorkedExample,
    ::testing::Values(std::pair{symmetric_te, BackEnd::Transfer}, std::pair{symmetric_te, BackEnd::Scattering},
                      std::pair{symmetric_tm, BackEnd::Transfer}, std::pair{symmetric_tm, BackEnd::Scattering},
                      std::pair{asymmetric_te, BackEnd::Transfer},
                      std::pair{asymmetric_te, BackEnd::Scattering}),
    [](const auto& p) {
        return p.param.first.name +
               (p.param.second == BackEnd::Transfer ? "_transfer" : "_scattering");
    });

// The three-layer slab's dispersion relation: with kappa in the film and
// gamma_c, gamma_s the decay constants of cover (layer 0) and substrate,
//   phi(beta) = kappa d - atan(r_c gamma_c / kappa) - atan(r_s gamma_s / kappa),
// r = 1 for TE and n_f^2 / n^2 for TM, falls from phi(beta_cut) at
// beta_cut = max(n_c, n_s) omega to -pi at n_f omega; mode m has phi = m pi.
struct Slab {
    double n_c, n_f, d, n_s, omega;
    double phi(double beta, Polarization p) const {
        const double kappa = std::sqrt((n_f * omega) * (n_f * omega) - beta * beta);
        const double gc = std::sqrt(std::max(0.0, beta * beta - (n_c * omega) * (n_c * omega)));
        const double gs = std::sqrt(std::max(0.0, beta * beta - (n_s * omega) * (n_s * omega)));
        const double rc = p == Polarization::TE ? 1.0 : (n_f * n_f) / (n_c * n_c);
        const double rs = p == Polarization::TE ? 1.0 : (n_f * n_f) / (n_s * n_s);
        return kappa * d - std::atan(rc * gc / kappa) - std::atan(rs * gs / kappa);
    }
    // The propagation constants of every guided mode, descending.
    std::vector<double> mode_betas(Polarization p) const {
        const double lo = std::max(n_c, n_s) * omega, hi = n_f * omega;
        std::vector<double> betas;
        for (int m = 0; m * std::numbers::pi < phi(lo, p); ++m) {
            double a = lo, b = hi;  // phi(a) > m pi > phi(b)
            for (int it = 0; it < 200 && b - a > 0.0; ++it) {
                const double c = 0.5 * (a + b);
                if (c == a || c == b) break;
                (phi(c, p) > m * std::numbers::pi ? a : b) = c;
            }
            betas.push_back(0.5 * (a + b));
        }
        return betas;
    }
};

TEST(Search, RandomSlabsSatisfyTheDispersionRelation) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> clad(1.0, 1.7), contrast(0.05, 1.5), thick(0.2, 3.0),
        freq(1.0, 10.0);
    std::size_t modes_checked = 0, slabs_counted = 0;
    for (int trial = 0; trial < 40; ++trial) {
        const double n_c = clad(rng), n_s = clad(rng);
        const Slab slab{n_c, std::max(n_c, n_s) + contrast(rng), thick(rng), n_s, freq(rng)};
        for (Polarization p : {Polarization::TE, Polarization::TM}) {
            for (BackEnd backend : {BackEnd::Transfer, BackEnd::Scattering}) {
                const MultiLayer m = stack({{slab.n_c, 0.0}, {slab.n_f, slab.d}, {slab.n_s, 0.0}}, backend);
                const std::vector<double> found = mode_list(m, slab.omega, p, {});
                const std::vector<double> exact = slab.mode_betas(p);
                // Every value found is a mode, to the last pass's resolution.
                for (double neff_found : found) {
                    double nearest = INFINITY;
                    for (double b : exact) nearest = std::min(nearest, std::fabs(neff_found * slab.omega - b));
                    EXPECT_LE(nearest, 2e-9) << "trial " << trial << " neff " << neff_found;
                    ++modes_checked;
                }
                // And every mode is found, except those the scan loses: within two
                // first-pass steps of an end of the range, or just above cut-off.
                const double lo = std::min(slab.n_c, slab.n_s) * slab.omega;
                const double cut = std::max(slab.n_c, slab.n_s) * slab.omega;
                const double hi = slab.n_f * slab.omega;
                bool lossy = false;
                for (double b : exact) lossy = lossy || b - lo < 0.02 || hi - b < 0.02 || b - cut < 0.02;
                if (lossy) continue;
                EXPECT_EQ(found.size(), exact.size()) << "trial " << trial;
                ++slabs_counted;
            }
        }
    }
    EXPECT_GT(modes_checked, 200u);
    EXPECT_GT(slabs_counted, 60u);
}

TEST(Search, AnyNonZeroBackendByteSelectsTheTransferMatrix) {
    const std::vector<Layer> slab{{1.0, 0.0}, {1.5, 1.0}, {1.0, 0.0}};
    const std::vector<double> transfer = search_betas(stack(slab, BackEnd::Transfer), two_pi, Polarization::TE, {});
    const std::vector<double> odd = search_betas(stack(slab, static_cast<BackEnd>(7)), two_pi, Polarization::TE, {});
    EXPECT_EQ(odd, transfer);
    ASSERT_EQ(transfer.size(), 3u);
}

TEST(Search, StreamingEqualsTheMaterialisedSearchOnAMultilayer) {
    // Twelve layers with evanescent 1.44 films between 3.5 films: many peaks
    // of very different heights, some rejected by the thresholds.
    std::vector<Layer> layers{{1.0, 0.0}};
    for (int k = 0; k < 10; ++k) layers.push_back(k % 2 == 0 ? Layer{3.5, 0.2} : Layer{1.44, 0.3});
    layers.push_back({1.44, 0.0});
    for (Polarization p : {Polarization::TE, Polarization::TM}) {
        const MultiLayer t = stack(layers, BackEnd::Transfer);
        const MultiLayer s = stack(layers, BackEnd::Scattering);
        const auto v_t = [&](double beta) {
            return transfer_characteristic(calculate_t_matrix(layers, two_pi, beta, p));
        };
        const auto v_s = [&](double beta) {
            return scattering_characteristic(calculate_s_matrix(layers, two_pi, beta, p));
        };
        std::vector<double> found_t = search_betas(t, two_pi, p, {});
        std::vector<double> found_s = search_betas(s, two_pi, p, {});
        std::sort(found_t.begin(), found_t.end());
        std::sort(found_s.begin(), found_s.end());
        EXPECT_EQ(found_t, materialised_search(t, two_pi, v_t));
        EXPECT_EQ(found_s, materialised_search(s, two_pi, v_s));
        EXPECT_GE(found_t.size(), 3u);
        EXPECT_GE(found_s.size(), 3u);
    }
}

TEST(Search, ModesAreInDescendingOrderWhateverTheFoundOrder) {
    // The found list comes window by window; the modes come sorted.
    const MultiLayer m = stack({{1.0, 0.0}, {1.5, 1.0}, {1.0, 0.0}});
    std::vector<double> betas = search_betas(m, two_pi, Polarization::TE, {});
    const std::vector<double> modes = mode_list(m, two_pi, Polarization::TE, {});
    ASSERT_EQ(betas.size(), modes.size());
    std::sort(betas.begin(), betas.end(), std::greater<double>{});
    for (std::size_t k = 0; k < modes.size(); ++k) EXPECT_EQ(modes[k], betas[k] / two_pi);
}

TEST(Search, NoModeGivesTheCountZeroMessage) {
    // A single layer and a stack of one index have an empty range: no sample,
    // so no matrix call (one layer would fault in the matrix method on index 1).
    for (const MultiLayer& m : {stack({{1.5, 1.0}}), stack({{1.5, 0.0}, {1.5, 1.0}, {1.5, 0.0}}),
                                stack({{1.5, 1.0}}, BackEnd::Scattering)}) {
        EXPECT_EQ(message_of(neff(m, two_pi, Polarization::TE, 0)), "Mode 0 not found. Only 0 modes available.");
        EXPECT_EQ(message_of(neff(m, two_pi, Polarization::TM, 5)), "Mode 5 not found. Only 0 modes available.");
    }
    const MultiLayer slab = stack({{1.0, 0.0}, {1.5, 1.0}, {1.0, 0.0}});
    EXPECT_EQ(message_of(neff(slab, 0.0, Polarization::TE, 0)), "Mode 0 not found. Only 0 modes available.");
}

TEST(Search, MessageCountsAreUnsignedDecimals) {
    EXPECT_EQ(mode_not_found_message(4294967295u, 1), "Mode 4294967295 not found. Only 1 modes (0->0) available.");
}

TEST(Search, ImpossibleRangesFault) {
    const MultiLayer slab = stack({{1.0, 0.0}, {1.5, 1.0}, {1.0, 0.0}});
    const auto neff_fault = [](const MultiLayer& m, double omega) {
        return fault_of([&] { neff(m, omega, Polarization::TE, 0); });
    };
    EXPECT_EQ(neff_fault(stack({}), two_pi), "index out of bounds: the len is 0 but the index is 0");
    EXPECT_EQ(neff_fault(slab, -two_pi), unwrap_message);  // span 0.5 * 2 pi: the count is negative
    EXPECT_EQ(neff_fault(slab, std::nan("")), unwrap_message);
    EXPECT_EQ(neff_fault(slab, INFINITY), unwrap_message);
    EXPECT_EQ(neff_fault(stack({{1.0, 0.0}, {1.5, 1.0}, {1.0, 0.0}}, BackEnd::Scattering), -two_pi),
              unwrap_message);
    // A negative omega over less than a step has no sample and no mode.
    EXPECT_EQ(message_of(neff(stack({{1.0, 0.0}, {1.001, 1.0}, {1.0, 0.0}}), -1.0, Polarization::TE, 0)),
              "Mode 0 not found. Only 0 modes available.");
}

TEST(Search, CancellationThrowsAndAnUncancelledCheckChangesNothing) {
    const MultiLayer m = stack({{1.0, 0.0}, {1.5, 1.0}, {1.0, 0.0}});
    for (BackEnd backend : {BackEnd::Transfer, BackEnd::Scattering}) {
        MultiLayer b = m;
        b.backend = backend;
        PollCounter cancelling{0, 1};
        EXPECT_THROW(neff(b, two_pi, Polarization::TE, 0, cancelling.check()), Cancelled);

        PollCounter quiet{0, 0};
        const std::vector<double> checked = mode_list(b, two_pi, Polarization::TM, quiet.check());
        EXPECT_EQ(checked, mode_list(b, two_pi, Polarization::TM, {}));
        EXPECT_GE(quiet.polls, 1u);
    }
}

}  // namespace
}  // namespace tavrik
