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

#include "complex_layer.hpp"
#include "layer.hpp"

namespace tavrik {

// The first problem found, layers in order then omega, as a message naming the
// layer by its position in the list and the offending value; nothing when the
// input has meaning.
std::optional<std::string> stack_problem(const Layers& layers, double omega);

// The same judgement of a stack with complex indices: every index finite in
// both parts, with a non-negative real part (the principal root of eps; a
// lossless metal has n = i n'') and not zero (the TM walk divides by eps);
// inner thicknesses and omega as above; and 2 |n omega|^2 finite for every
// layer, since the mode condition is written in (n omega)^2 - beta^2.
std::optional<std::string> complex_stack_problem(const ComplexLayers& layers, double omega);

}  // namespace tavrik
