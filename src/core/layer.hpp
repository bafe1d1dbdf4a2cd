// The stack's records: a layer, the two enumerations, and the units they use.
//
// Conventions shared by the whole core:
//  * omega is the vacuum wavenumber k0 (no speed of light, no 2*pi); thicknesses
//    are in the reciprocal unit of omega.
//  * beta = neff * omega is the propagation constant along the layers (z); the
//    matrix methods take beta, never neff.
//  * The stack normal is x. Layer 0 and layer N-1 are half-spaces whose
//    thickness is never read by the optics (it only sets how far a sampling grid
//    reaches into them).
//  * kx_j is the principal square root of (n_j*omega)^2 - beta^2 (see
//    transfer_matrix.hpp), so an evanescent layer has kx = +i*kappa.
#pragma once

#include <cstdint>
#include <vector>

namespace tavrik {

struct Layer {
    double n = 0.0;  // real refractive index
    double d = 0.0;  // thickness
};

enum class Polarization : std::uint8_t { TE = 0, TM = 1 };

// Zero selects the scattering-matrix method, any other value the transfer-matrix method.
enum class BackEnd : std::uint8_t { Scattering = 0, Transfer = 1 };

inline bool is_te(Polarization p) { return static_cast<std::uint8_t>(p) == 0; }

using Layers = std::vector<Layer>;

}  // namespace tavrik
