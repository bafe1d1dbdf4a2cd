#include "validation.hpp"

#include <algorithm>
#include <cmath>

#include "text.hpp"

namespace tavrik {

namespace {

// The modes lie in max(n_0, n_last) omega < beta < max(n) omega, and every
// stack walk forms (n omega)^2 - beta^2. Where that range is not empty and the
// square of the largest n omega overflows, no mode can be computed; where it
// is empty there is no mode to compute, and the stack keeps that answer.
std::optional<std::string> overflow_problem(const Layers& layers, double omega) {
    std::size_t top = 0;
    for (std::size_t i = 1; i < layers.size(); ++i) {
        if (layers[i].n > layers[top].n) top = i;
    }
    const double n_omega = layers[top].n * omega;
    const bool guiding = layers[top].n > std::max(layers.front().n, layers.back().n);
    if (!guiding || std::isfinite(2.0 * n_omega * n_omega)) return std::nullopt;
    return "layers[" + std::to_string(top) + "]: the refractive index times omega is too large, its " +
           "square overflows a double (n = " + format_decimal(layers[top].n) + ")";
}

std::optional<std::string> thickness_problem(double d, std::size_t i, std::size_t count) {
    const bool inner = i != 0 && i + 1 != count;
    if (inner && !(std::isfinite(d) && d >= 0.0)) {
        return "layers[" + std::to_string(i) + "]: the thickness of an inner layer must be finite and non-negative, not " +
               format_decimal(d);
    }
    return std::nullopt;
}

std::optional<std::string> omega_problem(double omega) {
    if (!(std::isfinite(omega) && omega >= 0.0)) {
        return "omega must be finite and non-negative, not " + format_decimal(omega);
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> stack_problem(const Layers& layers, double omega) {
    if (layers.empty()) return std::nullopt;
    for (std::size_t i = 0; i < layers.size(); ++i) {
        const Layer& layer = layers[i];
        const std::string where = "layers[" + std::to_string(i) + "]: ";
        if (!(std::isfinite(layer.n) && layer.n > 0.0)) {
            return where + "the refractive index must be finite and positive, not " + format_decimal(layer.n);
        }
        if (auto problem = thickness_problem(layer.d, i, layers.size())) return problem;
    }
    if (auto problem = omega_problem(omega)) return problem;
    return overflow_problem(layers, omega);
}

std::optional<std::string> complex_stack_problem(const ComplexLayers& layers, double omega) {
    for (std::size_t i = 0; i < layers.size(); ++i) {
        const Complex n = layers[i].n;
        const std::string where = "layers[" + std::to_string(i) + "]: ";
        if (!(std::isfinite(n.re) && std::isfinite(n.im) && n.re >= 0.0 && (n.re != 0.0 || n.im != 0.0))) {
            return where + "the refractive index must be finite, non-zero, with a non-negative real part, not " +
                   format_complex(n);
        }
        if (auto problem = thickness_problem(layers[i].d, i, layers.size())) return problem;
    }
    if (auto problem = omega_problem(omega)) return problem;
    for (std::size_t i = 0; i < layers.size(); ++i) {
        const Complex n = layers[i].n;
        const double size = std::max(std::fabs(n.re), std::fabs(n.im)) * omega;
        if (!std::isfinite(2.0 * size * size)) {
            return "layers[" + std::to_string(i) + "]: the refractive index times omega is too large, its " +
                   "square overflows a double (n = " + format_complex(n) + ")";
        }
    }
    return std::nullopt;
}

}  // namespace tavrik
