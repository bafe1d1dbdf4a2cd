// The share of a guided mode's power flow along z carried in each layer.
//
// For real indices the z-power density of a guided mode is proportional to
// |E_y|^2 (TE) or |H_y|^2/n^2 (TM) with one constant across the stack, so the
// share of layer j is the integral of that weight over the layer divided by
// its integral over the whole stack; the two half-spaces are integrated out
// to infinity. The integrals are exact closed forms of the mode's partial
// waves (mode_amplitudes.hpp) at the exact root of its mode condition, so the
// shares do not depend on plot_step and sum to 1 up to rounding.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "layer.hpp"
#include "fault.hpp"
#include "multilayer.hpp"

namespace tavrik {

// One share per layer (N values), or the message "Mode ... not found. ..."
// when the stack has no mode `mode` (for a stack that cannot be certified,
// no mode at all). cancel is polled as by the exact solver.
using PowerFractionsResult = std::variant<std::vector<double>, std::string>;
PowerFractionsResult power_fractions(std::span<const Layer> layers, double omega,
                                     Polarization polarization, std::uint32_t mode,
                                     const CancelCheck& cancel = {});

}  // namespace tavrik
