#include "mode_count.hpp"

#include <algorithm>
#include <cstdint>
#include <cmath>
#include <limits>
#include <map>
#include <numbers>

#include "fault.hpp"
#include "roots.hpp"

namespace tavrik {

namespace detail {

namespace {

constexpr double pi = std::numbers::pi;

// Half-turn counts are kept in a double; beyond 2^52 consecutive integers are
// no longer all representable and the count is reported as saturated.
constexpr double max_exact_half_turns = 4503599627370496.0;  // 2^52

// Below this phase (k d or kappa d) a layer is stepped with its transfer matrix
// in (u, v) itself, whose entries have smooth limits at k = 0 and kappa = 0.
// Above it the matrix entries would lose either the angle (many turns) or the
// range (e^(kappa d) overflows), so the step works in the scaled coordinates.
constexpr double small_phase = 1.0;

// One layer's optics at one beta.
struct LayerTerms {
    double q = 0.0;      // k0^2 n^2 - beta^2, formed as (n k0 - beta)(n k0 + beta)
    double root = 0.0;   // sqrt(|q|): k in an oscillating layer, kappa in an evanescent one
    double p = 1.0;      // 1 (TE) or 1/n^2 (TM)
    double inv_p = 1.0;  // 1 (TE) or n^2 (TM)
    bool ok = false;
};

LayerTerms layer_terms(double n, double omega, double beta, bool te) {
    LayerTerms t;
    if (!(std::isfinite(n) && n > 0.0)) return t;
    const double n_omega = n * omega;
    t.q = (n_omega - beta) * (n_omega + beta);
    if (!std::isfinite(t.q)) return t;
    t.root = std::sqrt(std::fabs(t.q));
    if (!te) {
        t.inv_p = n * n;
        t.p = 1.0 / t.inv_p;
        if (!(std::isfinite(t.inv_p) && t.inv_p > 0.0 && std::isfinite(t.p))) return t;
    }
    t.ok = true;
    return t;
}

// Scale (u, v) to max-norm 1 and pick the representative with u > 0, or
// u == 0 and v > 0, of the line it spans. False for a zero or non-finite pair.
// Forced inline: it runs several times per layer, and the call costs more
// than its body.
[[gnu::always_inline]] inline bool normalise(double& u, double& v) {
    if (!(std::isfinite(u) && std::isfinite(v))) return false;
    const double m = std::max(std::fabs(u), std::fabs(v));
    if (m == 0.0) return false;
    u /= m;
    v /= m;
    if (u < 0.0 || (u == 0.0 && v < 0.0)) {
        u = -u;
        v = -v;
    }
    return true;
}

// After a step that turns theta by less than pi from a normalised start, the
// raw end pair has u < 0 (or u == 0 with v < 0) exactly when a zero of psi was
// crossed: theta passed the next multiple of pi.
bool crossed_zero(double u, double v) { return u < 0.0 || (u == 0.0 && v < 0.0); }

// (u, v) -> (pk u, v), the direction in scaled coordinates (u, v/(pk)), scaled
// so that neither component overflows.
void to_scaled(double pk, double& u, double& v) {
    if (pk <= 1.0)
        u *= pk;
    else
        v /= pk;
}

// The inverse of to_scaled, up to a positive factor.
void from_scaled(double pk, double& u, double& v) {
    if (pk <= 1.0)
        v *= pk;
    else
        u /= pk;
}

}  // namespace

std::size_t PruferWalk::count() const {
    if (!ok) return 0;
    if (saturated) return std::numeric_limits<std::size_t>::max();
    // theta_end = half_turns*pi + phi with phi = atan2(u, v) in [0, pi); one more
    // mode lies above beta when phi > theta_R, i.e. v < -p kappa u with u > 0.
    const bool beyond = u > 0.0 && v + p_kappa_end * u < 0.0;
    return static_cast<std::size_t>(half_turns) + (beyond ? 1u : 0u);
}

double PruferWalk::rest() const {
    if (!ok || saturated) return std::numeric_limits<double>::quiet_NaN();
    // phi - theta_R from one atan2 of the cross and dot products of the two
    // directions, accurate near zero, where the modes are. It is taken in the
    // last layer's scaled coordinates (u, v/(p kappa)), where the decaying
    // direction is (1, -1): the angle then grows far more evenly with beta than
    // in (u, v) when p kappa is large or small, which is what the root finder
    // needs. Scaling v moves no zero of u and no crossing of the decaying
    // direction, so the half-turns and the count are the same in both. phi
    // lies in [0, pi) and theta_R at 3 pi/4, so the difference lies in
    // (-3 pi/4, pi/4), inside atan2's range. With kappa = 0 (only at the lower
    // edge of the guided range) the plain angles are used: theta_R = pi/2.
    const double s = p_kappa_end;
    if (!(s > 0.0)) return std::atan2(-v, u);
    if (s < 1.0) return std::atan2(-(s * u + v), s * u - v);
    return std::atan2(-(u + v / s), u - v / s);
}

double PruferWalk::plain_rest() const {
    if (!ok || saturated) return std::numeric_limits<double>::quiet_NaN();
    // The angle from (1, -s) to (u, v), both in (u, v) itself.
    const double s = p_kappa_end;
    return std::atan2(-(s * u + v), u - s * v);
}

double mismatch(double half_turns, double rest, std::size_t m) {
    return (half_turns - static_cast<double>(m)) * pi + rest;
}

double PruferWalk::mismatch(std::size_t m) const { return detail::mismatch(half_turns, rest(), m); }

namespace {

// What the walk carries from layer to layer: the normalised direction (u, v),
// the whole half-turns of theta so far and, when the walk is asked for it,
// the slope d theta / d beta of the angle theta = atan2(u, v).
struct WalkState {
    double u = 1.0;
    double v = 0.0;
    double half_turns = 0.0;
    double slope = 0.0;
};

// A 2x2 matrix [[a, b], [c, d]] acting on (u, v).
struct Matrix2 {
    double a, b, c, d;
};

// The slope of theta after a layer whose transfer matrix in (u, v) is M, up to
// a positive factor that may depend on beta, with D = dM/d beta (of M or of
// M times that factor: the two differ by a multiple of M, which only stretches
// the image of the direction and turns no angle). For the input direction e
// with slope s and its image w = M e, a change of theta moves e by (v, -u),
// so
//   slope_out = (det M |e|^2 s + cross(w, D e)) / |w|^2,
//   cross(w, x) = w_v x_u - w_u x_v.
// The first term carries the input's slope, the second the layer's own turn.
void turn_slope(const Matrix2& m, const Matrix2& dm, WalkState& w) {
    const double u = w.u, v = w.v;
    const double wu = m.a * u + m.b * v, wv = m.c * u + m.d * v;
    const double xu = dm.a * u + dm.b * v, xv = dm.c * u + dm.d * v;
    const double det = m.a * m.d - m.b * m.c;
    w.slope = (det * (u * u + v * v) * w.slope + (wv * xu - wu * xv)) / (wu * wu + wv * wv);
}

// d/dq of S(q) = sin(sqrt(q) d)/sqrt(q), divided by d^3, as its power series
// in y = q d^2: sum over k >= 1 of k (-y)^(k-1) (-1) / (2k+1)!. The closed form
// (d cos - S)/(2q) cancels as q -> 0; for |y| <= 1 ten terms reach 1e-19.
double sine_ratio_slope(double y) {
    double term = -1.0 / 6.0, sum = term;
    for (int k = 1; k < 10; ++k) {
        const double dk = k;
        term *= -y * (dk + 1.0) / (dk * (2.0 * dk + 2.0) * (2.0 * dk + 3.0));
        sum += term;
    }
    return sum;
}

enum class Step { ok, failed, saturated };

// A thin layer (phase <= small_phase): its own transfer matrix in (u, v), with
// sin(x)/x and sinh(x)/x so that k -> 0 and kappa -> 0 go smoothly into the
// linear step u1 = u + (d/p) v, v1 = v.
//
// Its matrix is [[C, S/p], [-p q S, C]] with C = cos(sqrt(q) d) and S =
// sin(sqrt(q) d)/sqrt(q) (cosh and sinh for q < 0), entire functions of q with
// dC/dq = -d S/2; and dq/d beta = -2 beta.
template <bool Slope>
Step step_thin(const LayerTerms& t, double d, double phase, double pk, double beta, WalkState& w) {
    double c = 1.0, s_over_x = 1.0, sx = 0.0;  // cos or cosh, sin(x)/x, sin x or sinh x
    if (phase > 0.0) {
        if (t.q > 0.0) {
            tavrik::detail::sincos(phase, &sx, &c);
        } else {
            sx = std::sinh(phase);
            c = std::cosh(phase);
        }
        s_over_x = sx / phase;
    }
    if constexpr (Slope) {
        const double big_s = d * s_over_x;
        const double s_q = d * d * d * sine_ratio_slope(t.q * (d * d));
        const double c_q = -0.5 * d * big_s;
        const double dq = -2.0 * beta;
        const Matrix2 m{c, t.inv_p * big_s, -t.p * t.q * big_s, c};
        const Matrix2 dm{dq * c_q, dq * (t.inv_p * s_q), dq * (-t.p * (big_s + t.q * s_q)), dq * c_q};
        turn_slope(m, dm, w);
    }
    const double sign = t.q > 0.0 ? -1.0 : 1.0;
    const double u1 = c * w.u + (d * t.inv_p * s_over_x) * w.v;
    const double v1 = sign * pk * sx * w.u + c * w.v;
    w.u = u1;
    w.v = v1;
    if (crossed_zero(w.u, w.v)) w.half_turns += 1.0;
    return normalise(w.u, w.v) ? Step::ok : Step::failed;
}

// A thick oscillating layer: in (u, v/(pk)) the solution turns at the constant
// rate k, so the scaled angle grows by exactly k d. It crosses multiples of pi
// where theta does, since both share the sign of u and of v.
//
// Its matrix is [[cos x, sin x/(p k)], [-p k sin x, cos x]] with x = k d and
// dk/d beta = -beta/k.
template <bool Slope>
Step step_oscillating(const LayerTerms& t, double d, double phase, double pk, double beta,
                      WalkState& w) {
    if constexpr (Slope) {
        double sin_x = 0.0, cos_x = 1.0;
        tavrik::detail::sincos(phase, &sin_x, &cos_x);
        const double k = t.root, dk = -beta / k, dx = d * dk;
        const Matrix2 m{cos_x, sin_x / pk, -pk * sin_x, cos_x};
        const Matrix2 dm{-sin_x * dx, t.inv_p * (dk * (d * cos_x - sin_x / k) / k),
                         -t.p * (dk * sin_x + k * cos_x * dx), -sin_x * dx};
        turn_slope(m, dm, w);
    }
    double su = w.u, sv = w.v;
    to_scaled(pk, su, sv);
    const double alpha = std::atan2(su, sv);  // in [0, pi]
    const double total = alpha + phase;
    double turns = std::floor(total / pi);
    double rest = total - turns * pi;
    if (rest < 0.0) {
        rest += pi;
        turns -= 1.0;
    } else if (rest >= pi) {
        rest -= pi;
        turns += 1.0;
    }
    w.half_turns += turns;
    if (!(w.half_turns <= max_exact_half_turns)) return Step::saturated;
    double sr = 0.0, cr = 1.0;
    tavrik::detail::sincos(rest, &sr, &cr);
    w.u = sr;
    w.v = cr;
    from_scaled(pk, w.u, w.v);
    return normalise(w.u, w.v) ? Step::ok : Step::failed;
}

// A thick evanescent layer: in (U, W) = (u, v/(p kappa)), U + W grows by
// e^(kappa d) and U - W shrinks by e^(-kappa d). Only the direction matters,
// so scale by e^(-kappa d): the sum stays and the difference shrinks by
// e^(-2 kappa d), which underflows to zero harmlessly. Normalised, the sum is
// either exactly zero (the pure decaying direction, which the step keeps) or
// at least 2^-53, so the direction never collapses.
//
// Its matrix times e^(-kappa d) is [[ch, sh/(p kappa)], [p kappa sh, ch]] with
// ch = (1 + D)/2, sh = (1 - D)/2, D = e^(-2 kappa d), d kappa/d beta = beta/kappa.
template <bool Slope>
Step step_evanescent(const LayerTerms& t, double d, double phase, double pk, double beta,
                     WalkState& w) {
    if constexpr (Slope) {
        const double kappa = t.root, dkappa = beta / kappa;
        const double decay = std::exp(-2.0 * phase);
        const double ch = 0.5 * (1.0 + decay), sh = 0.5 * (1.0 - decay);
        const double dsh = d * dkappa * decay;  // = -d ch / d beta
        const Matrix2 m{ch, sh / pk, pk * sh, ch};
        const Matrix2 dm{-dsh, t.inv_p * (dsh / kappa - sh * dkappa / (kappa * kappa)),
                         t.p * (dkappa * sh + kappa * dsh), -dsh};
        turn_slope(m, dm, w);
    }
    double su = w.u, sv = w.v;
    to_scaled(pk, su, sv);
    if (su == 0.0 && sv < 0.0) {
        // u underflowed in the scaling: psi is at its next zero.
        w.half_turns += 1.0;
        sv = -sv;
    }
    if (!normalise(su, sv)) return Step::failed;
    const double sum = su + sv;
    if (sum == 0.0) return Step::ok;
    const double diff = (su - sv) * std::exp(-2.0 * phase);
    double u1 = 0.5 * (sum + diff);
    double w1 = 0.5 * (sum - diff);
    from_scaled(pk, u1, w1);
    w.u = u1;
    w.v = w1;
    // At most one zero: psi = a e^(kappa x) + b e^(-kappa x).
    if (crossed_zero(w.u, w.v)) w.half_turns += 1.0;
    return normalise(w.u, w.v) ? Step::ok : Step::failed;
}

// One inner layer at beta: its optics, then the step its phase calls for.
template <bool Slope>
Step step_layer(const Layer& layer, double omega, double beta, bool te, WalkState& w) {
    if (!(std::isfinite(layer.d) && layer.d >= 0.0)) return Step::failed;
    const LayerTerms t = layer_terms(layer.n, omega, beta, te);
    if (!t.ok) return Step::failed;
    const double phase = t.root * layer.d;
    if (!std::isfinite(phase)) return Step::failed;
    const double pk = t.p * t.root;
    if (!std::isfinite(pk)) return Step::failed;
    if (phase <= small_phase) return step_thin<Slope>(t, layer.d, phase, pk, beta, w);
    if (t.q > 0.0) return step_oscillating<Slope>(t, layer.d, phase, pk, beta, w);
    return step_evanescent<Slope>(t, layer.d, phase, pk, beta, w);
}

// d/d beta of theta_end - theta_R, from the slope of theta: theta_R =
// atan2(1, -s) with s = p kappa of the last layer and ds/d beta = p beta/kappa.
double end_slope(const WalkState& w, const LayerTerms& tn, double p_kappa, double beta) {
    const double ds = tn.p * beta / tn.root;
    return w.slope - ds / (1.0 + p_kappa * p_kappa);
}

template <bool Slope>
PruferWalk walk_stack(std::span<const Layer> layers, double omega, double beta, Polarization pol) {
    PruferWalk walk;
    const std::size_t count = layers.size();
    if (count < 2 || !(std::isfinite(omega) && omega > 0.0) || std::isnan(beta)) return walk;
    const bool te = is_te(pol);
    const Layer& first = layers[0];
    const Layer& last = layers[count - 1];

    // Below the guided range the outer layers do not confine; there the count
    // is the one at its lower edge, where kappa of the outer layer vanishes.
    const double edge = std::max(first.n, last.n) * omega;
    if (beta < edge) beta = edge;

    // The solution that decays into layer 0: psi ~ exp(kappa_0 x), v = p_0 kappa_0 u.
    const LayerTerms t0 = layer_terms(first.n, omega, beta, te);
    if (!t0.ok) return walk;
    // theta = atan2(1, p_0 kappa_0), d kappa_0/d beta = beta/kappa_0.
    const double s0 = t0.p * t0.root;
    WalkState w{1.0, s0, 0.0, Slope ? -(t0.p * beta / t0.root) / (1.0 + s0 * s0) : 0.0};
    if (!normalise(w.u, w.v)) return walk;

    for (std::size_t j = 1; j + 1 < count; ++j) {
        switch (step_layer<Slope>(layers[j], omega, beta, te, w)) {
            case Step::ok:
                break;
            case Step::failed:
                return walk;
            case Step::saturated:
                walk.saturated = true;
                walk.ok = true;
                return walk;
        }
    }

    // The solution that decays into the last layer has v = -p kappa u.
    const LayerTerms tn = layer_terms(last.n, omega, beta, te);
    if (!tn.ok) return walk;
    const double p_kappa = tn.p * tn.root;
    if (!std::isfinite(p_kappa)) return walk;
    walk.ok = true;
    walk.half_turns = w.half_turns;
    walk.u = w.u;
    walk.v = w.v;
    walk.p_kappa_end = p_kappa;
    if constexpr (Slope) walk.slope = end_slope(w, tn, p_kappa, beta);
    return walk;
}

}  // namespace

PruferWalk prufer_walk(std::span<const Layer> layers, double omega, double beta,
                       Polarization pol, bool with_slope) {
    return with_slope ? walk_stack<true>(layers, omega, beta, pol)
                      : walk_stack<false>(layers, omega, beta, pol);
}

}  // namespace detail

std::size_t count_modes_above(std::span<const Layer> layers, double omega, double beta,
                              Polarization pol) {
    return detail::prufer_walk(layers, omega, beta, pol).count();
}

namespace {

// Descending, one value before another only when strictly greater; NaN last.
std::vector<double> sorted_descending(std::span<const double> values) {
    std::vector<double> out(values.begin(), values.end());
    std::stable_sort(out.begin(), out.end(), [](double a, double b) {
        return a > b || (!std::isnan(a) && std::isnan(b));
    });
    return out;
}

// How far from a search value its mode may lie: the search resolves 1e-9 in beta.
constexpr double claim_width = 2e-9;
// A refined mode lies within this of the returned value.
constexpr double refine_tolerance = 1e-9;
// Walks between two polls of the cancel check.
constexpr unsigned poll_every = 16;
// Brent's method needs at most about the square of the bisection steps, and
// bisection of a double interval ends after at most about 2100 halvings; in
// practice a mode takes well under 20 steps. This only bounds hostile input.
constexpr int max_refine_steps = 5000;


// Everything learnt about the count along beta: for each count seen, the
// lowest and highest beta where it was seen, with the walk's angle there (NaN
// where no walk was made). The count is non-increasing in beta, so the
// tightest bracket of mode m is (highest beta with count > m, lowest beta with
// count <= m).
struct Probe {
    double beta = 0.0;
    double half_turns = std::numeric_limits<double>::quiet_NaN();
    double rest = std::numeric_limits<double>::quiet_NaN();
    bool walked() const { return !std::isnan(rest); }
    double mismatch(std::size_t m) const { return detail::mismatch(half_turns, rest, m); }
};

Probe probe_of(double beta, const detail::PruferWalk& w) {
    return Probe{beta, w.half_turns, w.rest()};
}

// The mismatch of mode m at a probe, with the sign its count gives it: a value
// rounded to the wrong side (or to zero on the side above) is replaced by the
// smallest normal double of the right sign.
double signed_mismatch(const Probe& p, std::size_t m, bool above) {
    const double f = p.mismatch(m);
    if (above) return f > 0.0 ? f : std::numeric_limits<double>::min();
    return f <= 0.0 ? f : -std::numeric_limits<double>::min();
}

struct CountSpan {
    Probe low, high;
};

class CountMap {
public:
    void record(std::size_t count, const Probe& probe) {
        auto [it, inserted] = spans_.try_emplace(count);
        CountSpan& s = it->second;
        if (inserted) {
            s.low = s.high = probe;
            return;
        }
        if (probe.beta < s.low.beta || (probe.beta == s.low.beta && !s.low.walked()))
            s.low = probe;
        if (probe.beta > s.high.beta || (probe.beta == s.high.beta && !s.high.walked()))
            s.high = probe;
    }
    // Highest beta seen with a count above m.
    Probe above(std::size_t m) const {
        auto it = spans_.upper_bound(m);
        return it == spans_.end() ? Probe{} : it->second.high;
    }
    // The count of that probe (0 when there is none).
    std::size_t count_above(std::size_t m) const {
        auto it = spans_.upper_bound(m);
        return it == spans_.end() ? 0 : it->first;
    }
    // Lowest beta seen with a count of at most m.
    Probe at_most(std::size_t m) const {
        auto it = spans_.upper_bound(m);
        if (it == spans_.begin()) return Probe{};
        return std::prev(it)->second.low;
    }

