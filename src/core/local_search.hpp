// The neff of one mode from the search values near it: the same bits as the
// whole search completed by the count (search.hpp, mode_list), at a cost that
// depends on the modes near the one asked for, not on the size of the range.
//
// Why a local replay gives the whole search's answer:
//
//  * Later passes. Pass i scans the window (c - step_(i-1), c + step_(i-1))
//    of each peak c of pass i - 1, each window on its own. A final value
//    therefore lies within 0.01 + 0.001 + ... + 1e-8 < 0.0112 (plus a few
//    roundings of beta, one per pass) of the first-pass peak it descends from,
//    and the final values of a set of first-pass peaks are the union of each
//    one's. So the final values in [X, Y] are exactly the descendants of the
//    first-pass peaks within `reach` of [X, Y].
//
//  * First pass. The scanner's state after sample j is (P, D, plateau). When
//    y[j-1] - y[j] != 0 (NaN and -inf - -inf included: only an exact zero
//    difference continues a plateau), feeding j either fails the rise test or
//    takes the "not equal" branch, and both set P = y[j], D = y[j] - y[j-1]
//    and close the plateau: the state is that of a fresh scanner fed y[j-1],
//    y[j], and a fresh scanner fed from j - 1 reports every later peak
//    exactly as the whole scan does. A peak is a run of equal samples, so the
//    peaks whose middle lies at or after such a j start at or after j. On the
//    right, once a sample k past the wanted range differs from the one before
//    it, every peak that closes later starts at or after k. Plateaus of any
//    length, NaN and -inf samples and the window's first and last samples are
//    thus handled by the scan itself; walking back to the last change costs
//    one evaluation for a curve that is not flat.
//
//  * Completion. complete_mode_list gives mode k a value from the search
//    values and probes between two fences around it (see complete_mode_band):
//    search values whose claim windows keep two claim widths clear of the
//    band inside, with counts on either side of k, or the ends of the guided
//    range. The fences are looked for in a region around mode k that doubles
//    on each side until it holds one (at worst the whole range, which is the
//    whole search again).
//
// Stacks whose count cannot be certified, and any walk that fails, take the
// whole search (search.hpp), as do calls where the replay's premises could
// fail (overflowing phases, indices beyond 1e50).
#pragma once

#include <algorithm>
#include <cmath>
#include <functional>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "fault.hpp"
#include "mode_count.hpp"
#include "multilayer.hpp"
#include "numeric.hpp"
#include "search.hpp"

namespace tavrik {

// What one call evaluated: characteristic values (all passes) and walks of the
// count, for the benchmarks.
struct SearchCounts {
    std::size_t evaluations = 0;
    bool whole_search = false;  // the call took the whole search
};

namespace detail {

// How far a final value can lie from a peak of pass i - 1 near beta: the
// half-widths of the windows still to come, step_(i-1) (1 + 0.1 + ...) <
// 1.12 step_(i-1), and a rounding of beta of about one ulp per pass.
inline double search_reach(int i, double beta) {
    return 1.12 * pass_step(i - 1) + 64.0 * std::numeric_limits<double>::epsilon() * std::fabs(beta);
}

// The premises of the local replay: a stack the count certifies everywhere in
// the guided range (every walk there succeeds without saturating), and the
// number of its modes. Empty when the whole search must be taken.
std::optional<std::size_t> local_mode_total(const MultiLayer& multilayer, double omega,
                                            Polarization polarization);

// Mode k lies in (a, b]: count(a) > k >= count(b), b - a at most about 1e-4.
struct ModeBracket {
    double a = 0.0;
    double b = 0.0;
    bool ok = false;
};
ModeBracket locate_mode(const MultiLayer& multilayer, double omega, Polarization polarization,
                        std::size_t mode, std::size_t total, const CancelCheck& cancel);

// A fence of the band around mode k: the search value whose claim probe bounds
// the band (`value`, NaN for an end of the guided range) and the count there.
struct Fence {
    double value = std::numeric_limits<double>::quiet_NaN();
    std::size_t count = 0;
    bool found = false;
};

// The fences in `values` (every search value in [x, y], ascending) around the
// bracket of mode k; `found` is false on a side where the region must grow.
struct Fences {
    Fence upper, lower;
    bool failed = false;  // a walk failed: take the whole search
};
Fences find_fences(const MultiLayer& multilayer, double omega, Polarization polarization,
                   std::span<const double> values, double x, double y, const ModeBracket& bracket,
                   std::size_t mode, std::size_t total);

// The value of mode k when a search value claims it alone (see the .cpp).
struct ClaimedMode {
    bool found = false;   // beta holds the answer
    bool fenced = false;  // the claim fences lay in the region: no need to grow for them
    double beta = 0.0;
    bool failed = false;  // a walk failed: take the whole search
};
ClaimedMode claimed_alone(const MultiLayer& multilayer, double omega, Polarization polarization,
                          std::span<const double> values, double x, double y,
                          const ModeBracket& bracket, std::size_t mode, std::size_t total,
                          const CancelCheck& cancel);

// Whether mode k is the only mode within three claim widths of beta (count
// k above it, k + 1 below it); empty when a walk fails. Then every other
// mode's value (a claimed value within a claim width of its mode, a refined
// one within half the refinement's tolerance) sorts on its own side of beta.
std::optional<bool> alone_near(const MultiLayer& multilayer, double omega,
                               Polarization polarization, double beta, std::size_t mode);

// The count at max(beta, lower end of the guided range); empty when the walk fails.
std::optional<std::size_t> modes_above(const MultiLayer& multilayer, double omega,
                                       Polarization polarization, double beta);

// The first pass replayed on demand: its samples and the final values of its
// peaks are computed once and kept.
template <class Evaluate>
class FirstPassReplay {
public:
    FirstPassReplay(const MultiLayer& multilayer, double omega, Evaluate& evaluate)
        : first_(first_pass(multilayer, omega)),
          count_(multilayer.scan_limit <= 2 ? 0 : arange_count(first_.lo, first_.hi, first_.step)),
          scan_limit_(multilayer.scan_limit),
          evaluate_(evaluate) {}

