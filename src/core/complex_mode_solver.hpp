// The modes of a stack with complex indices: bound modes (lossy, metallic,
// plasmonic) and leaky modes, every one inside the searched window certified
// by the argument principle (argument_principle.hpp) on the mode condition
// (mode_condition.hpp). Conventions: complex_layer.hpp.
//
// The window (re_min, re_max, im_min, im_max) of the neff plane is cut at
// Re(neff) = Re(n) of each half-space. Every part then lies on one sheet: a
// half-space is on its Bound branch where Re(neff) > Re(n) and on its
// Radiating branch where Re(neff) < Re(n), and each branch's cut lies on the
// other side of that line (it touches the line only at the branch point n).
// So the mode condition is analytic inside every part and its winding counts
// exactly the modes there: bound modes in the part right of both half-spaces'
// Re(n), leaky modes in the others.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "argument_principle.hpp"
#include "complex_layer.hpp"
#include "layer.hpp"
#include "multilayer.hpp"

namespace tavrik {

// The default windows. R = 2 max(|n_j|, the surface-plasmon index
// |sqrt(eps_a eps_b / (eps_a + eps_b))| of every interface between layers with
// Re(eps) of opposite sign, 4 atanh(min|eps| / max|eps|) / (omega d) for every film
// that is or touches such a layer (the short-range and gap plasmons of thin
// films)), capped at 1e4 max|n_j|.
//  * bound:  Re(neff) in [max Re(n_0), Re(n_last)], R], Im(neff) in [-R/16, R/2];
//  * leaky:  Re(neff) in [0, R], Im(neff) in [0, max|n_j| / 2].
Rectangle default_bound_window(std::span<const ComplexLayer> layers, double omega);
Rectangle default_leaky_window(std::span<const ComplexLayer> layers, double omega);

// Every mode inside the window, by decreasing real part: only the bound ones
// unless `leaky`. The message of an orderly failure otherwise (a mode on the
// window's edge or on the line between the bound and the leaky parts).
using ComplexModesResult = std::variant<std::vector<Complex>, std::string>;
ComplexModesResult complex_modes(std::span<const ComplexLayer> layers, double omega,
                                 Polarization pol, const Rectangle& window, bool leaky,
                                 const CancelCheck& cancel = {});

// The leaky modes of a stack alone (its parts left of a half-space's Re(n)).
ComplexModesResult leaky_modes(std::span<const ComplexLayer> layers, double omega,
                               Polarization pol, const Rectangle& window,
                               const CancelCheck& cancel = {});

// The six components of the bound mode with effective index neff on the grid
// of `grid_record` (its thicknesses and plot_step), normalised so that the
// complex power integral of Ex Hy* - Ey Hx* over the grid is sqrt of its own
// phase: modulus 1. The field is carried from both ends and joined where it is
// largest, with the same overflow-free scaling as the mode condition.
//
// Two modes that share one neff (the plasmons on the two faces of a thick
// metal film, equal to the last digit) are two fields: the walk from the last
// half-space alone (the mode on the last face) and the walk from the first
// alone (the mode on the first face), each cut at the opaque film between the
// faces. Each meets both outer conditions to the degeneracy's precision, and
// they overlap only through that film, so they are orthogonal to that
// precision.
enum class FieldWalk : std::uint8_t { joined, from_last, from_first };
FieldData complex_mode_field(const MultiLayer& grid_record, std::span<const ComplexLayer> layers,
                             double omega, Polarization pol, Complex neff,
                             FieldWalk walk = FieldWalk::joined);

// The walk for entry `mode` of a mode list: from_last and from_first for the
// first and second of two entries equal to within rounding, joined otherwise.
FieldWalk field_walk(std::span<const Complex> modes, std::size_t mode);

}  // namespace tavrik
