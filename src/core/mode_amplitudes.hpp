// The partial-wave amplitudes of a guided mode's transverse field, computed
// stably, and the exact power the mode carries in each layer.
//
// The field is the mode's principal component psi: E_y for TE, E_z for TM (the
// convention of the transfer-matrix method). Inside layer j, with xi measured
// from the layer's reference plane as in transfer_matrix.hpp,
//     psi_j(xi) = a_j exp(+i k_j xi) + b_j exp(-i k_j (xi - d_j)),
// that is, a_j is the amplitude of the A wave at the layer's start and b_j the
// amplitude of the B wave at its far side. Layer 0 has a_0 = 0 and d_0 taken as
// 0 (b_0 is psi at the interface 0|1); the last layer has b_(N-1) = 0. In an
// evanescent layer (k = +i kappa) both waves then have modulus at most |a| and
// |b| across the layer, so no amplitude carries a factor e^(kappa d): a thick
// barrier between two cores costs no precision.
//
// The amplitudes are the null vector of the 2(N-1) interface conditions
// (psi and p psi' continuous, p = 1 for TE and 1/n^2 for TM), a band matrix
// whose entries are all at most 1 in modulus. They are found by inverse
// iteration with a pivoted band LU at the mode's propagation constant: the
// matrix is singular up to rounding there, and each solve multiplies the
// mode's share of the iterate by the ratio of the mode's distance to the
// next mode's. Nothing is carried across a barrier from one side only, so the
// amplitudes of coupled cores are as accurate as beta itself allows.
//
// Modes that the doubles do not resolve (a splitting below the precision of
// beta, as for cores coupled through a wide gap) share one null space; each
// is then given its own start vector and the group is made orthogonal in mode
// order, so every mode still has a field of its own.
//
// Normalisation: unit power, the sum over layers of w_j times the integral of
// |psi_j|^2 (TE) or of |A e - B e|^2 (TM) from -inf to +inf, with w_j = 1 (TE)
// or n_j^2/|k_j|^2 (TM). This is the z-power flow up to one constant of the
// whole stack: |E_y|^2 for TE, and for TM |Z0 H_y|^2/n^2 = omega^2 n^2/|k|^2 |A e - B e|^2.
// Phase: psi is made real, positive at the first interface (from 0|1 on)
// where |psi| is not negligible against its largest interface value.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "complex.hpp"
#include "layer.hpp"
#include "transfer_matrix.hpp"

namespace tavrik {

// The transverse wavenumber of a layer, sqrt((n omega - beta)(n omega + beta))
// as a principal root (+i kappa when evanescent). The factored radicand keeps
// kappa accurate near cut-off, where (n omega)^2 - beta^2 cancels.
Complex transverse_wavenumber(double n, double omega, double beta);

// The amplitudes (a_j, b_j) of mode `mode` of the stack, whose guided
// propagation constants (descending, one per mode) are `betas`. Layers needs
// at least two entries and mode must index betas.
std::vector<CoefficientPair> mode_amplitudes(std::span<const Layer> layers, double omega,
                                             Polarization pol, std::span<const double> betas,
                                             std::size_t mode);

// The power of the field with amplitudes f in each layer (the integrals
// above, half-spaces to infinity), N values.
std::vector<double> layer_powers(std::span<const Layer> layers, double omega, double beta,
                                 Polarization pol, std::span<const CoefficientPair> f);

// The same amplitudes as the transfer-matrix method's pairs (A_j, B_j), both at
// layer j's reference plane: A_j = a_j, B_j = b_j exp(i k_j d_j).
std::vector<CoefficientPair> reference_plane_pairs(std::span<const Layer> layers, double omega,
                                                   double beta,
                                                   std::span<const CoefficientPair> f);

}  // namespace tavrik
