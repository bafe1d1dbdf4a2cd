// Field components of one guided mode on the sampling grid, before
// normalisation.
//
// Inside layer j every component varies across the stack as
//     C_A exp(+i kx_j xi) + C_B exp(-i kx_j xi),
// with xi measured from the layer's reference plane (GridData::interfaces[j]),
// so a component is fixed by one coefficient pair (C_A, C_B) per layer. The pairs
// follow from the principal amplitudes (A_j, B_j) of the mode's principal field
// (Ey for TE, Ez for TM) by Maxwell's equations with d/dz = i beta and d/dy = 0,
// the vacuum wavenumber omega = k0 and the magnetic field taken as Z0*H:
//     TE:  Z0 Hx = -(beta/omega) Ey                 -> (-A beta/omega, -B beta/omega)
//          Z0 Hz = (1/(i omega)) dEy/dx             -> (kx A/omega, -(kx B)/omega)
//     TM:  Z0 Hy from Ez = (i/(omega eps)) dHy/dx   -> (-A omega n^2/kx, B omega n^2/kx)
//          Ex = beta Hy/(omega eps)                 -> (-A beta/kx, B beta/kx)
// The reported H components are then divided by Z0. Every entry is evaluated
// left to right with the complex operations of complex.hpp (real scalars as
// Complex{x, 0}), so the values are fixed bit for bit.
//
// A component that vanishes for the polarization is evaluated like any other,
// from N pairs (0, 0): it is exactly zero where both exponentials are finite
// and NaN where one overflows (0 * inf), as a reader of the field expects from
// the layer's expression.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <vector>

#include "complex.hpp"
#include "layer.hpp"
#include "multilayer.hpp"
#include "transfer_matrix.hpp"

namespace tavrik {

// The vacuum impedance and its square, both stored: the division by Z0 is the
// complex quotient by (Z0 + 0i) written out with this m = Z0^2.
inline constexpr double Z0 = 376.73031346177066;
inline constexpr double Z0_squared = 141925.72908100398;

inline Complex divide_by_z0(Complex v) {
    return {(v.re * Z0 + v.im * 0.0) / Z0_squared, (v.im * Z0 - v.re * 0.0) / Z0_squared};
}

// The two partial waves of a layer at distance xi from its reference plane:
// exp(i kx xi) with the exponent formed as (-kx.im xi, kx.re xi), and
// exp(-i kx xi) with (kx.im xi, -kx.re xi).
struct PartialWaves {
    Complex up;    // exp(+i kx xi)
    Complex down;  // exp(-i kx xi)
};

inline PartialWaves partial_waves(Complex k, double xi) {
    return {exp(Complex{-k.im * xi, k.re * xi}), exp(Complex{k.im * xi, -k.re * xi})};
}

inline Complex superpose(const CoefficientPair& c, const PartialWaves& w) {
    return c.a * w.up + c.b * w.down;
}

// One sampled component from its coefficient list: layer i (a segment of
// grid.layer_bounds) is evaluated with coefficients[i] and the layer's kx for
// beta. Only each layer's n is read. Faults for a segment whose interface,
// coefficient pair or layer is missing (in that order) and for a malformed
// segment; an empty segment contributes nothing.
std::vector<Complex> get_field_componet(std::span<const Layer> layers, double omega,
                                        double beta,
                                        std::span<const CoefficientPair> coefficients,
                                        const GridData& grid);

// The components in the order of FieldData: Ex, Ey, Ez, Hx, Hy, Hz.
enum class Component : std::size_t { Ex = 0, Ey, Ez, Hx, Hy, Hz };
inline constexpr std::size_t component_count = 6;

// A component's coefficient list and whether its samples are divided by Z0.
struct ComponentCoefficients {
    std::vector<CoefficientPair> pairs;
    bool over_z0 = false;
};
using ModeCoefficients = std::array<ComponentCoefficients, component_count>;

// The rules one by one. Each runs over the shorter of the layer list and the
// amplitude list; `principal` already has the last layer's B set to zero.
std::vector<CoefficientPair> zero_coefficients(std::size_t layer_count);
std::vector<CoefficientPair> te_hx_coefficients(std::span<const Layer> layers, double omega,
                                                double beta,
                                                std::span<const CoefficientPair> principal);
std::vector<CoefficientPair> te_hz_coefficients(std::span<const Layer> layers, double omega,
                                                double beta,
                                                std::span<const CoefficientPair> principal);
std::vector<CoefficientPair> tm_ex_coefficients(std::span<const Layer> layers, double omega,
                                                double beta,
                                                std::span<const CoefficientPair> principal);
std::vector<CoefficientPair> tm_hy_coefficients(std::span<const Layer> layers, double omega,
                                                double beta,
                                                std::span<const CoefficientPair> principal);

// All six lists for a polarization (TE unless it is TM): the principal field
// takes the amplitudes themselves, the vanishing components N zero pairs.
ModeCoefficients mode_coefficients(std::span<const Layer> layers, double omega, double beta,
                                   Polarization polarization,
                                   std::span<const CoefficientPair> principal);

// All six components in one walk over the grid, by the evaluator behind
// get_field_componet: component by component the same bits as that function
// (followed by divide_by_z0 where the list asks for it). x is a copy of the
// grid's samples.
FieldData evaluate_components(std::span<const Layer> layers, double omega, double beta,
                              const ModeCoefficients& coefficients, const GridData& grid);

}  // namespace tavrik
