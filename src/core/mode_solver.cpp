#include "mode_solver.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <cstdint>

#include "fault.hpp"
#include "mode_count.hpp"
#include "roots.hpp"

namespace tavrik {

namespace detail {

namespace {


// Newton converges in a handful of walks; the budget is that of bisection
// (about 2100 halvings collapse any bracket of doubles) with room to spare, so
// it only binds on hostile input.
constexpr std::uintmax_t max_refine_steps = 6000;

// One walk at one beta, and where it lies on the variable w = t - s of the
// first guess, with t = sqrt(beta^2 - lo^2) and s = sqrt(hi^2 - beta^2).
//
// Why w: the mismatch has a square-root branch point at the lower edge of the
// guided range (kappa of the outer layer grows like t), and in a thick film it
// follows the film's phase s d, whose slope in beta grows without bound toward
// the upper edge. w is t - const near the lower edge and const - s near the
// upper one, and the mismatch is close to linear in it over the whole range,
// so a secant in w lands close to a mode from any bracket, and Newton in beta
// takes it from there.
struct Probe {
    double beta = 0.0;
    double t = 0.0, s = 0.0, w = 0.0;
    std::size_t count = 0;
    double half_turns = 0.0;
    double rest = 0.0;   // the plain rest, which falls strictly with beta
    double slope = 0.0;  // d mismatch / d beta
    double mismatch(std::size_t m) const { return detail::mismatch(half_turns, rest, m); }
};

// The mismatch of mode m at a probe with the sign its count certifies: a
// value of the wrong sign (rounding right at the root) becomes the smallest
// normal double of the right sign.
double certified_mismatch(const Probe& p, std::size_t m) {
    const double f = p.mismatch(m);
    if (p.count > m) return f > 0.0 ? f : std::numeric_limits<double>::min();
    return f <= 0.0 ? f : -std::numeric_limits<double>::min();
}

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
    double first_guess(const Probe& a, const Probe& b, std::size_t m) const;
    double newton_in_w(const Probe& p, double value) const;

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
    const PruferWalk w = prufer_walk(layers_, omega_, beta, pol_, true);
    if (!w.ok || w.saturated) return false;
    const double t = std::sqrt((beta - lo_) * (beta + lo_));
    const double s = std::sqrt((hi_ - beta) * (hi_ + beta));
    probe = Probe{beta, t, s, t - s, w.count(), w.half_turns, w.plain_rest(), w.slope};
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

// The first guess for mode m: the chord in w through the ends of its bracket
// (a, b).
double GuidedSolver::first_guess(const Probe& a, const Probe& b, std::size_t m) const {
    const double fa = certified_mismatch(a, m), fb = certified_mismatch(b, m);
    const double w = a.w + (b.w - a.w) * (fa / (fa - fb));
    return beta_of(w);
}

// The Newton point in w, mapped back to beta, for a long step: d w/d beta =
// beta (1/t + 1/s). NaN for a short one (below 1e-3 of the distance to either
// edge), which Newton in beta takes as well without the rounding of w.
double GuidedSolver::newton_in_w(const Probe& p, double value) const {
    const double dw = p.beta * (1.0 / p.t + 1.0 / p.s);
    const double step_w = -value * dw / p.slope;
    const double step = -value / p.slope;
    if (!(std::fabs(step) >= 1e-3 * std::min(p.beta - lo_, hi_ - p.beta)) || !std::isfinite(step_w))
        return std::numeric_limits<double>::quiet_NaN();
    return beta_of(p.w + step_w);
}

// Mode m lies in (a.beta, b.beta] with count(a) > m >= count(b): safeguarded
// Newton on the plain mismatch with its slope from the same walk, every new
// point sorted into the bracket by its count, down to two adjacent doubles;
// the one with the smaller mismatch is the root.
double GuidedSolver::solve(std::size_t m) {
    const std::size_t ia = bracket_of(m);
    const Probe a = probes_[ia], b = probes_[ia + 1];
    Probe lo_probe = a, hi_probe = b;
    const auto f = [&](double beta) {
        const Probe p = walk_inside(beta);
        if (p.count > m) {
            lo_probe = p;
            remember(p);  // it may bracket a later mode
        } else {
            hi_probe = p;
        }
        const double value = certified_mismatch(p, m);
        return roots::ValueSlope{value, p.slope, newton_in_w(p, value)};
    };
    std::uintmax_t budget = max_refine_steps;
    roots::newton_find_root(f, a.beta, b.beta, certified_mismatch(a, m), certified_mismatch(b, m),
                            first_guess(a, b, m), budget);
    // Nothing above the upper end can bracket a later mode.
    probes_.erase(std::lower_bound(probes_.begin(), probes_.end(), hi_probe.beta,
                                   [](const Probe& q, double beta) { return q.beta < beta; }),
                  probes_.end());
    probes_.push_back(hi_probe);
    return std::fabs(lo_probe.mismatch(m)) < std::fabs(hi_probe.mismatch(m)) ? lo_probe.beta
                                                                              : hi_probe.beta;
}

}  // namespace

GuidedSolution solve_guided(std::span<const Layer> layers, double omega, Polarization pol,
                            std::size_t first, std::size_t last, const CancelCheck& cancel) {
    GuidedSolution solution;
    GuidedSolver solver(layers, omega, pol, cancel);
    if (solver.start()) {
        solution.mode_count = solver.mode_count();
        last = std::min(last, solution.mode_count == 0 ? 0 : solution.mode_count - 1);
        // Modes below `first` are solved as well and dropped: each mode's final
        // bracket depends on the probes the modes before it left, and where
        // rounding makes the count flicker within a few units in the last
        // place of a root, another path may end on another double. Solving
        // every mode in order makes mode m the same bits whatever is asked.
        if (first < solution.mode_count) {
            solution.betas.reserve(last - first + 1);
            for (std::size_t m = 0; m <= last; ++m) {
                const double beta = solver.solve(m);
                if (m >= first) solution.betas.push_back(beta);
            }
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