    // Forget what can no longer bracket mode m or any later one: every count
    // below the largest count of at most m.
    void forget_below(std::size_t m) {
        auto it = spans_.upper_bound(m);
        if (it != spans_.begin()) spans_.erase(spans_.begin(), std::prev(it));
    }

private:
    std::map<std::size_t, CountSpan> spans_;
};

class Completer {
public:
    Completer(std::span<const Layer> layers, double omega, Polarization pol,
              const CancelCheck& cancel)
        : layers_(layers), omega_(omega), pol_(pol), cancel_(cancel) {}

    detail::PruferWalk walk(double beta) {
        if (++walks_ % poll_every == 0 && cancel_()) throw Cancelled{};
        return detail::prufer_walk(layers_, omega_, beta, pol_);
    }

    // Walk at beta and remember the result; a probe without angle if the walk
    // failed.
    Probe walk_probe(double beta) {
        const detail::PruferWalk w = walk(beta);
        if (!w.ok || w.saturated) return Probe{beta};
        const Probe p = probe_of(beta, w);
        known_.record(w.count(), p);
        return p;
    }

    // Walk at beta and remember the count; false if the walk failed.
    bool probe(double beta, std::size_t& count) {
        const detail::PruferWalk w = walk(beta);
        if (!w.ok || w.saturated) return false;
        count = w.count();
        known_.record(count, probe_of(beta, w));
        return true;
    }

