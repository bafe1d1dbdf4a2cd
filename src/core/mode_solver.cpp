#include "mode_solver.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "fault.hpp"
#include "mode_count.hpp"

namespace tavrik {

namespace detail {

namespace {

constexpr double pi = std::numbers::pi;
constexpr double infinity = std::numeric_limits<double>::infinity();

// Bisection alone collapses any bracket of doubles within about 2100 steps;
// the interpolation is forced back to bisection whenever it fails to halve
// the bracket, so this bound is only reached by hostile input.
constexpr int max_refine_steps = 6000;

// One walk at one beta, and where it lies on the interpolation variable
// w = t - s, with t = sqrt(beta^2 - lo^2) and s = sqrt(hi^2 - beta^2).
//
// Why w: the mismatch has a square-root branch point at the lower edge of the
// guided range (kappa of the outer layer grows like t), and in a thick film it
// follows the film's phase s d, whose slope in beta grows without bound toward
// the upper edge. Interpolated in beta, the secant crawls at both ends. w is
// t - const near the lower edge and const - s near the upper one, and the
// mismatch is close to linear in it over the whole range: the secant in w
// lands within a few per cent of a mode from any bracket.
struct Probe {
    double beta = 0.0;
    double t = 0.0, s = 0.0, w = 0.0;
    std::size_t count = 0;
    double half_turns = 0.0;
    double rest = 0.0;
    // theta_end - theta_R - m pi: the whole half-turns first, so that the value
    // keeps its relative precision near zero.
    double mismatch(std::size_t m) const {
        return (half_turns - static_cast<double>(m)) * pi + rest;
    }
};

// The mismatch of mode m at a probe with the sign its count certifies: a
// value of the wrong sign (rounding right at the root) becomes the smallest
// normal double of the right sign.
double certified_mismatch(const Probe& p, std::size_t m) {
    const double f = p.mismatch(m);
    if (p.count > m) return f > 0.0 ? f : std::numeric_limits<double>::min();
    return f <= 0.0 ? f : -std::numeric_limits<double>::min();
}

// A secant estimate of the root: `local` when it was taken as a first-order
// step from the latest point (small against the distance to either edge).
struct Guess {
    double beta = std::numeric_limits<double>::quiet_NaN();
    bool local = false;
};

class GuidedSolver {
public:
    GuidedSolver(std::span<const Layer> layers, double omega, Polarization pol,
                 const CancelCheck& cancel)
        : layers_(layers), omega_(omega), pol_(pol), cancel_(cancel) {}

    // Walks both ends of the guided range; false when there is no range or
    // the stack cannot be walked.
    bool start();
    std::size_t mode_count() const { return mode_count_; }
    std::size_t walks() const { return walks_; }
    // The root of mode m; modes are solved in increasing m.
    double solve(std::size_t m);

private:
    bool walk(double beta, Probe& probe);
    Probe walk_inside(double beta);
    void remember(const Probe& p);
    std::size_t bracket_of(std::size_t m) const;
    double beta_of(double w) const;
    Guess interpolate(const Probe& x, double fx, const Probe& y, double fy, const Probe& z,
                      double fz) const;
    double bisect(const Probe& a, const Probe& b) const;

