#include "validation.hpp"

#include <cmath>

#include "text.hpp"

namespace tavrik {

std::optional<std::string> stack_problem(const Layers& layers, double omega) {
    if (layers.empty()) return std::nullopt;
    for (std::size_t i = 0; i < layers.size(); ++i) {
        const Layer& layer = layers[i];
        const std::string where = "layers[" + std::to_string(i) + "]: ";
        if (!(std::isfinite(layer.n) && layer.n > 0.0)) {
            return where + "the refractive index must be finite and positive, not " + format_decimal(layer.n);
        }
        const bool inner = i != 0 && i + 1 != layers.size();
        if (inner && !(std::isfinite(layer.d) && layer.d >= 0.0)) {
            return where + "the thickness of an inner layer must be finite and non-negative, not " +
                   format_decimal(layer.d);
        }
    }
    if (!(std::isfinite(omega) && omega >= 0.0)) {
        return "omega must be finite and non-negative, not " + format_decimal(omega);
    }
    return std::nullopt;
}

}  // namespace tavrik
