// The guided-mode count of a stack and the completed list of its modes.
//
// For real indices the transverse field of a guided mode is an eigenfunction
// of a Sturm-Liouville problem across the stack:
//   TE, psi = Ey:  psi'' + (k0^2 n^2 - beta^2) psi = 0,
//                  psi and psi' continuous at every interface;
//   TM, psi = Hy:  (psi'/n^2)' + (k0^2 - beta^2/n^2) psi = 0,
//                  psi and psi'/n^2 continuous at every interface.
// With p = 1 (TE) or p = 1/n^2 (TM) both read (p psi')' + (...) psi = 0, and the
// pair (u, v) = (psi, p psi') is continuous across every interface. Mode m
// (m = 0 has the largest beta) has exactly m zeros, so the oscillation theorem
// counts the modes above any beta: carry the solution that decays into layer 0
// through the stack and count how many half-turns its Prufer angle makes
// beyond the angle of the solution that decays into the last layer.
//
// Conventions:
//  * omega is the vacuum wavenumber k0; thicknesses are in the reciprocal unit
//    of omega; beta is the propagation constant (beta = neff * omega).
//  * In layer j, q_j = (n_j omega - beta)(n_j omega + beta) = k0^2 n_j^2 - beta^2.
//    q_j > 0: oscillating layer, k_j = sqrt(q_j) > 0. q_j < 0: evanescent layer,
//    kappa_j = sqrt(-q_j) > 0 (the same positive root as kx_j = +i kappa_j of the
//    matrix methods). q_j = 0 (beta = n_j omega) is the linear limit of both.
//  * x grows from layer 0 toward layer N-1. Layer 0 is the half-space x < 0 and
//    layer N-1 the half-space beyond the last interface; their thicknesses are
//    never read. A guided mode decays into both: beta > n_0 omega and
//    beta > n_(N-1) omega, and it needs beta < max(n) omega.
//  * Prufer angle: theta = atan2(u, v), continued without jumps through the
//    stack. At a zero of psi, theta' = 1/p > 0, so zeros are crossed upward
//    only and theta counts them. It starts at atan2(1, p_0 kappa_0) in (0, pi/2]
//    and is compared at the end with theta_R = atan2(1, -p_(N-1) kappa_(N-1)) in
//    [pi/2, pi). The mismatch theta_end - theta_R decreases strictly with beta and
//    equals m*pi exactly at mode m; the number of modes above beta is the number
//    of m >= 0 with m*pi < theta_end - theta_R.
//  * Only real indices: n enters through n^2, and every n must be finite and
//    positive for the count to be certified.
#pragma once

#include <cstddef>
#include <limits>
#include <span>
#include <vector>

#include "layer.hpp"
#include "multilayer.hpp"

namespace tavrik {

// Above this many guided modes completing the list is not attempted (the
// search list is returned as it is): bisecting for millions of modes would take
// far longer than any caller is willing to wait.
inline constexpr std::size_t max_completed_modes = std::size_t{1} << 21;

// The number of guided modes whose propagation constant is strictly greater than
// beta. A beta at or below max(n_0, n_(N-1)) omega counts every guided mode (the
// count at the lower edge of the guided range). Returns 0 when the stack cannot
// be walked: fewer than two layers, a non-finite, zero or negative index, a
// non-finite or negative inner thickness, omega not finite and positive, a
// beta that is NaN, or products that overflow. A count beyond what a double
// holds exactly saturates at the largest std::size_t.
std::size_t count_modes_above(std::span<const Layer> layers, double omega, double beta,
                              Polarization pol);

// The propagation constants of all guided modes in
// max(n_0, n_(N-1)) omega < beta < max(n) omega, in descending order, exactly one
// per mode, built from the values a search found:
//  * a search value that lies within 2e-9 of a mode not yet claimed keeps its
//    bits and stands for that mode; a second value for the same mode, and a
//    value near no mode, are dropped;
//  * a mode that no search value claims is bracketed by the count and refined to
//    within 1e-9 of its beta.
// Where the count cannot be certified (see count_modes_above, a range with no
// room, or more than max_completed_modes modes) the search values come back
// sorted in descending order and otherwise unchanged. cancel is polled between
// stack walks; when it returns true the call throws Cancelled.
std::vector<double> complete_mode_list(std::span<const Layer> layers, double omega,
                                       Polarization pol, std::span<const double> search_betas,
                                       const CancelCheck& cancel = {});

namespace detail {

// The outcome of one walk through the stack at one beta.
struct PruferWalk {
    bool ok = false;           // false: the stack or beta cannot be walked
    bool saturated = false;    // more half-turns than a double counts exactly
    double half_turns = 0.0;   // whole half-turns of theta (an exact integer)
    double u = 0.0, v = 0.0;   // the end direction, u >= 0 (u == 0 means v > 0)
    double p_kappa_end = 0.0;  // p_(N-1) kappa_(N-1) of the last layer
    // d/d beta of the plain mismatch half_turns*pi + plain_rest(), carried
    // through the walk when it is asked for; NaN otherwise. Negative inside
    // the guided range (theta_end falls and theta_R rises with beta); infinite
    // or NaN at its lower edge (kappa of an outer layer vanishes) and for
    // stacks whose products leave the range of doubles.
    double slope = std::numeric_limits<double>::quiet_NaN();
    // The number of modes above beta.
    std::size_t count() const;
    // phi - theta_R, where theta_end = half_turns*pi + phi, both angles taken
    // in the last layer's scaled coordinates (u, v/(p kappa)) (see the .cpp).
    double rest() const;
    // phi - theta_R with both angles taken in (u, v) itself. It has the zeros
    // and signs of rest() but, unlike it, falls strictly with beta, which is
    // what a derivative-driven root finder needs.
    double plain_rest() const;
    // half_turns*pi + rest() - m*pi: continuous in beta, positive exactly when
    // more than m modes lie above beta, and zero at mode m. The whole
    // half-turns are subtracted before the rest is added, so the value keeps
    // its full relative precision near zero.
    double mismatch(std::size_t m = 0) const;
};

// half_turns*pi + rest - m*pi, as PruferWalk::mismatch forms it.
double mismatch(double half_turns, double rest, std::size_t m);

// One walk at beta; with_slope also carries d theta / d beta through every
// layer (differentiating each layer's step) and fills PruferWalk::slope.
PruferWalk prufer_walk(std::span<const Layer> layers, double omega, double beta,
                       Polarization pol, bool with_slope = false);

}  // namespace detail

}  // namespace tavrik