    std::span<const Layer> layers_;
    double omega_;
    Polarization pol_;
    const CancelCheck& cancel_;
    double lo_ = 0.0;
    double hi_ = 0.0;
    double r_squared_ = 0.0;  // hi^2 - lo^2 = t^2 + s^2
    std::size_t mode_count_ = 0;
    std::size_t walks_ = 0;
    // Every probe that can still bracket a mode not yet solved, ascending in
    // beta (so with non-increasing counts).
    std::vector<Probe> probes_;
};

bool GuidedSolver::walk(double beta, Probe& probe) {
    if (walks_++ % solver_poll_interval == solver_poll_interval - 1 && cancel_()) throw Cancelled{};
    const PruferWalk w = prufer_walk(layers_, omega_, beta, pol_);
    if (!w.ok || w.saturated) return false;
    const double t = std::sqrt((beta - lo_) * (beta + lo_));
    const double s = std::sqrt((hi_ - beta) * (hi_ + beta));
    probe = Probe{beta, t, s, t - s, w.count(), w.half_turns, w.rest()};
    return std::isfinite(probe.rest);
}

// Inside the guided range of a stack whose two ends were walked, every walk
// succeeds: the products only shrink between the ends.
Probe GuidedSolver::walk_inside(double beta) {
    Probe p;
    if (!walk(beta, p)) fail("the stack walk failed inside the guided range");
    return p;
}

bool GuidedSolver::start() {
    if (layers_.size() < 2) return false;
    lo_ = std::max(layers_.front().n, layers_.back().n) * omega_;
    double n_max = layers_.front().n;
    for (const Layer& layer : layers_) n_max = std::max(n_max, layer.n);
    hi_ = n_max * omega_;
    r_squared_ = (hi_ - lo_) * (hi_ + lo_);
    Probe low, high;
    if (!walk(lo_, low)) return false;
    if (!(lo_ < hi_) || low.count == 0) return true;
    if (!walk(hi_, high)) return false;
    // No mode lies at or above max(n) omega, where no layer oscillates.
    high.count = 0;
    mode_count_ = low.count;
    probes_ = {low, high};
    return true;
}

void GuidedSolver::remember(const Probe& p) {
    const auto at = std::lower_bound(probes_.begin(), probes_.end(), p.beta,
                                     [](const Probe& q, double beta) { return q.beta < beta; });
    probes_.insert(at, p);
}

// The index a of the highest probe with a count above m; probe a + 1 has a
// count of at most m. Searched from the top, where the probes of the modes
// already solved were dropped.
std::size_t GuidedSolver::bracket_of(std::size_t m) const {
    std::size_t a = probes_.size() - 1;
    while (a > 0 && probes_[a].count <= m) --a;
    return a;
}

// beta at w: t - s = w with t^2 + s^2 = R^2 gives t = (w + sqrt(2 R^2 - w^2)) / 2.
double GuidedSolver::beta_of(double w) const {
    const double t = 0.5 * (w + std::sqrt(std::max(0.0, 2.0 * r_squared_ - w * w)));
    return std::hypot(lo_, std::max(0.0, t));
}

// The secant through the latest two points, in w. Far from the root it is
// mapped back through beta_of; near it the w step is turned into a beta step
// with the slope dw/dbeta at x, since the difference of two close w values
// would cancel most of its digits. The chord dw is formed from the beta
// difference for the same reason.
Guess GuidedSolver::interpolate(const Probe& x, double fx, const Probe& y, double fy,
                                const Probe& z, double fz) const {
    if (!(fx != fy)) return {};
    // The w differences from x, formed from beta differences.
    const auto w_from_x = [&](const Probe& q) {
        return (q.beta - x.beta) * (q.beta + x.beta) * (1.0 / (q.t + x.t) + 1.0 / (q.s + x.s));
    };
    const double dy = w_from_x(y);
    double step_w = -fx * (dy / (fy - fx));  // secant through x and y
    if (fz != fx && fz != fy && std::isfinite(fz)) {
        // Inverse quadratic interpolation through x, y and z (Lagrange form of
        // w(f) at f = 0, relative to x).
        const double dz = w_from_x(z);
        const double iqi = dy * fx * fz / ((fy - fx) * (fy - fz)) + dz * fx * fy / ((fz - fx) * (fz - fy));
        if (std::isfinite(iqi) && std::fabs(iqi) < 2.0 * std::fabs(step_w) + std::fabs(dy)) step_w = iqi;
    }
    const double step = step_w / (x.beta * (1.0 / x.t + 1.0 / x.s));
    if (std::fabs(step) < 1e-3 * std::min(x.beta - lo_, hi_ - x.beta)) return {x.beta + step, true};
    return {beta_of(x.w + step_w), false};
}

// The midpoint in w, or in beta where that rounds onto an end.
double GuidedSolver::bisect(const Probe& a, const Probe& b) const {
    const double beta = beta_of(0.5 * (a.w + b.w));
    if (beta > a.beta && beta < b.beta) return beta;
    return a.beta + 0.5 * (b.beta - a.beta);
}

// Mode m lies in (a.beta, b.beta] with count(a) > m >= count(b). Every new
// beta lies strictly inside the bracket and the count decides which end it
// replaces. The secant drives the iteration; a bisection takes over whenever
// a step is not below half the step two before it (Brent's rule), or leaves
// the bracket. It ends on two adjacent doubles, the one with the smaller
// mismatch being the root.
double GuidedSolver::solve(std::size_t m) {
    const std::size_t ia = bracket_of(m);
    Probe a = probes_[ia], b = probes_[ia + 1];
    Probe x = b, y = a, z = a;  // the latest point and the two before
    double fx = certified_mismatch(b, m), fy = certified_mismatch(a, m);
    double fz = std::numeric_limits<double>::quiet_NaN();
    double step_before = infinity, step_two_before = infinity;
    for (int i = 0; i < max_refine_steps && std::nextafter(a.beta, infinity) < b.beta; ++i) {
        const Guess guess = interpolate(x, fx, y, fy, z, fz);
        double beta = guess.beta;
        // A correction below half a unit in the last place: the root lies
        // between x and its neighbour toward the other end of the bracket,
        // and walking that neighbour collapses the bracket. (Stopping at x
        // instead would trust the secant's slope, which a pair of modes split
        // far below the step between x and y makes arbitrarily wrong.)
        if (guess.local && beta == x.beta) beta = std::nextafter(x.beta, x.count > m ? infinity : -infinity);
        if (guess.local && beta <= a.beta) beta = std::nextafter(a.beta, infinity);
        if (guess.local && beta >= b.beta) beta = std::nextafter(b.beta, -infinity);
        if (!(beta > a.beta && beta < b.beta) || !(std::fabs(beta - x.beta) < 0.5 * step_two_before))
            beta = bisect(a, b);
        const Probe p = walk_inside(beta);
        const double fp = certified_mismatch(p, m);
        if (p.count > m) {
            a = p;
            remember(p);  // it may bracket a later mode
        } else {
            b = p;
        }
        step_two_before = step_before;
        step_before = std::fabs(p.beta - x.beta);
        z = y;
        fz = fy;
        y = x;
        fy = fx;
        x = p;
        fx = fp;
    }
    // Nothing above b can bracket a later mode.
    probes_.erase(std::lower_bound(probes_.begin(), probes_.end(), b.beta,
                                   [](const Probe& q, double beta) { return q.beta < beta; }),
                  probes_.end());
    probes_.push_back(b);
    return std::fabs(a.mismatch(m)) < std::fabs(b.mismatch(m)) ? a.beta : b.beta;
}

}  // namespace

GuidedSolution solve_guided(std::span<const Layer> layers, double omega, Polarization pol,
                            std::size_t first, std::size_t last, const CancelCheck& cancel) {
    GuidedSolution solution;
    GuidedSolver solver(layers, omega, pol, cancel);
    if (solver.start()) {
        solution.mode_count = solver.mode_count();
        last = std::min(last, solution.mode_count == 0 ? 0 : solution.mode_count - 1);
        if (first < solution.mode_count) {
            solution.betas.reserve(last - first + 1);
            for (std::size_t m = first; m <= last; ++m) solution.betas.push_back(solver.solve(m));
        }
    }
    solution.walks = solver.walks();
    return solution;
}

}  // namespace detail

std::vector<double> guided_betas(std::span<const Layer> layers, double omega, Polarization pol,
                                 const CancelCheck& cancel) {
    return detail::solve_guided(layers, omega, pol, 0, std::numeric_limits<std::size_t>::max(),
                                cancel)
        .betas;
}

std::optional<double> guided_beta(std::span<const Layer> layers, double omega, Polarization pol,
                                  std::size_t mode, const CancelCheck& cancel) {
    detail::GuidedSolution solution = detail::solve_guided(layers, omega, pol, mode, mode, cancel);
    if (solution.betas.empty()) return std::nullopt;
    return solution.betas.front();
}

}  // namespace tavrik
