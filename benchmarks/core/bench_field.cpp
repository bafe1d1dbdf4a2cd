// The cost of field() on a coarse and a fine grid, and what the fused walk
// over the six components saves against evaluating them one by one.
//
// Prints Google Benchmark's table, then the ratios:
//   field(100 000) / field(650)         how the cost grows with the grid
//   search share of field(650)          neff() alone against the whole call
//   per-component / fused, 100 000      six evaluator walks against one fused walk
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "field_components.hpp"
#include "multilayer.hpp"
#include "transfer_matrix.hpp"

namespace {

using tavrik::Polarization;

// The 650-sample slab of the worked example; the fine grid spans the same
// stack with 100 000 samples.
tavrik::MultiLayer slab(double plot_step) {
    tavrik::MultiLayer m;
    m.layers = {{1.45, 3.0}, {2.0, 0.5}, {1.0, 3.0}};
    m.plot_step = plot_step;
    return m;
}
constexpr double kOmega = 4.0;
// 6.5 / 100000 itself rounds to one sample more.
constexpr double kFineStep = 6.5000001 / 100000.0;

void BM_Field(benchmark::State& state, double plot_step) {
    const auto m = slab(plot_step);
    const auto polarization = static_cast<Polarization>(state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(tavrik::field(m, kOmega, polarization, 0));
    state.counters["samples"] = static_cast<double>(tavrik::get_grid_data(m).x.size());
}

void BM_Neff(benchmark::State& state) {
    const auto m = slab(0.01);
    const auto polarization = static_cast<Polarization>(state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(tavrik::neff(m, kOmega, polarization, 0));
}

struct Prepared {
    tavrik::MultiLayer m;
    double beta;
    tavrik::GridData grid;
    tavrik::ModeCoefficients coefficients;
};

Prepared prepare(double plot_step, Polarization polarization) {
    Prepared p{slab(plot_step), 0.0, {}, {}};
    p.beta = std::get<double>(tavrik::neff(p.m, kOmega, polarization, 0)) * kOmega;
    auto amplitudes = tavrik::get_propagation_coefficients_transfer(
        p.m.layers, kOmega, p.beta, polarization, {0.0, 0.0}, {1.0, 0.0});
    amplitudes.back().b = {0.0, 0.0};
    p.grid = tavrik::get_grid_data(p.m);
    p.coefficients =
        tavrik::mode_coefficients(p.m.layers, kOmega, p.beta, polarization, amplitudes);
    return p;
}

void BM_FusedComponents(benchmark::State& state) {
    const auto p = prepare(kFineStep, static_cast<Polarization>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            tavrik::evaluate_components(p.m.layers, kOmega, p.beta, p.coefficients, p.grid));
    }
}

void BM_PerComponent(benchmark::State& state) {
    const auto p = prepare(kFineStep, static_cast<Polarization>(state.range(0)));
    for (auto _ : state) {
        for (const auto& c : p.coefficients) {
            auto values = tavrik::get_field_componet(p.m.layers, kOmega, p.beta, c.pairs, p.grid);
            if (c.over_z0)
                for (auto& v : values) v = tavrik::divide_by_z0(v);
            benchmark::DoNotOptimize(values);
        }
    }
}

BENCHMARK_CAPTURE(BM_Field, coarse_650, 0.01)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Field, fine_100000, kFineStep)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Neff)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FusedComponents)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PerComponent)->Arg(0)->Unit(benchmark::kMillisecond);

// Keeps each benchmark's real time (all in ms) for the ratios: the median when
// the run has repetitions, else the single run.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const std::string name = run.run_name.str();
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                times[name] = run.GetAdjustedRealTime();
                medians[name] = true;
            } else if (run.run_type == Run::RT_Iteration && !medians[name]) {
                times[name] = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
    std::map<std::string, bool> medians;
};

double ratio(const RatioReporter& r, const std::string& a, const std::string& b) {
    const auto ia = r.times.find(a), ib = r.times.find(b);
    if (ia == r.times.end() || ib == r.times.end() || ib->second == 0.0) return 0.0;
    return ia->second / ib->second;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char* pol : {"0", "1"}) {
        const std::string p = pol;
        std::printf("%s: field(100000)/field(650) = %.2f, neff/field(650) = %.2f\n",
                    p == "0" ? "TE" : "TM",
                    ratio(reporter, "BM_Field/fine_100000/" + p, "BM_Field/coarse_650/" + p),
                    ratio(reporter, "BM_Neff/" + p, "BM_Field/coarse_650/" + p));
    }
    std::printf("TE, 100000 samples: per-component / fused = %.2f\n",
                ratio(reporter, "BM_PerComponent/0", "BM_FusedComponents/0"));
    benchmark::Shutdown();
    return 0;
}
