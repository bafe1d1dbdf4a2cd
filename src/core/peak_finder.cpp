#include "peak_finder.hpp"

#include <algorithm>
#include <utility>

namespace tavrik {

// The streaming scan over the stored samples, then the order by height.
std::vector<Peak> PeakFinder::find_peaks() const {
    std::vector<Peak> peaks;
    PeakScanner scanner(settings_);
    Peak peak;
    for (const double y : y_) {
        if (scanner.feed(y, peak)) peaks.push_back(peak);
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
