// The effective-index search over the stack: the passes over the selected
// matrix method's characteristic value, completed by the certified mode count.

#include "search.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "mode_count.hpp"
#include "scattering_matrix.hpp"
#include "transfer_matrix.hpp"

namespace tavrik {

std::vector<double> search_betas(const MultiLayer& multilayer, double omega,
                                 Polarization polarization, const CancelCheck& cancel) {
    return with_characteristic(multilayer, omega, polarization, [&](auto&& characteristic) {
        return detail::search_passes(multilayer, omega, characteristic, cancel);
    });
}

std::vector<double> complete_search(const MultiLayer& multilayer, double omega,
                                    Polarization polarization, std::span<const double> search,
                                    const CancelCheck& cancel) {
    // The search alone keeps a peak only when the characteristic value reaches
    // fixed heights, so it drops modes whose |dT22/dbeta| is large (many-layer
    // stacks, cores on buffers, modes near cut-off). The certified count of the
    // oscillation theorem completes the list: one value per guided mode, the
    // search's own values kept bit for bit where they stand for a mode.
    const std::vector<double> betas =
        complete_mode_list(multilayer.layers, omega, polarization, search, cancel);

    std::vector<double> neffs;
    neffs.reserve(betas.size());
    for (double beta : betas) neffs.push_back(beta / omega);
    // Stable, and a value goes first only when strictly greater.
    std::stable_sort(neffs.begin(), neffs.end(), std::greater<double>{});
    return neffs;
}

std::vector<double> mode_list(const MultiLayer& multilayer, double omega,
                              Polarization polarization, const CancelCheck& cancel) {
    return complete_search(multilayer, omega, polarization,
                           search_betas(multilayer, omega, polarization, cancel), cancel);
}

namespace {

void append_decimal(std::string& text, std::uint64_t value) {
    char digits[20];  // 2^64 - 1 has 20 digits
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    text.append(digits, result.ptr);
}

}  // namespace

// Appended into one string reserved up front: this message is the whole
// result of a call that asks for the mode past the last one, and piecewise
// concatenation of temporaries cost more than the rest of such a call.
std::string mode_not_found_message(std::uint32_t mode, std::size_t count) {
    std::string text;
    text.reserve(112);  // the letters and three numbers of at most 20 digits
    text += "Mode ";
    append_decimal(text, mode);
    text += " not found. Only ";
    append_decimal(text, count);
    // With no mode at all there is no highest mode number to show.
    if (count == 0) {
        text += " modes available.";
    } else {
        text += " modes (0->";
        append_decimal(text, count - 1);
        text += ") available.";
    }
    return text;
}

}  // namespace tavrik
