// A layer with a complex refractive index: absorbing films, metals, gain.
//
// Conventions for every complex stack (stated once, here):
//  * fields vary as exp(i(beta z - omega t)); n = n' + i n'' with n'' > 0
//    absorbing and n'' < 0 amplifying; eps = n^2.
//  * a lossy or leaky mode has Im(neff) > 0: its power decays along z.
//  * beyond the stack the transverse field is exp(-gamma |x - x_edge|). A bound
//    mode takes gamma = principal sqrt(neff^2 - eps) in each half-space
//    (Re gamma > 0: it decays away from the stack). A leaky mode radiates into
//    a half-space whose Re(n) exceeds Re(neff): there gamma = -i kx with kx the
//    principal sqrt(eps - neff^2), the outgoing wave (Re kx > 0) that grows
//    away from the stack.
// The real stack keeps its own record (layer.hpp) and its own solvers; a
// complex stack goes through complex_mode_solver.hpp.
#pragma once

#include <vector>

#include "complex.hpp"

namespace tavrik {

struct ComplexLayer {
    Complex n;       // complex refractive index
    double d = 0.0;  // thickness
};

using ComplexLayers = std::vector<ComplexLayer>;

}  // namespace tavrik
