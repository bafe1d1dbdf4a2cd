// Local maxima of a sampled curve, flat tops (plateaus) included.
//
// The scan walks the samples once, left to right, keeping the previous value
// P, the rise D into the previous sample and the start of a run of equal
// samples. At sample i (i >= 2), with R = P - y[i]:
//  * the rise D must pass D >= min_difference, else the scan moves on;
//  * R == 0 exactly extends (or opens) a plateau; D is kept across it;
//  * R >= min_difference closes a peak over [plateau start or i-1, i).
// Every comparison with NaN is false, so a NaN sample is never a peak and a
// NaN neighbour blocks the peak beside it. The first and the last sample are
// never inside a reported range. A run of equal samples entered from a higher
// sample loses its first sample: the rise into it is negative and resets D to
// the zero step of the run, so the plateau opens one sample later.
//
// With the search's settings (min_difference 0, a minimum height h) a peak is
// a sample, or a run of equal samples, whose left neighbour is not higher,
// whose right neighbour is strictly lower and whose value is at least h.
//
// One scan, PeakScanner, fed one value at a time: it reports each peak in scan
// order as it closes and so never needs the samples stored. PeakFinder runs it
// over a whole span and sorts the peaks by height.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

namespace tavrik {

// Half-open sample range [start, end) of a peak or plateau.
struct PeakPosition {
    std::size_t start = 0;
    std::size_t end = 0;
    bool operator==(const PeakPosition&) const = default;
};

struct Peak {
    PeakPosition position;
    double height = 0.0;      // y[start]
    double left_diff = 0.0;   // rise into the peak, as the scan tracked it
    double right_diff = 0.0;  // drop after it: y[end - 1] - y[end]

    // The sample that stands for the peak: floor((start + end) / 2).
    std::size_t middle_position() const { return (position.start + position.end) / 2; }
    bool operator==(const Peak&) const = default;
};

struct PeakSettings {
    double min_difference = 0.0;
    std::optional<double> min_height;
};

// The streaming form: feed y[0], y[1], ... in order. feed() returns true, and
// fills `peak`, when the sample just fed closes a peak that passes the
// settings. The peaks come in scan order (left to right).
class PeakScanner {
public:
    explicit PeakScanner(PeakSettings settings = {}) : settings_(settings) {}

    // Forget every sample fed so far; the settings stay.
    void reset() {
        fed_ = 0;
        plateau_open_ = false;
    }

    bool feed(double y, Peak& peak) {
        const std::size_t i = fed_++;
        if (i < 2) {
            if (i == 0) {
                previous_ = y;
            } else {
                rise_ = y - previous_;
                previous_ = y;
            }
            return false;
        }
        const double drop = previous_ - y;
        if (!(rise_ >= settings_.min_difference)) {
            rise_ = y - previous_;
            plateau_open_ = false;
            previous_ = y;
            return false;
        }
        if (drop == 0.0) {
            if (!plateau_open_) {
                plateau_open_ = true;
                plateau_start_ = i - 1;
                plateau_height_ = previous_;
            }
            previous_ = y;
            return false;
        }
        bool closed = false;
        if (drop >= settings_.min_difference) {
            const std::size_t start = plateau_open_ ? plateau_start_ : i - 1;
            const double height = plateau_open_ ? plateau_height_ : previous_;
            closed = !settings_.min_height || height >= *settings_.min_height;
            if (closed) peak = Peak{{start, i}, height, rise_, drop};
        }
        rise_ = y - previous_;
        plateau_open_ = false;
        previous_ = y;
        return closed;
    }

private:
    PeakSettings settings_;
    std::size_t fed_ = 0;
    double previous_ = 0.0;  // P: the previous sample
    double rise_ = 0.0;      // D: the rise into the previous sample
    bool plateau_open_ = false;
    std::size_t plateau_start_ = 0;
    double plateau_height_ = 0.0;  // y[plateau_start_]
};

// The batch form over a borrowed span of values.
class PeakFinder {
public:
    explicit PeakFinder(std::span<const double> y) : y_(y) {}

    PeakFinder& set_min_difference(double value) {
        settings_.min_difference = value;
        return *this;
    }
    PeakFinder& set_min_height(double value) {
        settings_.min_height = value;
        return *this;
    }
    const PeakSettings& settings() const { return settings_; }

    // The peaks of y in descending order of height; equal heights keep their
    // left-to-right order.
    std::vector<Peak> find_peaks() const;

private:
    std::span<const double> y_;
    PeakSettings settings_;
};

namespace detail {

// Descending order of height, a peak going first only when strictly higher.
// Up to 20 peaks a stable insertion sort; above that std::stable_sort (any
// descending order is acceptable there, and this one is also stable).
void sort_by_height(std::vector<Peak>& peaks);

}  // namespace detail

}  // namespace tavrik
