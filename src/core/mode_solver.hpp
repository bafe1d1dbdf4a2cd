// The exact propagation constants of the guided modes of a stack.
//
// Every guided mode is a root of the mismatch angle of the oscillation-theorem
// walk (mode_count.hpp): f_m(beta) = theta_end - theta_R - m pi is continuous,
// strictly decreasing in beta and zero exactly at mode m, and the count of
// modes above beta tells on which side of mode m any beta lies. The count at
// the lower edge of the guided range gives the number of modes; each mode is
// then refined inside its count bracket until the bracket holds two adjacent
// doubles or the interpolated correction falls below half a unit in the last
// place. No absolute tolerance enters anywhere, so the cost and the relative
// accuracy do not depend on the unit of length.
//
// Conventions (those of mode_count.hpp):
//  * omega is the vacuum wavenumber k0; beta = neff * omega; thicknesses in the
//    reciprocal unit of omega.
//  * The guided range is max(n_0, n_(N-1)) omega < beta < max(n) omega; a root
//    at the lower edge itself (a mode exactly at cut-off) is not guided.
//  * Mode m (m = 0 has the largest beta) has m zeros of its transverse field:
//    the same numbering as neff.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "fault.hpp"
#include "layer.hpp"
#include "multilayer.hpp"

namespace tavrik {

// The propagation constant of every guided mode, in descending order (entry k
// is mode k), each the root of the mismatch to full double precision. Empty
// when there is no guided mode, and when the stack cannot be certified (fewer
// than two layers, an index that is not finite and positive, an inner
// thickness that is negative or not finite, omega not finite and positive, or
// n omega so large that the walk overflows). cancel is polled every
// solver_poll_interval walks; when it returns true the call throws Cancelled.
std::vector<double> guided_betas(std::span<const Layer> layers, double omega, Polarization pol,
                                 const CancelCheck& cancel = {});

// The propagation constant of mode `mode` alone (the same bits as entry `mode`
// of guided_betas: modes 0 .. mode are solved in the same order), or nothing when the stack has no such mode or cannot be
// certified.
std::optional<double> guided_beta(std::span<const Layer> layers, double omega, Polarization pol,
                                  std::size_t mode, const CancelCheck& cancel = {});

// Walks between two polls of the cancel check.
inline constexpr std::size_t solver_poll_interval = 4096;

namespace detail {

// The roots of modes first .. last (clipped to the modes that exist) and the
// number of stack walks they took, counting the two at the ends of the range.
struct GuidedSolution {
    std::vector<double> betas;
    std::size_t walks = 0;
    std::size_t mode_count = 0;  // every guided mode of the stack
};

GuidedSolution solve_guided(std::span<const Layer> layers, double omega, Polarization pol,
                            std::size_t first, std::size_t last, const CancelCheck& cancel);

}  // namespace detail

}  // namespace tavrik
