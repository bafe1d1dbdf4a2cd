// What the core tests share: stacks, the message of a fault, comparison bit
// for bit, and reproducible random stacks.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <random>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "fault.hpp"
#include "layer.hpp"
#include "multilayer.hpp"

namespace tavrik::testdata {

inline MultiLayer stack(Layers layers, double plot_step = 0.001) {
    MultiLayer m;
    m.layers = std::move(layers);
    m.plot_step = plot_step;
    return m;
}

inline MultiLayer stack(Layers layers, BackEnd backend) {
    MultiLayer m = stack(std::move(layers));
    m.backend = backend;
    return m;
}

// The message of the fault `call` raises, or "no fault".
template <class F>
std::string fault_of(F&& call) {
    try {
        call();
    } catch (const Fault& fault) {
        return fault.what();
    }
    return "no fault";
}

// Equal bit for bit (so -0.0 differs from 0.0 and a NaN equals its own bits).
template <class T>
    requires std::is_trivially_copyable_v<T>
bool same_bits(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

template <class T>
bool same_bits(const std::vector<T>& a, const std::vector<T>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

// Reproducible random stacks for the invariant tests: mixed oscillating and
// evanescent layers, beta anywhere from below the lowest index line to the
// highest one.
struct RandomStack {
    Layers layers;
    double omega = 0.0;
    double beta = 0.0;
};

inline std::vector<RandomStack> random_stacks(std::size_t count, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::uniform_int_distribution<std::size_t> size(2, 8);
    std::uniform_real_distribution<double> index(1.0, 3.6), thickness(0.05, 1.2),
        omega(2.0, 8.0), unit(0.0, 1.0);
    std::vector<RandomStack> out;
    for (std::size_t s = 0; s < count; ++s) {
        RandomStack st;
        st.layers.resize(size(rng));
        double n_min = 1e9, n_max = 0.0;
        for (Layer& l : st.layers) {
            l = {index(rng), thickness(rng)};
            n_min = std::min(n_min, l.n);
            n_max = std::max(n_max, l.n);
        }
        st.omega = omega(rng);
        st.beta = (0.5 * n_min + unit(rng) * (n_max - 0.5 * n_min)) * st.omega;
        out.push_back(st);
    }
    return out;
}

}  // namespace tavrik::testdata
