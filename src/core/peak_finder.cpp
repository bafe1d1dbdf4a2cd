#include "peak_finder.hpp"

#include <algorithm>
#include <utility>

namespace tavrik {

std::vector<Peak> PeakFinder::find_peaks() const {
    std::vector<Peak> peaks;
    const std::size_t n = y_.size();
    if (n < 3) return peaks;

    const double min_difference = settings_.min_difference;
    double previous = y_[1];
    double rise = y_[1] - y_[0];
    std::optional<std::size_t> plateau_start;
    for (std::size_t i = 2; i < n; ++i) {
        const double current = y_[i];
        const double drop = previous - current;
        if (!(rise >= min_difference)) {
            rise = current - previous;
            plateau_start.reset();
            previous = current;
            continue;
        }
        if (drop == 0.0) {
            if (!plateau_start) plateau_start = i - 1;
            previous = current;
            continue;
        }
        std::optional<Peak> candidate;
        if (drop >= min_difference) {
            const std::size_t start = plateau_start.value_or(i - 1);
            candidate = Peak{{start, i}, 0.0, rise, drop};
        }
        rise = current - previous;
        plateau_start.reset();
        previous = current;

        if (!candidate) continue;
        const double height = y_[candidate->position.start];
        if (settings_.min_height && !(height >= *settings_.min_height)) continue;
        candidate->height = height;
        peaks.push_back(*candidate);
    }
    detail::sort_by_height(peaks);
    return peaks;
}

namespace detail {

void sort_by_height(std::vector<Peak>& peaks) {
    const auto higher = [](const Peak& a, const Peak& b) { return a.height > b.height; };
    if (peaks.size() > 20) {
        std::stable_sort(peaks.begin(), peaks.end(), higher);
        return;
    }
    for (std::size_t i = 1; i < peaks.size(); ++i) {
        for (std::size_t j = i; j > 0 && higher(peaks[j], peaks[j - 1]); --j) {
            std::swap(peaks[j], peaks[j - 1]);
        }
    }
}

}  // namespace detail

}  // namespace tavrik