    // Every final value of the whole search in [x, y], ascending.
    std::vector<double> values_in(double x, double y) {
        std::vector<double> out;
        if (count_ == 0 || scan_limit_ <= 2) return out;
        const double reach = search_reach(3, std::fmax(std::fabs(x), std::fabs(y)));
        const double from = std::floor((x - reach - first_.lo) / first_.step) - 1.0;
        const double to = std::ceil((y + reach - first_.lo) / first_.step) + 1.0;
        const double last = static_cast<double>(count_ - 1);
        if (!(to >= 0.0 && from <= last)) return out;
        const std::size_t k_lo = from <= 0.0 ? 0 : static_cast<std::size_t>(from);
        const std::size_t k_hi = to >= last ? count_ - 1 : static_cast<std::size_t>(to);
        std::vector<double> centres;
        for (const std::size_t peak : peaks_between(k_lo, k_hi))
            centres.push_back(arange_at(peak, first_.lo, first_.step));
        // Each later pass follows only the peaks that can still end in [x, y].
        for (int i = 3; i < scan_limit_; ++i) {
            std::vector<double> next;
            for (const double c : centres) {
                const double r = search_reach(i, c);
                if (!(c >= x - r && c <= y + r)) continue;
                const std::vector<double>& found = window_peaks(i, c);
                next.insert(next.end(), found.begin(), found.end());
            }
            centres.swap(next);
        }
        for (const double v : centres)
            if (v >= x && v <= y) out.push_back(v);
        std::sort(out.begin(), out.end());
        return out;
    }

private:
    double sample(std::size_t k) {
        auto [it, inserted] = samples_.try_emplace(k, 0.0);
        if (inserted) it->second = evaluate_(arange_at(k, first_.lo, first_.step));
        return it->second;
    }
    // y[k-1] - y[k] is not an exact zero: the state after k is fixed by the two.
    bool changes_at(std::size_t k) { return !(sample(k - 1) - sample(k) == 0.0); }

    // The first-pass peaks whose middle sample lies in [k_lo, k_hi].
    std::vector<std::size_t> peaks_between(std::size_t k_lo, std::size_t k_hi) {
        std::size_t j = k_lo;
        while (j > 0 && !changes_at(j)) --j;
        const std::size_t begin = j == 0 ? 0 : j - 1;
        std::vector<std::size_t> peaks;
        scan_samples(
            begin, count_, pass_threshold(2), [&](std::size_t k) { return sample(k); },
            [&](std::size_t middle) {
                if (middle >= k_lo && middle <= k_hi) peaks.push_back(middle);
            },
            [&](std::size_t k) { return k > k_hi && changes_at(k); });
        return peaks;
    }

    // The peaks of pass i's window around the pass i - 1 peak c, scanned whole.
    const std::vector<double>& window_peaks(int i, double c) {
        auto [it, inserted] = windows_.try_emplace({i, c});
        if (inserted) {
            const double previous_step = pass_step(i - 1);
            scan_window(c - previous_step, c + previous_step, pass_step(i), pass_threshold(i),
                        evaluate_, it->second);
        }
        return it->second;
    }