    // Mode m lies in (a, b] with count(a) > m >= count(b). Find it with
    // Brent's method on f = theta_end - theta_R - m pi, which is continuous,
    // strictly decreasing and zero exactly at mode m, whatever other modes the
    // bracket holds. The side of every new point is decided by the count, so
    // the bracket stays certified even where f is rounded; the result is the
    // middle of a final bracket no wider than about 1e-9.
    double refine(std::size_t m) {
        Probe a = known_.above(m);
        Probe b = known_.at_most(m);
        if (!a.walked()) a = walk_probe(a.beta);
        if (!b.walked()) b = walk_probe(b.beta);
        if (!(a.beta < b.beta) || !a.walked() || !b.walked())
            return a.beta + 0.5 * (b.beta - a.beta);
        // f with the sign the count gives it; NaN where the stack cannot be
        // walked (which cannot happen between two walked ends).
        auto f = [&](double beta) {
            const detail::PruferWalk w = walk(beta);
            if (!w.ok || w.saturated) return std::numeric_limits<double>::quiet_NaN();
            const std::size_t count = w.count();
            const Probe p = probe_of(beta, w);
            known_.record(count, p);
            return signed_mismatch(p, m, count > m);
        };
        std::uintmax_t budget = max_refine_steps;
        const roots::BrentResult r =
            roots::brent_find_root(f, a.beta, b.beta, signed_mismatch(a, m, true),
                                   signed_mismatch(b, m, false), refine_tolerance, budget);
        if (!r.evaluated) return r.b;
        return separate(m, r.middle());
    }

