// The physical meaning of a computation's input: every computation of a mode
// (neff, field, and whatever later asks for modes of a stack at one omega)
// first asks stack_problem() and refuses the input when it names one.
//
// A stack has physical meaning when every refractive index is finite and
// positive and every inner layer (1 .. N-2) has a finite, non-negative
// thickness; the outer half-spaces' thicknesses only reach into the sampling
// grid and are not judged here. omega, the vacuum wavenumber, must be finite
// and non-negative; omega = 0 is meaningful and guides no mode. Where the stack
// guides at all (an index above both outer ones), the largest n omega must
// keep 2 (n omega)^2 finite: the mode equations are written in that square.
//
// An empty stack has nothing to judge: the computations' own rules apply.
#pragma once

#include <optional>
#include <string>

#include "layer.hpp"

namespace tavrik {

// The first problem found, layers in order then omega, as a message naming the
// layer by its position in the list and the offending value; nothing when the
// input has meaning.
std::optional<std::string> stack_problem(const Layers& layers, double omega);

}  // namespace tavrik
