// Every zero of an analytic function inside a rectangle, certified by the
// argument principle.
//
// The number of zeros (with multiplicity) inside a closed contour on which f
// is analytic and non-zero is the winding number of f along it. The contour is
// the rectangle's boundary, walked counter-clockwise and sampled adaptively: a
// step is accepted only when the phase change to its midpoint and from it are
// both below pi/4 and add up to the phase change of the whole step, so no step
// can hide a full turn of the phase behind a small apparent change. Each edge
// starts from a number of steps proportional to its length times the
// caller's phase rate (the phase change f can make per unit length).
//
// Isolation: a rectangle holding several zeros is halved across its longer
// side, each half counted again (the halves' counts must add up to the
// whole); a rectangle holding one zero is handed to Muller's iteration on the
// same f, started inside it, and the root is accepted only if it lies in that
// rectangle. A rectangle that shrinks to a few units in the last place while
// holding k > 1 zeros is a k-fold (or unresolvably close) zero: it is
// returned k times.
//
// f may be multiplied by any positive real factor (a scaling against
// overflow): the phase, the zeros and Muller's limit are unchanged.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "complex.hpp"
#include "multilayer.hpp"

namespace tavrik {

struct Rectangle {
    double re_min = 0.0, re_max = 0.0, im_min = 0.0, im_max = 0.0;
};

// f(z) as a callback, as CancelCheck does it: the core stays free of
// std::function on the hot path.
struct ComplexFunction {
    Complex (*eval)(const void* context, Complex z) = nullptr;
    const void* context = nullptr;
    Complex operator()(Complex z) const { return eval(context, z); }
};

// A zero lies on (or within rounding of) the contour: the count is not defined.
struct ContourHit {
    Complex where;
};

// The winding number of f along the rectangle's boundary (the number of zeros
// inside). Throws ContourHit, and Cancelled when cancel asks for it (polled
// every few thousand evaluations).
long winding_number(const ComplexFunction& f, const Rectangle& box, double phase_rate,
                    const CancelCheck& cancel);

struct ZeroSearch {
    std::vector<Complex> zeros;  // each the converged root, k-fold zeros k times
    long count = 0;              // the winding number of the whole rectangle
    std::size_t evaluations = 0;
};

// Every zero inside the rectangle, isolated and refined. Throws ContourHit
// when a zero lies on the outer boundary (a zero on an inner cut is avoided by
// moving the cut).
ZeroSearch zeros_in(const ComplexFunction& f, const Rectangle& box, double phase_rate,
                    const CancelCheck& cancel);

// Muller's iteration from three points; the root when it converges.
std::optional<Complex> muller(const ComplexFunction& f, Complex z0, Complex z1, Complex z2);

}  // namespace tavrik
