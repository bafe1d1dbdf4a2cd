// Small numeric helpers shared by the search and the sampling grid.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "complex.hpp"

namespace tavrik {

// The number of samples of arange(start, stop, step): ceil((stop - start) / step),
// which must lie strictly between -1 and 2^32 (NaN and infinities fail with the
// missing-value fault). A ceiling in (-1, 0] gives no sample.
std::size_t arange_count(double start, double stop, double step);
// The count before it is checked: ceil((stop - start) / step), any double.
double arange_ceiling(double start, double stop, double step);

// Sample k of such a range, computed from its index: k*step + start (no running
// sum, so long ranges carry no accumulated error).
inline double arange_at(std::size_t k, double start, double step) {
    return static_cast<double>(k) * step + start;
}

// The whole range. `bytes_per_sample` is what the caller will keep per sample
// in all (the range itself and whatever it builds on it); a count whose bytes
// the system cannot give is refused with MemoryRefused before anything is
// allocated (see memory_budget.hpp).
std::vector<double> arange(double start, double stop, double step,
                           std::size_t bytes_per_sample = sizeof(double));

// Running sums in order: out[0] = v[0], out[k] = out[k-1] + v[k].
std::vector<double> cumsum(std::span<const double> values);

// Trapezoid rule on a uniform grid: dx * (sum(y) - 0.5*(y_0 + y_(n-1))), with dx
// taken from the first two samples.
Complex integrate_trapezoid(std::span<const Complex> y, std::span<const double> x);

}  // namespace tavrik
