// The mode condition of a complex stack: an analytic function of neff whose
// zeros are exactly the modes on one sheet of the two outer square roots.
//
// The walk carries (psi, phi) = (psi, p dpsi/dX) across the films, X = omega x,
// p = 1 (TE, psi = Ey) or 1/eps (TM, psi = Z0 Hy); both are continuous at
// every interface. In a film with q^2 = eps - neff^2 the transfer over X = omega d
//     [ cos(q X)         sin(q X) / (p q) ]
//     [ -p q sin(q X)    cos(q X)         ]
// is even in q, hence entire in neff: films bring no branch cut. The walk
// starts in the first half-space with psi = exp(gamma_0 X), i.e. (1, p_0
// gamma_0), and the mode condition is the mismatch with the decay exp(-gamma_N
// X) of the last half-space:
//     D(neff) = phi_end + p_N gamma_N psi_end.
// D vanishes exactly at a mode (psi_end = phi_end = 0 is impossible: the
// transfer has determinant 1 and the start is not zero), and its only
// non-analytic points are the cuts of gamma_0 and gamma_N (see Branch).
//
// D is evaluated as the Wronskian psi_l phi_r - phi_l psi_r of the walk from
// the first half-space and the walk back from the last one, met in the middle
// of the most opaque film. It is the same analytic function (the Wronskian
// is constant across the stack and equals D at its end), but the rounding of
// each walk now enters as a factor: the two plasmons on the faces of a thick
// metal film stay two zeros known to the last digits instead of a double zero
// blurred to sqrt(eps).
//
// No overflow: each film's transfer is multiplied by the positive, smooth
// factor exp(1 - sqrt(1 + b^2)), b = Im(q X), which bounds its entries for any
// thickness and loss. The product of these factors is real and positive, so
// it moves no zero and changes no argument: the winding of the scaled D along
// a contour is that of D, and Muller's iteration converges to the same roots.
#pragma once

#include <cstdint>
#include <span>

#include "complex.hpp"
#include "complex_layer.hpp"
#include "layer.hpp"

namespace tavrik {

// The branch of an outer half-space's gamma.
//  * Bound: principal sqrt(neff^2 - eps), cut where neff^2 - eps <= 0, which in
//    the first quadrant is the hyperbola Re(neff) Im(neff) = Im(eps)/2 with
//    Re(neff) <= Re(n): analytic wherever Re(neff) > Re(n).
//  * Radiating: -i principal sqrt(eps - neff^2), cut on the same hyperbola
//    with Re(neff) >= Re(n): analytic wherever 0 <= Re(neff) < Re(n).
enum class Branch : std::uint8_t { Bound, Radiating };

struct Sheet {
    Branch first = Branch::Bound;
    Branch last = Branch::Bound;
};

Complex outer_gamma(Complex eps, Complex neff, Branch branch);

// D(neff) scaled as above. Only the films' thicknesses are read.
Complex mode_condition(std::span<const ComplexLayer> layers, double omega, Polarization pol,
                       Sheet sheet, Complex neff);

// The transfer of one film over X = omega d: the scaled entries and the log of
// the factor taken out (the true matrix is the scaled one times exp(log_scale)).
struct FilmTransfer {
    Complex m11, m12, m21, m22;
    double log_scale = 0.0;
};
FilmTransfer film_transfer(Complex eps, Complex p, Complex neff, double x);

}  // namespace tavrik
