// neff and field with the local replay against the whole search (the search
// of every call before the replay: all of the first pass, every later pass,
// the completion of every mode), side by side in one run, with the
// characteristic-value evaluations of each call.
//
//   cmake -S . -B build/bench -DTAVRIK_BUILD_EXTENSION=OFF -DTAVRIK_BUILD_BENCHMARKS=ON
//   cmake --build build/bench -j 2 --target bench_local_search && build/bench/bench_local_search
//
// Times are medians of repeated calls (the whole search on the slow cases is
// run fewer times); ratios are what the targets are stated in.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <numbers>
#include <string>
#include <variant>
#include <vector>

#include "local_search.hpp"
#include "multilayer.hpp"
#include "search.hpp"

namespace {

using namespace tavrik;
using Clock = std::chrono::steady_clock;
constexpr double two_pi = 2.0 * std::numbers::pi;

template <class F>
double median_seconds(F&& f, int repeats) {
    std::vector<double> t;
    for (int r = 0; r < repeats; ++r) {
        const auto start = Clock::now();
        f();
        t.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

// The whole search and completion, as every neff call ran it before.
double whole_neff(const MultiLayer& m, double omega, std::uint32_t mode, std::size_t& evaluations) {
    evaluations = 0;
    return with_characteristic(m, omega, Polarization::TE, [&](auto&& characteristic) {
        auto counted = [&](double beta) {
            ++evaluations;
            return characteristic(beta);
        };
        const auto betas = detail::search_passes(m, omega, counted, {});
        return complete_search(m, omega, Polarization::TE, betas, {}).at(mode);
    });
}

struct Row {
    std::string name;
    double local_s = 0.0, whole_s = 0.0;
    std::size_t local_evals = 0, whole_evals = 0;
};

Row measure(const std::string& name, const MultiLayer& m, double omega, int repeats, int whole_repeats) {
    Row row{name};
    SearchCounts counts;
    const NeffResult local = search_neff(m, omega, Polarization::TE, 0, {}, &counts);
    row.local_evals = counts.evaluations;
    row.local_s = median_seconds([&] { search_neff(m, omega, Polarization::TE, 0, {}); }, repeats);
    double whole = 0.0;
    row.whole_s = median_seconds([&] { whole = whole_neff(m, omega, 0, row.whole_evals); }, whole_repeats);
    if (std::get<double>(local) != whole) std::printf("!! %s: local and whole differ\n", name.c_str());
    return row;
}

MultiLayer stack(Layers layers) {
    MultiLayer m;
    m.layers = std::move(layers);
    return m;
}

}  // namespace

int main() {
    const MultiLayer soi_um = stack({{1.444, 1.0}, {3.476, 0.22}, {1.444, 1.0}});
    const MultiLayer soi_mm = stack({{1.444, 1e-3}, {3.476, 0.22e-3}, {1.444, 1e-3}});
    const MultiLayer slab = stack({{1.0, 0.0}, {1.5, 1.0}, {1.0, 0.0}});
    const std::vector<Row> rows{
        measure("SOI, micrometres", soi_um, two_pi / 1.55, 201, 21),
        measure("SOI, millimetres", soi_mm, two_pi / 1.55e-3, 201, 1),
        measure("slab, omega = 2 pi", slab, two_pi, 201, 21),
        measure("slab, omega = 2e4 pi", slab, 2e4 * std::numbers::pi, 21, 1),
    };
    std::printf("%-24s %12s %12s %9s %10s %10s\n", "neff of TE mode 0", "local (s)", "whole (s)",
                "speed-up", "evals", "evals whole");
    for (const Row& r : rows) {
        std::printf("%-24s %12.3e %12.3e %8.1fx %10zu %10zu\n", r.name.c_str(), r.local_s, r.whole_s,
                    r.whole_s / r.local_s, r.local_evals, r.whole_evals);
    }

    // field: the local neff inside it, and the same call with the whole
    // search's time in place of the local one's (the rest of field is the same).
    // The field workload of benchmarks/compare.py: 650 samples at omega = 4.
    MultiLayer worked = stack({{1.45, 3.0}, {2.0, 0.5}, {1.0, 3.0}});
    worked.plot_step = 0.01;
    const double field_s = median_seconds([&] { field(worked, 4.0, Polarization::TE, 0); }, 201);
    const double local_s = median_seconds([&] { search_neff(worked, 4.0, Polarization::TE, 0, {}); }, 201);
    std::size_t evals = 0;
    const double whole_s = median_seconds([&] { whole_neff(worked, 4.0, 0, evals); }, 21);
    const double field_before = field_s - local_s + whole_s;
    std::printf("\nfield, %zu samples: %.3e s now, %.3e s with the whole search (%.1fx)\n",
                get_grid_data(worked).x.size(), field_s, field_before, field_before / field_s);

    std::printf("\ntargets\n");
    const auto ratio = [](const Row& a, const Row& b) { return a.local_s / b.local_s; };
    std::printf("  SOI mm / um:               %6.2fx  (target <= 3x)  %s\n", ratio(rows[1], rows[0]),
                ratio(rows[1], rows[0]) <= 3.0 ? "met" : "MISSED");
    std::printf("  slab 2e4 pi / 2 pi:        %6.2fx  (target <= 3x)  %s\n", ratio(rows[3], rows[2]),
                ratio(rows[3], rows[2]) <= 3.0 ? "met" : "MISSED");
    std::printf("  SOI um speed-up:           %6.1fx  (target >= 5x)  %s\n",
                rows[0].whole_s / rows[0].local_s, rows[0].whole_s / rows[0].local_s >= 5.0 ? "met" : "MISSED");
    std::printf("  field speed-up:            %6.1fx  (target >= 3x)  %s\n", field_before / field_s,
                field_before / field_s >= 3.0 ? "met" : "MISSED");
    return 0;
}
