// One characteristic-value evaluation (stack matrix plus its value) of the
// transfer and the scattering method, for stacks of 3, 6 and 20 layers, beside
// a loop that does only the libm work no evaluation can avoid: one sqrt per
// layer (its kx) and one sincos or exp per inner layer (its phase or decay).
// After the runs a summary prints ns per evaluation and the ratio of each
// method to that loop, and of the transfer evaluation to the library calls it
// makes itself (the fastest repetition of each; use
// --benchmark_repetitions=5 on a shared machine).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "complex.hpp"
#include "scattering_matrix.hpp"
#include "transfer_matrix.hpp"

namespace {

using tavrik::Layer;
using tavrik::Layers;

struct Stack {
    Layers layers;
    double omega;
};

// 3: a film between substrate and air. 6 and 20: silicon-like films (3.5)
// alternating with oxide (1.44) on oxide, under air, so that a sweep of beta
// meets oscillating and evanescent layers in every mix.
Stack stack(int count) {
    if (count == 3) return {{{1.45, 0.0}, {2.0, 0.5}, {1.0, 0.0}}, 4.0};
    Layers layers{{1.44, 0.0}};
    for (int j = 1; j + 1 < count; ++j) layers.push_back(j % 2 ? Layer{3.5, 0.22} : Layer{1.44, 0.3});
    layers.push_back({1.0, 0.0});
    return {layers, 6.0};
}

// Trial propagation constants across the whole index range, none on an index line.
std::vector<double> betas(const Stack& s) {
    double lo = s.layers.front().n, hi = lo;
    for (const Layer& l : s.layers) lo = std::min(lo, l.n), hi = std::max(hi, l.n);
    constexpr int count = 1024;
    std::vector<double> out;
    for (int i = 0; i < count; ++i) out.push_back((lo + (hi - lo) * (i + 0.5) / count) * s.omega);
    return out;
}

template <class Evaluate>
void sweep(benchmark::State& state, Evaluate evaluate) {
    const Stack s = stack(static_cast<int>(state.range(0)));
    const std::vector<double> beta = betas(s);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(evaluate(s, beta[i]));
        i = (i + 1) % beta.size();
    }
}

void transfer(benchmark::State& state) {
    sweep(state, [](const Stack& s, double beta) {
        return tavrik::transfer_characteristic(
            tavrik::calculate_t_matrix(s.layers, s.omega, beta, tavrik::Polarization::TE));
    });
}

void scattering(benchmark::State& state) {
    sweep(state, [](const Stack& s, double beta) {
        return tavrik::scattering_characteristic(
            tavrik::calculate_s_matrix(s.layers, s.omega, beta, tavrik::Polarization::TE));
    });
}

// The libm work of one evaluation: kx's sqrt for every layer, and for every
// inner layer its phase (sincos) or decay (exp). `both_waves` adds what the
// transfer evaluation actually calls: the second exponential of P (the opposite
// argument, which no identity turns into the first one's bits) and the
// characteristic value's hypot and log10.
template <bool both_waves>
double libm_work(const Stack& s, double beta) {
    double sum = 0.0;
    const std::size_t count = s.layers.size();
    for (std::size_t j = 0; j < count; ++j) {
        const double kn = s.layers[j].n * s.omega;
        const double radicand = kn * kn - beta * beta;
        const double k = std::sqrt(std::fabs(radicand));
        sum += k;
        if (j == 0 || j + 1 == count) continue;
        const double kd = k * s.layers[j].d;
        if (radicand >= 0.0) {
            double sn = 0.0, cs = 0.0;
            tavrik::detail::sincos(kd, &sn, &cs);
            sum += sn + cs;
            if (both_waves) {
                tavrik::detail::sincos(-kd, &sn, &cs);
                sum += sn + cs;
            }
        } else {
            sum += std::exp(-kd);
            if (both_waves) sum += std::exp(kd);
        }
    }
    if (both_waves) sum += std::log10(std::hypot(sum, beta));
    return sum;
}

void libm_floor(benchmark::State& state) { sweep(state, libm_work<false>); }
void libm_calls(benchmark::State& state) { sweep(state, libm_work<true>); }

BENCHMARK(transfer)->Arg(3)->Arg(6)->Arg(20)->Unit(benchmark::kNanosecond);
BENCHMARK(scattering)->Arg(3)->Arg(6)->Arg(20)->Unit(benchmark::kNanosecond);
BENCHMARK(libm_floor)->Arg(3)->Arg(6)->Arg(20)->Unit(benchmark::kNanosecond);
BENCHMARK(libm_calls)->Arg(3)->Arg(6)->Arg(20)->Unit(benchmark::kNanosecond);

// Keeps the fastest CPU time per iteration of every (function, layers) pair.
class Collector : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            if (r.run_type != Run::RT_Iteration || r.error_occurred) continue;
            const auto key = std::pair{r.run_name.function_name, r.run_name.args};
            const double ns = r.GetAdjustedCPUTime();  // the unit is ns for all three
            auto [it, fresh] = best.emplace(key, ns);
            if (!fresh) it->second = std::min(it->second, ns);
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::pair<std::string, std::string>, double> best;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();

    std::printf("\nns per evaluation (fastest repetition); ratios to the libm floor, and of\n"
                "the transfer evaluation to the libm calls it makes itself\n");
    std::printf("%7s %11s %11s %11s %11s %9s %9s %11s\n", "layers", "libm floor", "libm calls",
                "transfer", "scattering", "T/floor", "S/floor", "T/calls");
    for (const char* layers : {"3", "6", "20"}) {
        const auto get = [&](const char* name) {
            const auto it = collector.best.find({name, layers});
            return it == collector.best.end() ? NAN : it->second;
        };
        const double floor = get("libm_floor"), calls = get("libm_calls");
        const double t = get("transfer"), s = get("scattering");
        std::printf("%7s %11.1f %11.1f %11.1f %11.1f %9.2f %9.2f %11.2f\n", layers, floor, calls, t,
                    s, t / floor, s / floor, t / calls);
    }
    return 0;
}
