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
#include "scattering_matrix.hpp"
#include "transfer_matrix.hpp"

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

// The search's values completed by the certified count (complete_mode_list),
// as effective indices in descending order.
std::vector<double> complete_search(const MultiLayer& multilayer, double omega,
                                    Polarization polarization, std::span<const double> betas,
                                    const CancelCheck& cancel);

// "Mode m not found. Only c modes (0->c-1) available.", or, with no mode at
// all, "Mode m not found. Only 0 modes available."
std::string mode_not_found_message(std::uint32_t mode, std::size_t count);

// Calls f with the characteristic value of the selected backend, a callable
// double(double beta). The backend byte: zero selects the scattering matrix,
// any other value the transfer matrix. The choice is made once, outside the
// sample loops.
template <class F>
decltype(auto) with_characteristic(const MultiLayer& multilayer, double omega,
                                   Polarization polarization, F&& f) {
    const std::span<const Layer> layers(multilayer.layers);
    if (static_cast<std::uint8_t>(multilayer.backend) == 0) {
        return f([layers, omega, polarization](double beta) {
            return scattering_characteristic(calculate_s_matrix(layers, omega, beta, polarization));
        });
    }
    return f([layers, omega, polarization](double beta) {
        return transfer_characteristic(calculate_t_matrix(layers, omega, beta, polarization));
    });
}

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

// The characteristic value with its evaluations counted and the
// cancellation check polled every cancel_poll_interval of them (first at the
// first evaluation).
template <class Characteristic>
class CountedCharacteristic {
public:
    CountedCharacteristic(Characteristic& characteristic, const CancelCheck& cancel)
        : characteristic_(characteristic), cancel_(cancel) {}
    double operator()(double beta) {
        if (evaluations_++ % cancel_poll_interval == 0 && cancel_()) throw Cancelled{};
        return characteristic_(beta);
    }
    std::size_t evaluations() const { return evaluations_; }

private:
    Characteristic& characteristic_;
    const CancelCheck& cancel_;
    std::size_t evaluations_ = 0;
};

// The one scan of the search: a fresh PeakScanner with the pass's threshold
// fed the samples y(k), k = begin, begin + 1, ... up to end - 1, or up to the
// first k for which stop(k) holds. on_peak(middle) receives each reported
// peak's middle sample as an index of the whole window, in scan order.
template <class Sample, class OnPeak, class Stop>
void scan_samples(std::size_t begin, std::size_t end, double threshold, Sample&& y,
                  OnPeak&& on_peak, Stop&& stop) {
    PeakScanner scanner(PeakSettings{0.0, threshold});
    Peak peak;
    for (std::size_t k = begin; k < end; ++k) {
        if (scanner.feed(y(k), peak)) on_peak(begin + peak.middle_position());
        if (stop(k)) break;
    }
}

// One window (lo, hi) of a pass, scanned whole.
template <class Evaluate>
void scan_window(double lo, double hi, double step, double threshold, Evaluate& evaluate,
                 std::vector<double>& found) {
    scan_samples(
        0, arange_count(lo, hi, step), threshold,
        [&](std::size_t k) { return evaluate(arange_at(k, lo, step)); },
        [&](std::size_t middle) { found.push_back(arange_at(middle, lo, step)); },
        [](std::size_t) { return false; });
}

// The passes after the first: each centre c of pass i - 1 becomes the window
// (c - step_(i-1), c + step_(i-1)) of pass i. Windows are independent, so the
// final values of a set of first-pass peaks are the union of each one's.
template <class Evaluate>
std::vector<double> later_passes(std::vector<double> centres, int scan_limit, Evaluate& evaluate) {
    std::vector<double> found;
    for (int i = 3; i < scan_limit && !centres.empty(); ++i) {
        const double previous_step = pass_step(i - 1);
        found.clear();
        for (const double centre : centres) {
            scan_window(centre - previous_step, centre + previous_step, pass_step(i),
                        pass_threshold(i), evaluate, found);
        }
        centres.swap(found);
    }
    return centres;
}

// The first pass's window over the whole index range.
struct FirstPass {
    double lo = 0.0;
    double hi = 0.0;
    double step = 0.0;
};

inline FirstPass first_pass(const MultiLayer& multilayer, double omega) {
    const IndexBounds bounds = index_bounds(multilayer.layers);
    return FirstPass{bounds.n_min * omega + 1e-9, bounds.n_max * omega - 1e-9, pass_step(2)};
}

// The pass loop over any characteristic value (a callable double(double
// beta)); search_betas hands it the selected matrix method, tests a synthetic
// curve. With the default scan_limit the first pass scans the whole range and
// seven more refine its peaks.
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
    const FirstPass first = first_pass(multilayer, omega);
    if (multilayer.scan_limit <= 2) return {};
    CountedCharacteristic evaluate(characteristic, cancel);
    std::vector<double> centres;
    scan_window(first.lo, first.hi, first.step, pass_threshold(2), evaluate, centres);
    return later_passes(std::move(centres), multilayer.scan_limit, evaluate);
}

}  // namespace detail

}  // namespace tavrik
