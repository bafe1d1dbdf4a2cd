// The neff of one mode: the search's list, and the message when the mode is
// past its end.

#include "multilayer.hpp"

#include <vector>

#include "search.hpp"

namespace tavrik {

NeffResult neff(const MultiLayer& multilayer, double omega, Polarization polarization,
                std::uint32_t mode, const CancelCheck& cancel) {
    const std::vector<double> modes = mode_list(multilayer, omega, polarization, cancel);
    if (mode < modes.size()) return modes[mode];
    return mode_not_found_message(mode, modes.size());
}

}  // namespace tavrik
