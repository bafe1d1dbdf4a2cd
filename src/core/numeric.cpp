#include "numeric.hpp"

#include <cmath>

#include "fault.hpp"
#include "memory_budget.hpp"

namespace tavrik {

std::size_t arange_count(double start, double stop, double step) {
    const double m = arange_ceiling(start, stop, step);
    if (!(m > -1.0 && m < 4294967296.0)) fail_unwrap();
    return static_cast<std::size_t>(m);
}

double arange_ceiling(double start, double stop, double step) { return std::ceil((stop - start) / step); }

std::vector<double> arange(double start, double stop, double step,
                           std::size_t bytes_per_sample) {
    refuse_oversized_range(arange_ceiling(start, stop, step), step);
    const std::size_t count = arange_count(start, stop, step);
    require_memory(count, bytes_per_sample);
    std::vector<double> out;
    out.reserve(count);
    for (std::size_t k = 0; k < count; ++k) out.push_back(arange_at(k, start, step));
    return out;
}

std::vector<double> cumsum(std::span<const double> values) {
    std::vector<double> out;
    out.reserve(values.size());
    double sum = 0.0;
    for (std::size_t k = 0; k < values.size(); ++k) {
        sum = k == 0 ? values[0] : sum + values[k];
        out.push_back(sum);
    }
    return out;
}

Complex integrate_trapezoid(std::span<const Complex> y, std::span<const double> x) {
    if (y.size() != x.size()) fail_length_mismatch();
    const Complex first = at(y, 0);
    const double x1 = at(x, 1);
    const double dx = x1 - x[0];
    Complex sum{0.0, 0.0};
    for (const Complex& v : y) sum = sum + v;
    const Complex ends = real(0.5) * (first + y[y.size() - 1]);
    return real(dx) * (sum - ends);
}

}  // namespace tavrik
