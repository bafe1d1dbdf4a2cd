// The sampling grid across the stack and the index profile on it.
#include "grid.hpp"

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

#include "fault.hpp"
#include "numeric.hpp"

namespace tavrik {

GridData grid_for(const MultiLayer& multilayer, std::size_t bytes_per_sample) {
    const Layers& layers = multilayer.layers;
    const double d0 = at(layers, 0).d;
    double total = 0.0;
    for (const Layer& layer : layers) total = total + layer.d;

    GridData grid;
    grid.x = arange(-d0, total - d0, multilayer.plot_step, bytes_per_sample);

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

GridData get_grid_data(const MultiLayer& multilayer) { return grid_for(multilayer, grid_bytes); }

namespace {

// One value per layer spread over the layer's samples (layer 0 also below
// the grid's first interface).
template <class Value>
std::vector<double> per_sample(const GridData& grid, std::size_t layer_count, Value value) {
    std::vector<double> out(grid.x.size(), value(0));
    for (std::size_t i = 0; i < layer_count; ++i) {
        const std::size_t start = at(grid.layer_bounds, i);
        const std::size_t end = at(grid.layer_bounds, i + 1);
        check_slice(start, end, out.size());
        std::fill(out.begin() + static_cast<std::ptrdiff_t>(start),
                  out.begin() + static_cast<std::ptrdiff_t>(end), value(i));
    }
    return out;
}

}  // namespace

// A complex stack's profile carries the imaginary parts beside the real ones
// (its budget then counts three doubles per sample).
IndexProfile index_profile(const MultiLayer& multilayer) {
    const bool complex_stack = !multilayer.complex_layers.empty();
    GridData grid = grid_for(multilayer, complex_stack ? index_bytes + sizeof(double) : index_bytes);
    const Layers& layers = multilayer.layers;
    IndexProfile profile;
    profile.n = per_sample(grid, layers.size(), [&](std::size_t i) { return at(layers, i).n; });
    if (complex_stack) {
        const ComplexLayers& complex_layers = multilayer.complex_layers;
        profile.n_imag = per_sample(grid, layers.size(), [&](std::size_t i) { return at(complex_layers, i).n.im; });
    }
    profile.x = std::move(grid.x);
    return profile;
}

}  // namespace tavrik