    FirstPass first_;
    std::size_t count_;
    int scan_limit_;
    Evaluate& evaluate_;
    std::map<std::size_t, double> samples_;
    std::map<std::pair<int, double>, std::vector<double>> windows_;
};

// The values between the fences (the ends of the guided range where a fence
// is one), for complete_mode_band.
std::vector<double> band_values(std::span<const double> values, const Fences& fences);

// neff of `mode` over any characteristic value: the local replay where its
// premises hold, else the whole search and completion (mode_list).
template <class Characteristic>
NeffResult local_neff(const MultiLayer& multilayer, double omega, Polarization polarization,
                      std::uint32_t mode, Characteristic&& characteristic,
                      const CancelCheck& cancel, SearchCounts* counts = nullptr) {
    CountedCharacteristic evaluate(characteristic, cancel);
    const auto whole = [&]() -> NeffResult {
        if (counts) counts->whole_search = true;
        std::vector<double> modes = complete_search(
            multilayer, omega, polarization, search_passes(multilayer, omega, evaluate, {}),
            cancel);
        if (counts) counts->evaluations = evaluate.evaluations();
        if (mode < modes.size()) return modes[mode];
        return mode_not_found_message(mode, modes.size());
    };
    // The first pass's sample count faults as the whole search's would.
    FirstPassReplay replay(multilayer, omega, evaluate);
    const std::optional<std::size_t> total = local_mode_total(multilayer, omega, polarization);
    if (!total) return whole();
    if (mode >= *total) return mode_not_found_message(mode, *total);
    const ModeBracket bracket = locate_mode(multilayer, omega, polarization, mode, *total, cancel);
    if (!bracket.ok) return whole();

    double below = 0.002, above = 0.002;  // the region around the bracket
    bool claim_settled = false;  // the claim fences were found and gave no answer
    for (;;) {
        const double x = bracket.a - below, y = bracket.b + above;
        const std::vector<double> values = replay.values_in(x, y);
        if (!claim_settled) {
            const ClaimedMode claimed = claimed_alone(multilayer, omega, polarization, values, x,
                                                      y, bracket, mode, *total, cancel);
            if (claimed.failed) return whole();
            if (claimed.found) {
                if (counts) counts->evaluations = evaluate.evaluations();
                return claimed.beta / omega;
            }
            claim_settled = claimed.fenced;
        }
        const Fences fences = find_fences(multilayer, omega, polarization, values, x, y,
                                          bracket, mode, *total);
        if (fences.failed) return whole();
        if (fences.upper.found && fences.lower.found) {
            const ModeBand band{fences.upper.count, fences.lower.count, *total};
            const std::vector<double> inside = band_values(values, fences);
            // A mode's value never depends on the modes refined after it, and
            // every value lies within a claim width of its mode: the modes
            // below beta - 3w (w a claim width) have values below beta - 2w.
            // So the band is refined only down to the last mode above
            // beta - 3w, and the rest only when the k-th value there is
            // not clear of the modes below.
            auto betas = complete_mode_band(multilayer.layers, omega, polarization, inside, band,
                                            mode, cancel);
            if (!betas) return whole();
            const double beta = (*betas)[mode - band.first];
            const double clear_below = beta - 3.0 * claim_width_at(beta);
            const std::optional<std::size_t> near = modes_above(multilayer, omega, polarization, clear_below);
            if (!near) return whole();
            const std::size_t through = std::min(std::max<std::size_t>(*near, std::size_t{mode} + 1), band.end) - 1;
            if (through > mode) {
                betas = complete_mode_band(multilayer.layers, omega, polarization, inside, band,
                                           through, cancel);
                if (!betas) return whole();
            }
            betas->resize(through + 1 - band.first);
            std::sort(betas->begin(), betas->end(), std::greater<double>{});
            const double kth = (*betas)[mode - band.first];
            if (!(kth > clear_below + 2.0 * claim_width_at(beta)) && through + 1 < band.end) {
                betas = complete_mode_band(multilayer.layers, omega, polarization, inside, band,
                                           band.end, cancel);
                if (!betas) return whole();
                std::sort(betas->begin(), betas->end(), std::greater<double>{});
            }
            if (counts) counts->evaluations = evaluate.evaluations();
            return (*betas)[mode - band.first] / omega;
        }
        // find_fences takes an end of the guided range as a fence once the
        // region covers it, so the doubling ends.
        if (!fences.upper.found) above *= 2.0;
        if (!fences.lower.found) below *= 2.0;
        if (!(std::isfinite(above) && std::isfinite(below))) return whole();
    }
}

}  // namespace detail

// neff of `mode` with the selected backend's characteristic value.
NeffResult search_neff(const MultiLayer& multilayer, double omega, Polarization polarization,
                       std::uint32_t mode, const CancelCheck& cancel, SearchCounts* counts = nullptr);

}  // namespace tavrik
