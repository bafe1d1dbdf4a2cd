// The stack object's record and the computations the binding calls: the neff
// of one mode (the search itself lives in search.hpp), the sampling grid, the
// index profile and the normalised field of one mode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "complex.hpp"
#include "complex_layer.hpp"
#include "fault.hpp"
#include "layer.hpp"

namespace tavrik {

struct MultiLayer {
    Layers layers;
    std::int32_t scan_limit = 10;
    double plot_step = 0.001;
    BackEnd backend = BackEnd::Transfer;
    // The complex records, kept only when some layer's index has a non-zero
    // imaginary part; `layers` then holds the real parts for the grid.
    ComplexLayers complex_layers;
};

// The effective index of mode `mode` (0 = highest neff), or the message text of
// an orderly failure ("Mode ... not found. ...").
using NeffResult = std::variant<double, std::string>;
NeffResult neff(const MultiLayer& multilayer, double omega, Polarization polarization,
                std::uint32_t mode, const CancelCheck& cancel = {});

// The sampling grid across the stack. x has its origin at the interface between
// layer 0 and layer 1; interfaces[i] is the reference plane of layer i (its
// start for i >= 1, the interface 0|1 for layer 0) and interfaces[N] is the end
// of the stack; layer i owns x[layer_bounds[i] .. layer_bounds[i+1]).
struct GridData {
    std::vector<double> x;
    std::vector<double> interfaces;
    std::vector<std::size_t> layer_bounds;
};
GridData get_grid_data(const MultiLayer& multilayer);

// n holds the real part of the index; n_imag its imaginary part when the
// stack has a complex index, and is empty otherwise.
struct IndexProfile {
    std::vector<double> x;
    std::vector<double> n;
    std::vector<double> n_imag;
};
IndexProfile index_profile(const MultiLayer& multilayer);

// The six components of one mode on the grid; magnetic components are divided
// by the vacuum impedance Z0.
struct FieldData {
    std::vector<double> x;
    std::vector<Complex> Ex, Ey, Ez, Hx, Hy, Hz;
};
using FieldResult = std::variant<FieldData, std::string>;
FieldResult field(const MultiLayer& multilayer, double omega, Polarization polarization,
                  std::uint32_t mode, const CancelCheck& cancel = {});

}  // namespace tavrik
