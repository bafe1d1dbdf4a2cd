// The coefficient rules of each field component and the one evaluator that
// samples them on the grid.

#include "field_components.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <vector>

#include "fault.hpp"

namespace tavrik {

std::vector<CoefficientPair> zero_coefficients(std::size_t layer_count) {
    return std::vector<CoefficientPair>(layer_count,
                                        CoefficientPair{Complex{0.0, 0.0}, Complex{0.0, 0.0}});
}

namespace {

// Applies `rule(layer, kx, amplitudes)` to every layer that has amplitudes.
template <class Rule>
std::vector<CoefficientPair> per_layer(std::span<const Layer> layers, double omega, double beta,
                                       std::span<const CoefficientPair> principal, Rule rule) {
    const std::size_t count = std::min(layers.size(), principal.size());
    std::vector<CoefficientPair> out;
    out.reserve(count);
    for (std::size_t j = 0; j < count; ++j) {
        out.push_back(rule(layers[j], kx(layers[j].n, omega, beta), principal[j]));
    }
    return out;
}

}  // namespace

std::vector<CoefficientPair> te_hx_coefficients(std::span<const Layer> layers, double omega,
                                                double beta,
                                                std::span<const CoefficientPair> principal) {
    const Complex b = real(beta);
    const Complex w = real(omega);
    return per_layer(layers, omega, beta, principal,
                     [&](const Layer&, Complex, const CoefficientPair& p) {
                         return CoefficientPair{(-p.a) * b / w, (-p.b) * b / w};
                     });
}

std::vector<CoefficientPair> te_hz_coefficients(std::span<const Layer> layers, double omega,
                                                double beta,
                                                std::span<const CoefficientPair> principal) {
    const Complex w = real(omega);
    return per_layer(layers, omega, beta, principal,
                     [&](const Layer&, Complex k, const CoefficientPair& p) {
                         return CoefficientPair{k * p.a / w, -(k * p.b) / w};
                     });
}

std::vector<CoefficientPair> tm_ex_coefficients(std::span<const Layer> layers, double omega,
                                                double beta,
                                                std::span<const CoefficientPair> principal) {
    const Complex b = real(beta);
    return per_layer(layers, omega, beta, principal,
                     [&](const Layer&, Complex k, const CoefficientPair& p) {
                         return CoefficientPair{(-p.a) * b / k, p.b * b / k};
                     });
}

std::vector<CoefficientPair> tm_hy_coefficients(std::span<const Layer> layers, double omega,
                                                double beta,
                                                std::span<const CoefficientPair> principal) {
    const Complex w = real(omega);
    return per_layer(layers, omega, beta, principal,
                     [&](const Layer& layer, Complex k, const CoefficientPair& p) {
                         const Complex n2 = real(layer.n) * real(layer.n);
                         return CoefficientPair{(-p.a) * w * n2 / k, p.b * w * n2 / k};
                     });
}

ModeCoefficients mode_coefficients(std::span<const Layer> layers, double omega, double beta,
                                   Polarization polarization,
                                   std::span<const CoefficientPair> principal) {
    auto at_component = [](ModeCoefficients& m, Component c) -> ComponentCoefficients& {
        return m[static_cast<std::size_t>(c)];
    };
    ModeCoefficients m;
    const std::vector<CoefficientPair> amplitudes(principal.begin(), principal.end());
    if (is_te(polarization)) {
        at_component(m, Component::Ex).pairs = zero_coefficients(layers.size());
        at_component(m, Component::Ey).pairs = amplitudes;
        at_component(m, Component::Ez).pairs = zero_coefficients(layers.size());
        at_component(m, Component::Hx) = {te_hx_coefficients(layers, omega, beta, principal), true};
        at_component(m, Component::Hy).pairs = zero_coefficients(layers.size());
        at_component(m, Component::Hz) = {te_hz_coefficients(layers, omega, beta, principal), true};
    } else {
        at_component(m, Component::Ex).pairs = tm_ex_coefficients(layers, omega, beta, principal);
        at_component(m, Component::Ey).pairs = zero_coefficients(layers.size());
        at_component(m, Component::Ez).pairs = amplitudes;
        at_component(m, Component::Hx).pairs = zero_coefficients(layers.size());
        at_component(m, Component::Hy) = {tm_hy_coefficients(layers, omega, beta, principal), true};
        at_component(m, Component::Hz).pairs = zero_coefficients(layers.size());
    }
    return m;
}

namespace {

// The one evaluator: the components listed in `coefficients` into `out` (one
// vector per list), in a single walk over the grid. The lookups and segment
// checks come first, segment by segment, so that a malformed grid faults on
// the first missing interface, coefficient pair or layer (in that order) or
// the first malformed segment; then the segments are known to tile
// x[bounds.front() .. bounds.back()) and the values are written in place. The
// number of components is a constant of the instance, so the loops over them
// unroll.
template <std::size_t components>
void evaluate_into(std::span<const Layer> layers, double omega, double beta,
                   std::span<const ComponentCoefficients, components> coefficients,
                   const GridData& grid, std::span<std::vector<Complex>* const, components> out) {
    const std::vector<double>& x = grid.x;
    const std::vector<std::size_t>& bounds = grid.layer_bounds;
    const std::size_t segments = bounds.empty() ? 0 : bounds.size() - 1;
    for (std::size_t i = 0; i < segments; ++i) {
        at(grid.interfaces, i);
        for (const ComponentCoefficients& c : coefficients) at(c.pairs, i);
        at(layers, i);
        check_slice(bounds[i], bounds[i + 1], x.size());
    }
    const std::size_t first = segments == 0 ? 0 : bounds.front();
    const std::size_t count = segments == 0 ? 0 : bounds.back() - first;
    std::array<Complex*, components> write{};
    for (std::size_t c = 0; c < components; ++c) {
        out[c]->resize(count);
        write[c] = out[c]->data();
    }

    // A sample's two exponentials are shared by every component, so they are
    // formed once per sample.
    std::array<CoefficientPair, components> pairs;
    for (std::size_t i = 0; i < segments; ++i) {
        const double reference = grid.interfaces[i];
        const Complex k = kx(layers[i].n, omega, beta);
        for (std::size_t c = 0; c < components; ++c) pairs[c] = coefficients[c].pairs[i];
        for (std::size_t s = bounds[i]; s < bounds[i + 1]; ++s) {
            const PartialWaves waves = partial_waves(k, x[s] - reference);
            for (std::size_t c = 0; c < components; ++c) {
                const Complex value = superpose(pairs[c], waves);
                write[c][s - first] = coefficients[c].over_z0 ? divide_by_z0(value) : value;
            }
        }
    }
}

}  // namespace

std::vector<Complex> get_field_componet(std::span<const Layer> layers, double omega,
                                        double beta,
                                        std::span<const CoefficientPair> coefficients,
                                        const GridData& grid) {
    const ComponentCoefficients one{{coefficients.begin(), coefficients.end()}, false};
    std::vector<Complex> out;
    std::vector<Complex>* const target = &out;
    evaluate_into<1>(layers, omega, beta, std::span<const ComponentCoefficients, 1>(&one, 1), grid,
                     std::span<std::vector<Complex>* const, 1>(&target, 1));
    return out;
}

FieldData evaluate_components(std::span<const Layer> layers, double omega, double beta,
                              const ModeCoefficients& coefficients, const GridData& grid) {
    FieldData out;
    out.x = grid.x;
    const std::array<std::vector<Complex>*, component_count> components{
        &out.Ex, &out.Ey, &out.Ez, &out.Hx, &out.Hy, &out.Hz};
    evaluate_into<component_count>(layers, omega, beta, std::span(coefficients), grid,
                                   std::span(components));
    return out;
}

}  // namespace tavrik