    // Two modes closer than the refinement's tolerance can share its final
    // bracket. Bisect on the count until the bracket holds mode m alone, so
    // that every mode gets a value of its own.
    double separate(std::size_t m, double found) {
        bool split = false;
        for (int iteration = 0; iteration < max_refine_steps; ++iteration) {
            const Probe a = known_.above(m);
            const Probe b = known_.at_most(m);
            if (known_.count_above(m) <= m + 1 || !(a.beta < b.beta)) break;
            const double mid = a.beta + 0.5 * (b.beta - a.beta);
            if (!(mid > a.beta && mid < b.beta)) break;  // no double left between them
            const detail::PruferWalk w = walk(mid);
            if (!w.ok || w.saturated) break;
            known_.record(w.count(), probe_of(mid, w));
            split = true;
        }
        if (!split) return found;
        const Probe a = known_.above(m);
        const Probe b = known_.at_most(m);
        return a.beta + 0.5 * (b.beta - a.beta);
    }

    CountMap& known() { return known_; }

private:
    std::span<const Layer> layers_;
    double omega_;
    Polarization pol_;
    const CancelCheck& cancel_;
    CountMap known_;
    unsigned walks_ = 0;
};

}  // namespace

namespace {

// The modes the search values stand for, highest first. The modes within
// claim_width of s are those with indices count(s + w) ... count(s - w) - 1;
// s takes the first of them not yet taken. Claims run in the same order as
// the values, so this is a largest one-to-one matching. False when a walk
// fails.
bool claim_search_values(Completer& completer, std::span<const double> search, double lo,
                         double hi, std::vector<double>& modes, std::vector<bool>& claimed) {
    std::size_t next_free = 0;
    for (const double s : search) {
        if (!(s > lo && s < hi)) continue;  // outside the guided range (or NaN)
        // Where doubles are coarser than the search's step, a few of their
        // spacings stand for its resolution.
        const double width =
            std::max(claim_width, 8.0 * std::numeric_limits<double>::epsilon() * s);
        std::size_t below = 0, above = 0;
        if (!completer.probe(std::max(s - width, lo), below)) return false;
        if (!completer.probe(std::min(s + width, hi), above)) return false;
        // Several modes within the width of one value: the value cannot tell
        // which of them it stands for unless the search found the whole
        // cluster. Otherwise the cluster is refined, so that every mode gets
        // a bracket (and a value) of its own.
        if (below > above + 1) {
            std::size_t values_near = 0;
            for (const double t : search) values_near += (t >= s - width && t <= s + width) ? 1 : 0;
            if (values_near < below - above) continue;
        }
        const std::size_t index = std::max(above, next_free);
        if (index < below && index < modes.size()) {
            modes[index] = s;
            claimed[index] = true;
            next_free = index + 1;
        }
    }
    return true;
}

}  // namespace

std::vector<double> complete_mode_list(std::span<const Layer> layers, double omega,
                                       Polarization pol, std::span<const double> search_betas,
                                       const CancelCheck& cancel) {
    std::vector<double> search = sorted_descending(search_betas);
    if (layers.size() < 2) return search;
    const double lo = std::max(layers.front().n, layers.back().n) * omega;
    double n_max = layers.front().n;
    for (const Layer& layer : layers) n_max = std::max(n_max, layer.n);
    const double hi = n_max * omega;
    if (!(std::isfinite(lo) && std::isfinite(hi) && lo < hi)) return search;

    // The first walk checks the rest of the input (finite positive indices
    // and omega, finite non-negative inner thicknesses): a stack it cannot
    // walk has no certified count, and the search values stand as they are.
    Completer completer(layers, omega, pol, cancel);
    std::size_t total = 0;
    if (!completer.probe(lo, total)) return search;
    if (total > max_completed_modes) return search;
    // No mode at or above max(n) omega: every layer is evanescent or flat there.
    completer.known().record(0, Probe{hi});

    std::vector<double> modes(total, 0.0);
    std::vector<bool> claimed(total, false);
    if (!claim_search_values(completer, search, lo, hi, modes, claimed)) return search;

    // The modes are refined in order, so the map only keeps the probes that
    // can still bracket a later mode: its size stays that of the search list.
    for (std::size_t m = 0; m < total; ++m) {
        if (claimed[m]) continue;
        completer.known().forget_below(m);
        modes[m] = completer.refine(m);
    }

    return sorted_descending(modes);
}

}  // namespace tavrik
