// Decimal text of a double as the Layer text form shows it.
#pragma once

#include <string>

#include "complex.hpp"

namespace tavrik {

// The shortest digit string that reads back as the same double, in plain
// positional notation (never an exponent): 2e-7 -> "0.0000002", 1e21 -> "1"
// and 21 zeros, -0.0 -> "-0". Not-a-number is "NaN", the infinities "inf" and
// "-inf".
std::string format_decimal(double value);

// A complex value as Python writes one, each part by format_decimal:
// "(0.18+3.41j)", "(1.5-0.01j)".
std::string format_complex(Complex value);

}  // namespace tavrik
