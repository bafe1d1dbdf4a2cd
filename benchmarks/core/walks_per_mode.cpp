// Stack walks per guided mode of the exact solver (guided_betas), TE and TM
// together, the two walks at the ends of the guided range included: the cost
// measure of the solver that does not depend on the machine. Prints one line
// per stack.
#include <cstdio>
#include <numbers>

#include "mode_solver.hpp"

namespace {

using tavrik::Layers;

constexpr double two_pi = 2.0 * std::numbers::pi;

// 18 films alternating between a dense and a light index, in air.
Layers bragg() {
    Layers layers{{1.0, 0.0}};
    for (int j = 0; j < 9; ++j) {
        layers.push_back({2.0, 0.3});
        layers.push_back({1.4, 0.5});
    }
    layers.push_back({1.0, 0.0});
    return layers;
}

// 18 films whose index rises from 1.46 to 1.55 and falls back, on 1.45.
Layers graded() {
    Layers layers{{1.45, 0.0}};
    for (int j = 0; j < 18; ++j) {
        const double step = j < 9 ? j : 17 - j;
        layers.push_back({1.46 + 0.01 * step, 0.8});
    }
    layers.push_back({1.45, 0.0});
    return layers;
}

struct Stack {
    const char* name;
    Layers layers;
    double omega;
};

}  // namespace

int main() {
    const Stack stacks[] = {
        {"3 layers: symmetric SOI 1.444/3.476 (0.22)/1.444", {{1.444, 0.0}, {3.476, 0.22}, {1.444, 0.0}}, two_pi / 1.55},
        {"3 layers: air-clad SOI 1.0/3.476 (0.22)/1.444", {{1.0, 0.0}, {3.476, 0.22}, {1.444, 0.0}}, two_pi / 1.55},
        {"3 layers: 20-thick slab 1.5/1.6/1.5", {{1.5, 0.0}, {1.6, 20.0}, {1.5, 0.0}}, two_pi / 1.55},
        {"20 layers: 2.0 (0.3)/1.4 (0.5) x 9 in air", bragg(), two_pi},
        {"20 layers: the same at 10 omega", bragg(), 10.0 * two_pi},
        {"20 layers: graded films 1.46-1.54 on 1.45", graded(), two_pi},
    };
    std::printf("%-52s %6s %6s %10s\n", "stack", "modes", "walks", "per mode");
    for (const Stack& s : stacks) {
        std::size_t modes = 0, walks = 0;
        for (tavrik::Polarization pol : {tavrik::Polarization::TE, tavrik::Polarization::TM}) {
            const auto solution = tavrik::detail::solve_guided(s.layers, s.omega, pol, 0, static_cast<std::size_t>(-1), {});
            modes += solution.betas.size();
            walks += solution.walks;
        }
        std::printf("%-52s %6zu %6zu %10.1f\n", s.name, modes, walks,
                    static_cast<double>(walks) / static_cast<double>(modes));
    }
}
