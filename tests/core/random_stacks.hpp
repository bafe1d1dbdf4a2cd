// Reproducible random stacks for the invariant tests: mixed oscillating and
// evanescent layers, beta anywhere from below the lowest index line to the
// highest one.
#pragma once

#include <cstddef>
#include <random>
#include <vector>

#include "layer.hpp"

namespace tavrik::testdata {

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
