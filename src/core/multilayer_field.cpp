// The sampling grid across the stack, the index profile and the normalised
// field of one mode.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "complex.hpp"
#include "fault.hpp"
#include "field_components.hpp"
#include "memory_budget.hpp"
#include "multilayer.hpp"
#include "numeric.hpp"
#include "transfer_matrix.hpp"

namespace tavrik {

// ---------------------------------------------------------------------------
// Sampling grid
//
// Samples run from -d_0 (the outer edge of layer 0) in steps of plot_step up to,
// but not including, the end of the stack. Each sample belongs to the layer
// that contains it: the walk passes every interface the sample has reached, so
// a layer thinner than plot_step gets an empty segment rather than a sample
// lying beyond it. A sample that rounding puts at or past the end of the stack
// stays in the last layer (the half-space goes on), and layers that no sample
// reaches get empty segments at the end, so layer_bounds always has N + 1
// entries.

namespace {

// What a call keeps per grid sample: the grid itself, then the index profile
// (one double), or the field's copy of x, its six components and the power
// flow density (all live together while the field is normalised).
constexpr std::size_t grid_bytes = sizeof(double);
constexpr std::size_t index_bytes = grid_bytes + sizeof(double);
constexpr std::size_t field_bytes = grid_bytes + sizeof(double) + 7 * sizeof(Complex);

// The grid, after checking that `bytes_per_sample` for each of its samples can
// be allocated: a representable count that no machine could hold (plot_step
// 1e-9 across a few units) is refused before anything is allocated.
GridData grid_for(const MultiLayer& multilayer, std::size_t bytes_per_sample) {
    const Layers& layers = multilayer.layers;
    const double d0 = at(layers, 0).d;
    double total = 0.0;
    for (const Layer& layer : layers) total = total + layer.d;

    GridData grid;
    require_memory(arange_count(-d0, total - d0, multilayer.plot_step), bytes_per_sample);
    grid.x = arange(-d0, total - d0, multilayer.plot_step);

    // interfaces[k] = (0 + d_0 + ... + d_(k-1)) - d_0: the sums are those of the
    // total, so interfaces[N] is the end of the stack bit for bit. Layer 0 is
    // measured from its upper boundary, 0.
    std::vector<double> thickness;
    thickness.reserve(layers.size() + 1);
    thickness.push_back(0.0);
    for (const Layer& layer : layers) thickness.push_back(layer.d);
    grid.interfaces = cumsum(thickness);
    for (double& position : grid.interfaces) position = position - d0;
    grid.interfaces[0] = 0.0;

    const std::size_t layer_count = layers.size();
    const std::size_t sample_count = grid.x.size();
    grid.layer_bounds.reserve(layer_count + 1);
    grid.layer_bounds.push_back(0);
    // `next` is the layer whose start the walk has yet to pass. The end of the
    // stack is never passed: beyond it lies the last half-space. A sample on an
    // interface belongs to the layer above it.
    std::size_t next = 1;
    for (std::size_t j = 0; j < sample_count && next < layer_count; ++j) {
        while (next < layer_count && grid.x[j] >= grid.interfaces[next]) {
            grid.layer_bounds.push_back(j);
            ++next;
        }
    }
    while (grid.layer_bounds.size() < layer_count + 1) grid.layer_bounds.push_back(sample_count);
    return grid;
}

}  // namespace

GridData get_grid_data(const MultiLayer& multilayer) { return grid_for(multilayer, grid_bytes); }

IndexProfile index_profile(const MultiLayer& multilayer) {
    GridData grid = grid_for(multilayer, index_bytes);
    const Layers& layers = multilayer.layers;
    std::vector<double> n(grid.x.size(), at(layers, 0).n);
    for (std::size_t i = 0; i < layers.size(); ++i) {
        const std::size_t start = at(grid.layer_bounds, i);
        const std::size_t end = at(grid.layer_bounds, i + 1);
        check_slice(start, end, n.size());
        std::fill(n.begin() + static_cast<std::ptrdiff_t>(start),
                  n.begin() + static_cast<std::ptrdiff_t>(end), layers[i].n);
    }
    return IndexProfile{std::move(grid.x), std::move(n)};
}

// ---------------------------------------------------------------------------
// Field components

std::vector<Complex> get_field_componet(std::span<const Layer> layers, double omega,
                                        double beta,
                                        std::span<const CoefficientPair> coefficients,
                                        const GridData& grid) {
    const std::vector<double>& x = grid.x;
    std::vector<Complex> out;
    out.reserve(x.size());
    for (std::size_t i = 0; i + 1 < grid.layer_bounds.size(); ++i) {
        const double reference = at(grid.interfaces, i);
        const CoefficientPair pair = at(coefficients, i);
        const Layer& layer = at(layers, i);
        const std::size_t start = grid.layer_bounds[i];
        const std::size_t end = grid.layer_bounds[i + 1];
        check_slice(start, end, x.size());
        const Complex k = kx(layer.n, omega, beta);
        for (std::size_t s = start; s < end; ++s) {
            out.push_back(superpose(pair, partial_waves(k, x[s] - reference)));
        }
    }
    return out;
}

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

FieldData evaluate_components(std::span<const Layer> layers, double omega, double beta,
                              const ModeCoefficients& coefficients, const GridData& grid) {
    const std::vector<double>& x = grid.x;
    const std::vector<std::size_t>& bounds = grid.layer_bounds;
    const std::size_t segments = bounds.empty() ? 0 : bounds.size() - 1;

    // The lookups and segment checks first, in the evaluator's order, so that a
    // malformed grid faults exactly as there; then the segments are known to
    // tile x[bounds.front() .. bounds.back()) and the values are written in place.
    for (std::size_t i = 0; i < segments; ++i) {
        at(grid.interfaces, i);
        for (const ComponentCoefficients& c : coefficients) at(c.pairs, i);
        at(layers, i);
        check_slice(bounds[i], bounds[i + 1], x.size());
    }
    const std::size_t first = segments == 0 ? 0 : bounds.front();
    const std::size_t count = segments == 0 ? 0 : bounds.back() - first;

    FieldData out;
    out.x = x;
    const std::array<std::vector<Complex>*, component_count> components{
        &out.Ex, &out.Ey, &out.Ez, &out.Hx, &out.Hy, &out.Hz};
    std::array<Complex*, component_count> write{};
    for (std::size_t c = 0; c < component_count; ++c) {
        components[c]->resize(count);
        write[c] = components[c]->data();
    }

    for (std::size_t i = 0; i < segments; ++i) {
        const double reference = grid.interfaces[i];
        const Complex k = kx(layers[i].n, omega, beta);
        std::array<CoefficientPair, component_count> pairs;
        for (std::size_t c = 0; c < component_count; ++c) pairs[c] = coefficients[c].pairs[i];
        for (std::size_t s = bounds[i]; s < bounds[i + 1]; ++s) {
            const PartialWaves waves = partial_waves(k, x[s] - reference);
            for (std::size_t c = 0; c < component_count; ++c) {
                const Complex value = superpose(pairs[c], waves);
                write[c][s - first] = coefficients[c].over_z0 ? divide_by_z0(value) : value;
            }
        }
    }
    return out;
}

// ---------------------------------------------------------------------------
// The normalised field of one mode

FieldResult field(const MultiLayer& multilayer, double omega, Polarization polarization,
                  std::uint32_t mode, const CancelCheck& cancel) {
    NeffResult solved = neff(multilayer, omega, polarization, mode, cancel);
    if (std::string* message = std::get_if<std::string>(&solved)) return std::move(*message);
    // Only the transfer-matrix method supplies the layer amplitudes.
    if (static_cast<std::uint8_t>(multilayer.backend) == 0) fail_not_implemented();

    const Layers& layers = multilayer.layers;
    const double beta = std::get<double>(solved) * omega;
    std::vector<CoefficientPair> amplitudes = get_propagation_coefficients_transfer(
        layers, omega, beta, polarization, Complex{0.0, 0.0}, Complex{1.0, 0.0});
    const GridData grid = grid_for(multilayer, field_bytes);

    // The last half-space keeps only the wave that decays away from the stack.
    if (amplitudes.empty()) fail_unwrap();
    amplitudes.back().b = Complex{0.0, 0.0};

    const ModeCoefficients coefficients =
        mode_coefficients(layers, omega, beta, polarization, amplitudes);
    FieldData result = evaluate_components(layers, omega, beta, coefficients, grid);

    // Power flow along z: S = (E x H*)_z = Ex Hy* - Ey Hx*, integrated across
    // the grid; dividing every component by sqrt(I) gives unit power flow.
    const std::size_t count = std::min({result.Ex.size(), result.Hy.size(), result.Ey.size(),
                                        result.Hx.size()});
    std::vector<Complex> power(count);
    for (std::size_t k = 0; k < count; ++k) {
        power[k] = result.Ex[k] * conj(result.Hy[k]) - result.Ey[k] * conj(result.Hx[k]);
    }
    const Complex norm = sqrt(integrate_trapezoid(power, result.x));
    for (std::vector<Complex>* c :
         {&result.Ex, &result.Ey, &result.Ez, &result.Hx, &result.Hy, &result.Hz}) {
        for (Complex& v : *c) v = v / norm;
    }
    return result;
}

}  // namespace tavrik
