// Group index and group-velocity dispersion of guided modes, and sweeps of
// them over many vacuum wavenumbers.
//
// Conventions:
//  * omega is the vacuum wavenumber k0 (no speed of light, no 2*pi); the
//    thicknesses are in the reciprocal unit of omega. The layers' indices do
//    not depend on omega (non-dispersive materials).
//  * beta(k0) is the propagation constant of one guided mode, followed along
//    k0 (mode m keeps its m zeros).
//  * group_index = d beta / d k0, dimensionless (c / v_g). With material
//    dispersion left out it is the waveguide's group index.
//  * gvd = d^2 beta / d k0^2, in the unit of the thicknesses (the reciprocal
//    unit of omega). With k0 = w / c (w the angular frequency, c in the same
//    length unit), beta_2 = d^2 beta / d w^2 = gvd / c^2 and
//    D = -(2 pi c / lambda^2) beta_2 = -(k0^2 / (2 pi c)) gvd. The README shows
//    the conversion to ps^2/km and ps/(nm km).
//
// Both derivatives are exact: the guided mode is a zero of a real analytic
// dispersion function F(beta, k0) (the field that decays into layer 0, carried
// through the stack as (psi, p psi'), tested against the decay into the last
// layer; see mode_count.hpp for psi and p), so along the mode
//   beta'  = -F_k / F_b,
//   beta'' = -(F_kk + 2 F_bk beta' + F_bb beta'^2) / F_b,
// with every partial derivative of F carried through the walk as a jet
// (jet.hpp). The curve F = 0 does not change when F is multiplied by any
// smooth factor that does not vanish, and at a root these formulas do not
// either, so each step may drop a common factor of (psi, p psi') -- e^(-kappa d)
// of a thick evanescent layer, a power of two -- to keep the walk in range.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "layer.hpp"
#include "fault.hpp"
#include "multilayer.hpp"

namespace tavrik {

struct ModeDispersion {
    double group_index = 0.0;  // d beta / d k0
    double gvd = 0.0;          // d^2 beta / d k0^2
};

// Both derivatives of the mode whose propagation constant is beta (a guided
// mode of the stack at omega, in full precision: the result is that of the
// mode through the nearest point of the curve F = 0). NaN for a stack that
// cannot be walked (fewer than two layers, a non-positive index) and for a
// beta outside the guided range.
ModeDispersion mode_dispersion(std::span<const Layer> layers, double omega, double beta,
                               Polarization pol);

// The group index of mode `mode` at omega, from the exact mode list, or the
// mode-not-found message of neff.
using GroupIndexResult = std::variant<double, std::string>;
GroupIndexResult group_index(std::span<const Layer> layers, double omega, Polarization pol,
                             std::uint32_t mode, const CancelCheck& cancel = {});

// neff, group index and gvd of every guided mode at every omega. Row m holds
// mode m: entry (m, i) at index m * omega.size() + i, NaN where mode m is not
// guided at omega[i]. neff is beta / omega of the exact mode list.
struct DispersionTable {
    std::vector<double> omega;
    std::size_t modes = 0;
    std::vector<double> neff, group_index, gvd;
};

// The columns are spread over `threads` threads (0: one per core), the calling
// thread among them. `cancel` is called only from the calling thread, between
// stack walks; when it returns true every thread stops and the call throws
// Cancelled. A fault or an allocation failure on any thread stops the others
// and is rethrown here.
DispersionTable dispersion_table(std::span<const Layer> layers, std::span<const double> omegas,
                                 Polarization pol, const CancelCheck& cancel = {},
                                 unsigned threads = 0);

}  // namespace tavrik
