// The neff of one mode: the search replayed near it (local_search.hpp), or the
// message when the mode is past the last one.

#include "multilayer.hpp"

#include "local_search.hpp"

namespace tavrik {

NeffResult neff(const MultiLayer& multilayer, double omega, Polarization polarization,
                std::uint32_t mode, const CancelCheck& cancel) {
    return search_neff(multilayer, omega, polarization, mode, cancel);
}

}  // namespace tavrik
