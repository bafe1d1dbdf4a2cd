#include "power_fractions.hpp"

#include "mode_amplitudes.hpp"
#include "mode_solver.hpp"
#include "search.hpp"

namespace tavrik {

PowerFractionsResult power_fractions(std::span<const Layer> layers, double omega,
                                     Polarization polarization, std::uint32_t mode,
                                     const CancelCheck& cancel) {
    const std::vector<double> betas = guided_betas(layers, omega, polarization, cancel);
    if (mode >= betas.size()) return mode_not_found_message(mode, betas.size());
    const std::vector<CoefficientPair> f = mode_amplitudes(layers, omega, polarization, betas, mode);
    std::vector<double> shares = layer_powers(layers, omega, betas[mode], polarization, f);
    double total = 0.0;
    for (double share : shares) total += share;
    for (double& share : shares) share /= total;
    return shares;
}

}  // namespace tavrik
