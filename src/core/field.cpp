// The normalised field of one mode: its neff, the layer amplitudes, the six
// components on the grid and the normalisation to unit power flow.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "complex.hpp"
#include "fault.hpp"
#include "field_components.hpp"
#include "grid.hpp"
#include "mode_amplitudes.hpp"
#include "mode_solver.hpp"
#include "multilayer.hpp"
#include "numeric.hpp"
#include "transfer_matrix.hpp"

namespace tavrik {

namespace {

// The mode's propagation constant and its amplitudes at the layers' reference
// planes. Where the exact solver certifies the stack and its mode `mode` is the
// search's (within the search's resolution), the field is taken at the exact
// root with the stably computed amplitudes; otherwise (a stack that cannot be
// certified) as the transfer method gives it at the search's beta, carried
// from layer 0.
struct ModeAtBeta {
    double beta;
    std::vector<CoefficientPair> amplitudes;
};

ModeAtBeta mode_at_beta(const MultiLayer& multilayer, double omega, Polarization polarization,
                        std::uint32_t mode, double searched, const CancelCheck& cancel) {
    const Layers& layers = multilayer.layers;
    const std::vector<double> betas = guided_betas(layers, omega, polarization, cancel);
    if (mode < betas.size() && std::fabs(betas[mode] - searched) <= 4e-9 + 1e-12 * searched) {
        const double beta = betas[mode];
        const std::vector<CoefficientPair> f =
            mode_amplitudes(layers, omega, polarization, betas, mode);
        return {beta, reference_plane_pairs(layers, omega, beta, f)};
    }
    return {searched, get_propagation_coefficients_transfer(layers, omega, searched, polarization,
                                                            Complex{0.0, 0.0}, Complex{1.0, 0.0})};
}

}  // namespace

FieldResult field(const MultiLayer& multilayer, double omega, Polarization polarization,
                  std::uint32_t mode, const CancelCheck& cancel) {
    NeffResult solved = neff(multilayer, omega, polarization, mode, cancel);
    if (std::string* message = std::get_if<std::string>(&solved)) return std::move(*message);
    // Only the transfer-matrix method supplies the layer amplitudes.
    if (static_cast<std::uint8_t>(multilayer.backend) == 0) fail_not_implemented();

    const Layers& layers = multilayer.layers;
    auto [beta, amplitudes] =
        mode_at_beta(multilayer, omega, polarization, mode, std::get<double>(solved) * omega, cancel);
    const GridData grid = grid_for(multilayer, field_bytes);

    // The last half-space keeps only the wave that decays away from the stack.
    if (amplitudes.empty()) fail_unwrap();
    amplitudes.back().b = Complex{0.0, 0.0};

    const ModeCoefficients coefficients =
        mode_coefficients(layers, omega, beta, polarization, amplitudes);
    FieldData result = evaluate_components(layers, omega, beta, coefficients, grid);

    // Power flow along z: S = (E x H*)_z = Ex Hy* - Ey Hx*, integrated across
    // the grid; dividing every component by sqrt(I) gives unit power flow.
    const std::size_t count = std::min({result.Ex.size(), result.Hy.size(), result.Ey.size(),
                                        result.Hx.size()});
    std::vector<Complex> power(count);
    for (std::size_t k = 0; k < count; ++k) {
        power[k] = result.Ex[k] * conj(result.Hy[k]) - result.Ey[k] * conj(result.Hx[k]);
    }
    const Complex norm = sqrt(integrate_trapezoid(power, result.x));
    for (std::vector<Complex>* c :
         {&result.Ex, &result.Ey, &result.Ez, &result.Hx, &result.Hy, &result.Hz}) {
        for (Complex& v : *c) v = v / norm;
    }
    return result;
}

}  // namespace tavrik
