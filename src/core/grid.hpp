// The sampling grid across the stack, which index() and field() share.
//
// Samples run from -d_0 (the outer edge of layer 0) in steps of plot_step up to,
// but not including, the end of the stack. Each sample belongs to the layer
// that contains it: the walk passes every interface the sample has reached, so
// a layer thinner than plot_step gets an empty segment rather than a sample
// lying beyond it. A sample that rounding puts at or past the end of the stack
// stays in the last layer (the half-space goes on), and layers that no sample
// reaches get empty segments at the end, so layer_bounds always has N + 1
// entries. (GridData itself, get_grid_data and index_profile are declared in
// multilayer.hpp, with the other computations the binding calls.)
#pragma once

#include <cstddef>

#include "complex.hpp"
#include "multilayer.hpp"

namespace tavrik {

// What a call keeps per grid sample: the grid itself, then the index profile
// (one double), or the field's copy of x, its six components and the power
// flow density (all live together while the field is normalised).
inline constexpr std::size_t grid_bytes = sizeof(double);
inline constexpr std::size_t index_bytes = grid_bytes + sizeof(double);
inline constexpr std::size_t field_bytes = grid_bytes + sizeof(double) + 7 * sizeof(Complex);

// The grid, after checking that `bytes_per_sample` for each of its samples can
// be allocated: a representable count that no machine could hold (plot_step
// 1e-9 across a few units) is refused before anything is allocated.
GridData grid_for(const MultiLayer& multilayer, std::size_t bytes_per_sample);

}  // namespace tavrik
