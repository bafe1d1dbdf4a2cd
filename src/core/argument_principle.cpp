#include "argument_principle.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "fault.hpp"

namespace tavrik {

namespace {

constexpr double eps = std::numeric_limits<double>::epsilon();
constexpr double max_step_phase = std::numbers::pi / 4.0;
constexpr std::size_t poll_interval = 4096;
constexpr std::size_t max_edge_steps = 1u << 20;

// f at z as a unit phasor; a zero or a non-finite value stops the count.
struct Sampler {
    const ComplexFunction& f;
    const CancelCheck& cancel;
    std::size_t evaluations = 0;

    Complex phasor(Complex z) {
        if (++evaluations % poll_interval == 0 && cancel()) throw Cancelled{};
        const Complex v = f(z);
        const double m = abs(v);
        if (!(m > 0.0) || !std::isfinite(m)) throw ContourHit{z};
        return Complex{v.re / m, v.im / m};
    }
};

double phase_step(Complex from, Complex to) {
    const Complex r = to * conj(from);
    return std::atan2(r.im, r.re);
}

// The phase change of f along the segment a -> b, refined until every step
// is unambiguous (see the header).
double edge_phase(Sampler& sampler, Complex a, Complex b, double phase_rate, double scale) {
    const double length = abs(b - a);
    const double wanted = 8.0 + std::ceil(phase_rate * length);
    const std::size_t steps = static_cast<std::size_t>(std::min(wanted, double(max_edge_steps)));
    const double min_length = 16.0 * eps * scale;
    struct Step {
        Complex a, b, ua, ub;
    };
    std::vector<Step> pending;
    double total = 0.0;
    Complex za = a, ua = sampler.phasor(a);
    for (std::size_t k = 1; k <= steps; ++k) {
        const double t = double(k) / double(steps);
        const Complex zb = k == steps ? b : a + (b - a) * Complex{t, 0.0};
        const Complex ub = sampler.phasor(zb);
        pending.push_back({za, zb, ua, ub});
        while (!pending.empty()) {
            const Step s = pending.back();
            pending.pop_back();
            const Complex zm = (s.a + s.b) * Complex{0.5, 0.0};
            if (abs(s.b - s.a) < min_length) throw ContourHit{zm};
            const Complex um = sampler.phasor(zm);
            const double first = phase_step(s.ua, um), second = phase_step(um, s.ub);
            const double whole = phase_step(s.ua, s.ub);
            if (std::fabs(first) <= max_step_phase && std::fabs(second) <= max_step_phase &&
                std::fabs(first + second - whole) <= 1e-9) {
                total += first + second;
            } else {
                pending.push_back({zm, s.b, um, s.ub});
                pending.push_back({s.a, zm, s.ua, um});
            }
        }
        za = zb;
        ua = ub;
    }
    return total;
}

double box_scale(const Rectangle& r) {
    return std::max({std::fabs(r.re_min), std::fabs(r.re_max), std::fabs(r.im_min),
                     std::fabs(r.im_max), r.re_max - r.re_min, r.im_max - r.im_min});
}

long count_in(Sampler& sampler, const Rectangle& r, double phase_rate) {
    const Complex c00{r.re_min, r.im_min}, c10{r.re_max, r.im_min};
    const Complex c11{r.re_max, r.im_max}, c01{r.re_min, r.im_max};
    const double scale = box_scale(r);
    const double turns = (edge_phase(sampler, c00, c10, phase_rate, scale) +
                          edge_phase(sampler, c10, c11, phase_rate, scale) +
                          edge_phase(sampler, c11, c01, phase_rate, scale) +
                          edge_phase(sampler, c01, c00, phase_rate, scale)) /
                         (2.0 * std::numbers::pi);
    // Every step is below pi/4, so the sum is a whole number of turns up to
    // the rounding of a few thousand atan2 values.
    return std::lround(turns);
}

bool inside(const Rectangle& r, Complex z, double slack) {
    return z.re >= r.re_min - slack && z.re <= r.re_max + slack && z.im >= r.im_min - slack &&
           z.im <= r.im_max + slack;
}

// The two halves of r across its longer side, cut at `fraction` of it.
std::pair<Rectangle, Rectangle> halves(const Rectangle& r, double fraction) {
    Rectangle lo = r, hi = r;
    if (r.re_max - r.re_min >= r.im_max - r.im_min) {
        const double cut = r.re_min + fraction * (r.re_max - r.re_min);
        lo.re_max = cut;
        hi.re_min = cut;
    } else {
        const double cut = r.im_min + fraction * (r.im_max - r.im_min);
        lo.im_max = cut;
        hi.im_min = cut;
    }
    return {lo, hi};
}

std::optional<Complex> root_in(const ComplexFunction& f, const Rectangle& r) {
    const double w = r.re_max - r.re_min, h = r.im_max - r.im_min;
    const Complex c{r.re_min + 0.5 * w, r.im_min + 0.5 * h};
    const std::optional<Complex> z =
        muller(f, c + Complex{-0.2 * w, -0.1 * h}, c + Complex{0.2 * w, -0.15 * h}, c + Complex{0.05 * w, 0.2 * h});
    if (z && inside(r, *z, 64.0 * eps * box_scale(r))) return z;
    return std::nullopt;
}

}  // namespace

std::optional<Complex> muller(const ComplexFunction& f, Complex z0, Complex z1, Complex z2) {
    Complex f0 = f(z0), f1 = f(z1), f2 = f(z2);
    for (int iteration = 0; iteration < 200; ++iteration) {
        if (f2.re == 0.0 && f2.im == 0.0) return z2;
        const Complex h1 = z1 - z0, h2 = z2 - z1;
        const Complex d1 = (f1 - f0) / h1, d2 = (f2 - f1) / h2;
        const Complex a = (d2 - d1) / (h2 + h1);
        const Complex b = a * h2 + d2;
        const Complex root = sqrt(b * b - Complex{4.0, 0.0} * a * f2);
        const Complex plus = b + root, minus = b - root;
        const Complex den = abs(plus) >= abs(minus) ? plus : minus;
        if (!(abs(den) > 0.0)) return std::nullopt;
        const Complex dz = Complex{-2.0, 0.0} * f2 / den;
        const Complex z3 = z2 + dz;
        if (!std::isfinite(z3.re) || !std::isfinite(z3.im)) return std::nullopt;
        if (abs(dz) <= 2.0 * eps * abs(z3)) return z3;
        z0 = z1;
        f0 = f1;
        z1 = z2;
        f1 = f2;
        z2 = z3;
        f2 = f(z3);
    }
    return std::nullopt;
}

long winding_number(const ComplexFunction& f, const Rectangle& box, double phase_rate,
                    const CancelCheck& cancel) {
    Sampler sampler{f, cancel};
    return count_in(sampler, box, phase_rate);
}

ZeroSearch zeros_in(const ComplexFunction& f, const Rectangle& box, double phase_rate,
                    const CancelCheck& cancel) {
    Sampler sampler{f, cancel};
    ZeroSearch result;
    result.count = count_in(sampler, box, phase_rate);
    struct Pending {
        Rectangle box;
        long count;
    };
    std::vector<Pending> pending{{box, result.count}};
    // Cuts slightly off the middle first: a zero sitting on the middle line
    // (a symmetric stack puts them there) moves the cut, not the count.
    static constexpr double fractions[] = {0.5 - 1.0 / 64.0, 0.5 + 3.0 / 64.0, 0.5 - 7.0 / 64.0,
                                           0.5 + 11.0 / 64.0};
    while (!pending.empty()) {
        const Pending p = pending.back();
        pending.pop_back();
        if (p.count <= 0) continue;
        if (p.count == 1) {
            if (auto z = root_in(f, p.box)) {
                result.zeros.push_back(*z);
                continue;
            }
        }
        const double w = p.box.re_max - p.box.re_min, h = p.box.im_max - p.box.im_min;
        const Complex centre{p.box.re_min + 0.5 * w, p.box.im_min + 0.5 * h};
        if (std::max(w, h) <= 1024.0 * eps * std::max(abs(centre), 1e-300)) {
            // Unresolvable in double precision: a k-fold zero counts k times.
            const std::optional<Complex> z = root_in(f, p.box);
            for (long k = 0; k < p.count; ++k) result.zeros.push_back(z ? *z : centre);
            continue;
        }
        bool split = false;
        for (double fraction : fractions) {
            const auto [lo, hi] = halves(p.box, fraction);
            try {
                const long n_lo = count_in(sampler, lo, phase_rate);
                const long n_hi = count_in(sampler, hi, phase_rate);
                if (n_lo + n_hi != p.count || n_lo < 0 || n_hi < 0) continue;
                pending.push_back({hi, n_hi});
                pending.push_back({lo, n_lo});
                split = true;
                break;
            } catch (const ContourHit&) {
            }
        }
        if (!split) throw ContourHit{centre};
    }
    result.evaluations = sampler.evaluations;
    return result;
}

}  // namespace tavrik
