// The effective-index search: the list of guided modes behind neff.
//
// Guided modes are the zeros of T22(beta), that is the poles of the
// characteristic value v(beta) = -log10|T22| (or log10|det S| for the
// scattering method, det S = T11/T22). The search scans beta over
//   (n_min omega + 1e-9, n_max omega - 1e-9)
// with step 0.01 and keeps every local maximum of v that reaches the pass's
// height; each maximum becomes a window of +-step around it, sampled with a
// step ten times finer in the next pass, down to 10^-(scan_limit - 1). The
// margin 1e-9 is absolute, in beta units. The values of the last pass, in
// beta units, are the answer.
//
// Each window is streamed: sample k is computed from its index (k*step + lo),
// evaluated and fed to a PeakScanner at once, so no list of samples or values
// is ever built and memory is bounded by the number of peaks, not by the
// number of samples.
//
// The passes alone miss modes whose peak is too narrow for the thresholds;
// mode_list completes their list with the certified count of mode_count.hpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "fault.hpp"
#include "layer.hpp"
#include "multilayer.hpp"
#include "numeric.hpp"
#include "peak_finder.hpp"

namespace tavrik {

// The propagation constants found by the last pass, in found order.
// Faults: an empty layer list (index 0 of length 0), a sample count outside
// -1 < m < 2^32 (a negative omega over a wide span, a non-finite omega or
// index). Throws Cancelled when `cancel` asks for it.
std::vector<double> search_betas(const MultiLayer& multilayer, double omega,
                                 Polarization polarization, const CancelCheck& cancel);

// The effective indices of the guided modes in descending order (mode 0 first).
std::vector<double> mode_list(const MultiLayer& multilayer, double omega,
                              Polarization polarization, const CancelCheck& cancel);

// "Mode m not found. Only c modes (0->c-1) available.", or, with no mode at
// all, "Mode m not found. Only 0 modes available."
std::string mode_not_found_message(std::uint32_t mode, std::size_t count);

namespace detail {

// How often the cancellation check is polled, in evaluations.
inline constexpr std::size_t cancel_poll_interval = 4096;

// 10^i by repeated squaring: exact for every i whose power a double holds
// (i <= 22), so 1 / pow10(i) is the double nearest to 10^-i.
inline double pow10(int i) {
    double result = 1.0;
    double base = 10.0;
    for (unsigned e = static_cast<unsigned>(i); e != 0; e >>= 1) {
        if (e & 1u) result *= base;
        base *= base;
    }
    return result;
}

inline double pass_step(int i) { return 1.0 / pow10(i); }

// The least value a maximum must reach in the pass with step 10^-i. Near a
// simple zero of T22, v ~ -log10|beta - beta_mode|, so the closest sample of a
// pass sits at about -log10(step) or more: the thresholds stay well below it
// and reject the shallow ripples between modes as the windows narrow.
inline double pass_threshold(int i) {
    if (i < 3) return -2.0;
    if (i < 6) return 0.0;
    if (i < 9) return 3.0;
    if (i < 12) return 6.0;
    return 9.0;
}

struct IndexBounds {
    double n_min;
    double n_max;
};

// The smallest and the largest n, in list order: a later layer replaces a
// bound only when strictly beyond it. An empty list faults on index 0.
inline IndexBounds index_bounds(std::span<const Layer> layers) {
    IndexBounds b{at(layers, 0).n, layers[0].n};
    for (const Layer& layer : layers.subspan(1)) {
        if (layer.n < b.n_min) b.n_min = layer.n;
        if (layer.n > b.n_max) b.n_max = layer.n;
    }
    return b;
}

// The pass loop over any characteristic value (a callable double(double
// beta)); search_betas hands it the selected matrix method, tests a synthetic
// curve.
//
// The found list is in scan order: window by window, in the order of the
// previous pass's list, and left to right within a window. No order is
// imposed on it, because none can change the answer: every window is
// scanned on its own, so the last pass yields the same multiset of finite
// values whatever the order, and mode_list ends with a stable descending sort,
// which depends only on that multiset.
template <class Characteristic>
std::vector<double> search_passes(const MultiLayer& multilayer, double omega,
                                  Characteristic&& characteristic, const CancelCheck& cancel) {
    const IndexBounds bounds = index_bounds(multilayer.layers);
    const double first_lo = bounds.n_min * omega + 1e-9;
    const double first_hi = bounds.n_max * omega - 1e-9;

    std::vector<double> found;    // this pass's peaks, in beta
    std::vector<double> centres;  // the previous pass's peaks: this pass's windows
    double previous_step = 0.0;
    std::size_t evaluations = 0;

    for (int i = 2; i < multilayer.scan_limit; ++i) {
        const double step = pass_step(i);
        PeakScanner scanner(PeakSettings{0.0, pass_threshold(i)});
        found.clear();

        const auto scan_window = [&](double lo, double hi) {
            const std::size_t count = arange_count(lo, hi, step);
            scanner.reset();
            Peak peak;
            for (std::size_t k = 0; k < count; ++k) {
                if (evaluations++ % cancel_poll_interval == 0 && cancel()) throw Cancelled{};
                if (scanner.feed(characteristic(arange_at(k, lo, step)), peak)) {
                    found.push_back(arange_at(peak.middle_position(), lo, step));
                }
            }
        };

        if (i == 2) {
            scan_window(first_lo, first_hi);
        } else {
            for (double centre : centres) scan_window(centre - previous_step, centre + previous_step);
        }
        centres.swap(found);
        previous_step = step;
        // With no window left every later pass is empty: stop here (a flat
        // or one-layer stack has no sample at all).
        if (centres.empty()) break;
    }
    return centres;
}

}  // namespace detail

}  // namespace tavrik
