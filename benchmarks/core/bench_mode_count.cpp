// The cost of the guided-mode certificate: one count walk through a stack of
// 3 and of 20 layers, and the completion of a search list that already holds
// every mode (the common case) or none of them. One transfer-matrix
// evaluation over the same stacks is the yardstick: the search makes thousands.
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "mode_count.hpp"
#include "transfer_matrix.hpp"

namespace {

constexpr double omega = 2.0 * std::numbers::pi;

tavrik::Layers slab() { return {{1.0, 0.0}, {1.5, 1.0}, {1.0, 0.0}}; }

// 18 films alternating between a dense and a light index, in air.
tavrik::Layers bragg() {
    tavrik::Layers layers{{1.0, 0.0}};
    for (int j = 0; j < 9; ++j) {
        layers.push_back({2.0, 0.3});
        layers.push_back({1.4, 0.5});
    }
    layers.push_back({1.0, 0.0});
    return layers;
}

void count_walk(benchmark::State& state, tavrik::Layers layers) {
    // Sweep beta over the guided range so that no single branch is favoured.
    const double lo = omega, hi = 2.0 * omega;
    int i = 0;
    for (auto _ : state) {
        const double beta = lo + (hi - lo) * (i++ % 997) / 997.0;
        benchmark::DoNotOptimize(
            tavrik::count_modes_above(layers, omega, beta, tavrik::Polarization::TE));
    }
}

void t_matrix(benchmark::State& state, tavrik::Layers layers) {
    const double lo = omega, hi = 2.0 * omega;
    int i = 0;
    for (auto _ : state) {
        const double beta = lo + (hi - lo) * (i++ % 997) / 997.0;
        benchmark::DoNotOptimize(
            tavrik::calculate_t_matrix(layers, omega, beta, tavrik::Polarization::TE));
    }
}

void complete(benchmark::State& state, tavrik::Layers layers, bool with_search) {
    const auto modes = tavrik::complete_mode_list(layers, omega, tavrik::Polarization::TE, {});
    const std::vector<double> search = with_search ? modes : std::vector<double>{};
    for (auto _ : state)
        benchmark::DoNotOptimize(
            tavrik::complete_mode_list(layers, omega, tavrik::Polarization::TE, search));
    state.counters["modes"] = static_cast<double>(modes.size());
}

BENCHMARK_CAPTURE(t_matrix, layers_3, slab());
BENCHMARK_CAPTURE(t_matrix, layers_20, bragg());
BENCHMARK_CAPTURE(count_walk, layers_3, slab());
BENCHMARK_CAPTURE(count_walk, layers_20, bragg());
BENCHMARK_CAPTURE(complete, layers_3_all_found, slab(), true);
BENCHMARK_CAPTURE(complete, layers_20_all_found, bragg(), true);
BENCHMARK_CAPTURE(complete, layers_3_none_found, slab(), false);
BENCHMARK_CAPTURE(complete, layers_20_none_found, bragg(), false);

}  // namespace

BENCHMARK_MAIN();
