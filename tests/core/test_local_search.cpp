// The local replay (local_neff) against the whole search completed by the
// count (search_passes + complete_search), bit for bit, mode by mode.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <numbers>
#include <random>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "local_search.hpp"
#include "multilayer.hpp"
#include "search.hpp"

namespace tavrik {
namespace {

constexpr double two_pi = 2.0 * std::numbers::pi;
constexpr Polarization TE = Polarization::TE, TM = Polarization::TM;

MultiLayer stack(Layers layers, BackEnd backend = BackEnd::Transfer) {
    MultiLayer m;
    m.layers = std::move(layers);
    m.backend = backend;
    return m;
}

std::string text_of(const NeffResult& r) {
    if (const double* v = std::get_if<double>(&r))
        return "value " + std::to_string(std::bit_cast<std::uint64_t>(*v)) + " (" +
               std::to_string(*v) + ")";
    return std::get<std::string>(r);
}

// Every mode of the stack and the one past the last, from the whole search
// and from the local replay, over the same characteristic value. Returns the
// number of modes compared.
template <class Characteristic>
std::size_t expect_same_modes(const MultiLayer& m, double omega, Polarization pol,
                              Characteristic&& characteristic, const std::string& label) {
    const std::vector<double> whole = complete_search(
        m, omega, pol, detail::search_passes(m, omega, characteristic, {}), {});
    for (std::size_t k = 0; k <= whole.size(); ++k) {
        const auto mode = static_cast<std::uint32_t>(k);
        const NeffResult expected =
            k < whole.size() ? NeffResult{whole[k]} : NeffResult{mode_not_found_message(mode, k)};
        const NeffResult got = detail::local_neff(m, omega, pol, mode, characteristic, {});
        EXPECT_EQ(text_of(got), text_of(expected)) << label << " mode " << k;
        if (text_of(got) != text_of(expected)) return k;
    }
    return whole.size();
}

// The selected backend's own characteristic value, passed through `shape`.
template <class Shape>
std::size_t expect_same(const MultiLayer& m, double omega, Polarization pol, Shape shape,
                        const std::string& label) {
    return with_characteristic(m, omega, pol, [&](auto&& characteristic) {
        return expect_same_modes(
            m, omega, pol, [&](double beta) { return shape(beta, characteristic(beta)); }, label);
    });
}

const auto plain = [](double, double v) { return v; };

const Layers symmetric_slab{{1.0, 0.0}, {1.5, 1.0}, {1.0, 0.0}};
const Layers asymmetric_slab{{1.0, 0.0}, {2.0, 0.5}, {1.45, 0.0}};
const Layers soi{{1.444, 1.0}, {3.476, 0.22}, {1.444, 1.0}};
const Layers two_cores{{1.0, 1.0}, {1.5, 0.5}, {1.0, 4.0}, {1.5, 0.5}, {1.0, 1.0}};
// Cores so far apart that each pair of modes splits far below the claim width,
// and a barrier whose characteristic value overflows to -inf.
const Layers distant_cores{{1.0, 1.0}, {1.5, 0.6}, {1.0, 40.0}, {1.5, 0.6}, {1.0, 1.0}};
const Layers bragg{{1.45, 1.0}, {1.9, 0.25}, {1.6, 0.35}, {1.9, 0.25}, {1.6, 0.35},
                   {1.9, 0.25}, {1.6, 0.35}, {1.9, 0.25}, {1.6, 0.35}, {1.0, 1.0}};

struct Case {
    const Layers* layers;
    double omega;
    const char* name;
};

const Case worked_cases[] = {
    {&symmetric_slab, two_pi, "symmetric slab"},
    {&asymmetric_slab, two_pi, "asymmetric slab"},
    {&soi, two_pi / 1.55, "SOI"},
    {&two_cores, two_pi, "two cores"},
    {&distant_cores, two_pi, "distant cores"},
    {&bragg, two_pi, "Bragg stack"},
    {&symmetric_slab, 200.0, "symmetric slab, omega 200"},
};

TEST(LocalSearch, WorkedStacksAgreeWithTheWholeSearch) {
    for (const Case& c : worked_cases) {
        for (const BackEnd backend : {BackEnd::Transfer, BackEnd::Scattering}) {
            for (const Polarization pol : {TE, TM}) {
                expect_same(stack(*c.layers, backend), c.omega, pol, plain, c.name);
            }
        }
    }
}

// Curves the search must take exactly as they come: plateaus of equal values
// (the value rounded to a coarse grid), NaN samples, -inf stretches, and all
// three together.
TEST(LocalSearch, PlateausNanAndInfinitiesAgree) {
    const auto plateaus = [](double, double v) { return std::round(v * 2.0) / 2.0; };
    const auto nans = [](double beta, double v) {
        return std::fmod(beta, 0.037) < 0.006 ? std::numeric_limits<double>::quiet_NaN() : v;
    };
    const auto minus_inf = [](double beta, double v) {
        return std::fmod(beta, 0.23) < 0.05 ? -std::numeric_limits<double>::infinity() : v;
    };
    const auto flat = [](double beta, double v) {
        return std::fmod(beta, 0.5) < 0.2 ? 1.0 : std::round(v);
    };
    for (const Case& c : worked_cases) {
        const MultiLayer m = stack(*c.layers);
        for (const Polarization pol : {TE, TM}) {
            expect_same(m, c.omega, pol, plateaus, std::string(c.name) + " plateaus");
            expect_same(m, c.omega, pol, nans, std::string(c.name) + " NaN");
            expect_same(m, c.omega, pol, minus_inf, std::string(c.name) + " -inf");
            expect_same(m, c.omega, pol, flat, std::string(c.name) + " flat");
        }
    }
}

// A slab swept through omega moves its modes across both ends of the range,
// within one first-pass step of them.
TEST(LocalSearch, ModesNearTheEndsOfTheRangeAgree) {
    const MultiLayer m = stack(asymmetric_slab);
    for (double omega = 2.0; omega < 14.0; omega += 0.0731) {
        for (const Polarization pol : {TE, TM}) expect_same(m, omega, pol, plain, "sweep");
    }
}

// Random stacks of 1 to 30 layers, both backends, TE and TM: 100 by default,
// as many as TAVRIK_RANDOM_STACKS asks for (thousands take minutes, since the
// whole search is the reference).
TEST(LocalSearch, RandomStacksAgreeWithTheWholeSearch) {
    const char* requested = std::getenv("TAVRIK_RANDOM_STACKS");
    const int count = requested ? std::atoi(requested) : 100;
    std::mt19937_64 rng(20240614);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::size_t modes = 0, stacks = 0;
    for (int s = 0; s < count; ++s) {
        const int size = 1 + static_cast<int>(unit(rng) * 30.0);
        const double n_max = 1.05 + unit(rng) * (size < 8 ? 2.5 : 1.2);
        Layers layers(static_cast<std::size_t>(size));
        for (Layer& l : layers) l = {1.0 + unit(rng) * (n_max - 1.0), unit(rng) * (size < 10 ? 1.2 : 0.4)};
        if (unit(rng) < 0.1 && size > 2) layers[1].d = 30.0;  // a thick barrier or core
        const double omega = 0.5 + unit(rng) * (size < 10 ? 7.5 : 3.5);
        const BackEnd backend = s % 2 ? BackEnd::Scattering : BackEnd::Transfer;
        for (const Polarization pol : {TE, TM}) {
            modes += expect_same(stack(layers, backend), omega, pol, plain,
                                 "random stack " + std::to_string(s));
        }
        ++stacks;
    }
    EXPECT_GT(modes, static_cast<std::size_t>(count));
    RecordProperty("modes", static_cast<int>(modes));
}

// A slab in millimetres takes the evaluations it takes in micrometres: only
// the samples near the mode are evaluated.
TEST(LocalSearch, EvaluationsDoNotGrowWithTheUnit) {
    SearchCounts um, mm;
    const auto solve = [](double unit, SearchCounts& counts) {
        const MultiLayer m = stack({{1.444, 1.0}, {3.476, 0.22 / unit}, {1.444, 1.0}});
        return std::get<double>(search_neff(m, two_pi / 1.55 * unit, TE, 0, {}, &counts));
    };
    EXPECT_NEAR(solve(1.0, um), solve(1000.0, mm), 1e-9);
    EXPECT_FALSE(um.whole_search || mm.whole_search);
    EXPECT_LT(mm.evaluations, 2 * um.evaluations);
    EXPECT_LT(um.evaluations, 400u);
}

}  // namespace
}  // namespace tavrik
