// The count walks of the local replay: its premises, the bracket of the mode
// asked for, and the fences of the band around it.

#include "local_search.hpp"

#include <algorithm>
#include <cmath>

namespace tavrik {

namespace detail {

namespace {

// The count at beta; false where the walk fails or saturates.
bool count_at(const MultiLayer& multilayer, double omega, Polarization polarization, double beta,
              std::size_t& count) {
    const PruferWalk walk = prufer_walk(multilayer.layers, omega, beta, polarization);
    if (!walk.ok || walk.saturated) return false;
    count = walk.count();
    return true;
}

bool in_range(double s, const GuidedRange& range) { return s > range.lo && s < range.hi; }

// The claim probes of a search value, clipped to the guided range as the
// completion clips them.
double lower_probe(double s, const GuidedRange& range) {
    return std::max(s - claim_width_at(s), range.lo);
}
double upper_probe(double s, const GuidedRange& range) {
    return std::min(s + claim_width_at(s), range.hi);
}

}  // namespace

// Bounds that keep every walk in the guided range finite and unsaturated:
// |q| <= (max(n) omega)^2, so phases stay below max(n) omega d, and their sum
// bounds the half-turns far below 2^52; p kappa and d/p stay finite.
std::optional<std::size_t> local_mode_total(const MultiLayer& multilayer, double omega,
                                            Polarization polarization) {
    const Layers& layers = multilayer.layers;
    if (!(std::isfinite(omega) && omega > 0.0 && omega <= 1e50)) return std::nullopt;
    const GuidedRange range = guided_range(layers, omega);
    if (!range.ok || !(range.hi <= 1e100)) return std::nullopt;
    double phase = 0.0;
    for (std::size_t j = 0; j < layers.size(); ++j) {
        const double n = layers[j].n;
        if (!(n >= 1e-50 && n <= 1e50)) return std::nullopt;
        if (j == 0 || j + 1 == layers.size()) continue;
        const double d = layers[j].d;
        if (!(d >= 0.0 && d * n * n <= 1e290)) return std::nullopt;
        phase += range.hi * d;
    }
    if (!(phase <= 1e15)) return std::nullopt;
    std::size_t total = 0;
    if (!count_at(multilayer, omega, polarization, range.lo, total)) return std::nullopt;
    return total;
}

// Bisection on the count from the guided range, where count(lo) = total > k
// and count(hi) = 0 (the completion takes the same count at hi).
ModeBracket locate_mode(const MultiLayer& multilayer, double omega, Polarization polarization,
                        std::size_t mode, std::size_t total, const CancelCheck& cancel) {
    const GuidedRange range = guided_range(multilayer.layers, omega);
    ModeBracket bracket{range.lo, range.hi, range.ok && mode < total};
    for (unsigned walks = 1; bracket.ok && bracket.b - bracket.a > 1e-4; ++walks) {
        if (walks % 64 == 0 && cancel()) throw Cancelled{};
        const double mid = bracket.a + 0.5 * (bracket.b - bracket.a);
        if (!(mid > bracket.a && mid < bracket.b)) break;
        std::size_t count = 0;
        if (!count_at(multilayer, omega, polarization, mid, count)) return ModeBracket{};
        (count > mode ? bracket.a : bracket.b) = mid;
    }
    return bracket;
}

// A value s is a fence above mode k when its lower probe counts at most k
// modes and every value below it keeps its upper probe at or below that probe
// (the largest value below s is the one to check: probes grow with s); a
// fence below is the mirror image. Values equal to a fence are its copies.
// A walk that fails marks the result failed.
Fences find_fences(const MultiLayer& multilayer, double omega, Polarization polarization,
                   std::span<const double> values, double x, double y, const ModeBracket& bracket,
                   std::size_t mode, std::size_t total) {
    const GuidedRange range = guided_range(multilayer.layers, omega);
    Fences fences;
    std::size_t count = 0;
    for (std::size_t i = 0; i < values.size() && !fences.upper.found; ++i) {
        const double s = values[i];
        const double probe = lower_probe(s, range);
        if (!in_range(s, range) || probe < bracket.b) continue;
        std::size_t j = i;
        while (j > 0 && values[j - 1] == s) --j;
        if (j > 0 && in_range(values[j - 1], range) && upper_probe(values[j - 1], range) > probe)
            continue;
        if (!count_at(multilayer, omega, polarization, probe, count)) return Fences{{}, {}, true};
        if (count <= mode) fences.upper = Fence{s, count, true};
    }
    for (std::size_t i = values.size(); i-- > 0 && !fences.lower.found;) {
        const double s = values[i];
        const double probe = upper_probe(s, range);
        if (!in_range(s, range) || probe > bracket.a) continue;
        std::size_t j = i;
        while (j + 1 < values.size() && values[j + 1] == s) ++j;
        if (j + 1 < values.size() && in_range(values[j + 1], range) &&
            lower_probe(values[j + 1], range) < probe)
            continue;
        if (!count_at(multilayer, omega, polarization, probe, count)) return Fences{{}, {}, true};
        if (count > mode) fences.lower = Fence{s, count, true};
    }
    // Past an end of the guided range no value claims or probes.
    if (!fences.upper.found && y >= range.hi) fences.upper = Fence{fences.upper.value, 0, true};
    if (!fences.lower.found && x <= range.lo) fences.lower = Fence{fences.lower.value, total, true};
    return fences;
}

namespace {

// A point at or beyond `from` (upward or downward) that lies in no claim
// window (s - w, s + w) of a value in the guided range; NaN when the search
// would leave [x, y] (values beyond it are unknown). Past an end of the guided
// range no value claims, so the end itself is such a point.
double claim_fence(std::span<const double> values, double from, bool upward, double x, double y,
                   const GuidedRange& range) {
    double f = from;
    for (bool moved = true; moved;) {
        moved = false;
        if (upward ? f >= range.hi : f <= range.lo) return upward ? range.hi : range.lo;
        for (const double t : values) {
            if (!in_range(t, range)) continue;
            const double w = claim_width_at(t);
            if (t - w < f && f < t + w) {
                f = upward ? t + w : t - w;
                moved = true;
            }
        }
    }
    const double margin = 2.0 * claim_width_at(std::fmax(std::fabs(x), std::fabs(y)));
    if (upward ? f >= range.hi : f <= range.lo) return upward ? range.hi : range.lo;
    return (f >= x + margin && f <= y - margin) ? f : std::numeric_limits<double>::quiet_NaN();
}

}  // namespace

// Claim fences around the bracket; then, when a value claims mode k and no
// other mode lies within three claim widths of it, every other mode's value
// (a claimed value within a claim width of its mode, or a refined one within
// half the refinement's tolerance) sorts on its own side of it, so it is the
// k-th value of the whole list.
ClaimedMode claimed_alone(const MultiLayer& multilayer, double omega, Polarization polarization,
                          std::span<const double> values, double x, double y,
                          const ModeBracket& bracket, std::size_t mode, std::size_t total,
                          const CancelCheck& cancel) {
    const GuidedRange range = guided_range(multilayer.layers, omega);
    const double upper = claim_fence(values, bracket.b, true, x, y, range);
    const double lower = claim_fence(values, bracket.a, false, x, y, range);
    if (std::isnan(upper) || std::isnan(lower)) return ClaimedMode{};
    ClaimedMode result;
    result.fenced = true;
    std::size_t first = 0, end = total;
    if (upper < range.hi && !count_at(multilayer, omega, polarization, upper, first))
        return ClaimedMode{false, true, 0.0, true};
    if (lower > range.lo && !count_at(multilayer, omega, polarization, lower, end))
        return ClaimedMode{false, true, 0.0, true};
    if (!(first <= mode && mode < end)) return result;
    std::vector<double> inside;
    for (const double v : values)
        if (v > lower && v < upper) inside.push_back(v);
    const std::optional<double> s = claimant(multilayer.layers, omega, polarization, inside,
                                             ModeBand{first, end, total}, mode, cancel);
    if (!s) return result;
    const std::optional<bool> alone = alone_near(multilayer, omega, polarization, *s, mode);
    if (!alone) return ClaimedMode{false, true, 0.0, true};
    result.found = *alone;
    result.beta = *s;
    return result;
}

std::optional<bool> alone_near(const MultiLayer& multilayer, double omega,
                               Polarization polarization, double beta, std::size_t mode) {
    const GuidedRange range = guided_range(multilayer.layers, omega);
    const double w = 3.0 * claim_width_at(beta);
    std::size_t above = 0, below = 0;
    if (!count_at(multilayer, omega, polarization, std::min(beta + w, range.hi), above) ||
        !count_at(multilayer, omega, polarization, std::max(beta - w, range.lo), below))
        return std::nullopt;
    return above == mode && below == mode + 1;
}

std::optional<std::size_t> modes_above(const MultiLayer& multilayer, double omega,
                                       Polarization polarization, double beta) {
    const GuidedRange range = guided_range(multilayer.layers, omega);
    std::size_t count = 0;
    if (!count_at(multilayer, omega, polarization, std::max(beta, range.lo), count))
        return std::nullopt;
    return count;
}

std::vector<double> band_values(std::span<const double> values, const Fences& fences) {
    std::vector<double> band;
    for (const double v : values) {
        if (!std::isnan(fences.lower.value) && v < fences.lower.value) continue;
        if (!std::isnan(fences.upper.value) && v > fences.upper.value) continue;
        band.push_back(v);
    }
    return band;
}

}  // namespace detail

NeffResult search_neff(const MultiLayer& multilayer, double omega, Polarization polarization,
                       std::uint32_t mode, const CancelCheck& cancel, SearchCounts* counts) {
    return with_characteristic(multilayer, omega, polarization, [&](auto&& characteristic) {
        return detail::local_neff(multilayer, omega, polarization, mode, characteristic, cancel,
                                  counts);
    });
}

}  // namespace tavrik
