#include "dispersion.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <limits>
#include <mutex>
#include <thread>

#include "fault.hpp"
#include "jet.hpp"
#include "mode_solver.hpp"
#include "search.hpp"

namespace tavrik {

namespace detail {

inline constexpr double nan = std::numeric_limits<double>::quiet_NaN();

namespace {

// Below this |q d^2| a layer's entries are summed as power series in q d^2:
// cos(sqrt(q) d) and sin(sqrt(q) d)/sqrt(q) are entire functions of q, and the
// series carry their derivatives through q = 0 (beta = n k0), where the closed
// forms divide by zero. At |q d^2| = 4 the series' terms fall below 1e-22 by
// the 15th, and beyond it the closed forms lose at most a few bits.
constexpr double series_limit = 4.0;
constexpr int series_terms = 18;

// The entire functions c(x) = sum (-x)^m/(2m)! and s(x) = sum (-x)^m/(2m+1)!
// (cos(sqrt(x)) and sin(sqrt(x))/sqrt(x)) as jets of the jet x.
struct EntirePair {
    Jet c, s;
};

EntirePair entire_pair(const Jet& x) {
    double c[3] = {0.0, 0.0, 0.0};  // value, first and second derivative
    double s[3] = {0.0, 0.0, 0.0};
    double power = 1.0;            // x^m
    double power_1 = 0.0;          // x^(m-1)
    double power_2 = 0.0;          // x^(m-2)
    double even = 1.0, odd = 1.0;  // (-1)^m/(2m)!, (-1)^m/(2m+1)!
    for (int m = 0; m < series_terms; ++m) {
        const double dm = static_cast<double>(m);
        c[0] += even * power;
        s[0] += odd * power;
        c[1] += dm * even * power_1;
        s[1] += dm * odd * power_1;
        c[2] += dm * (dm - 1.0) * even * power_2;
        s[2] += dm * (dm - 1.0) * odd * power_2;
        power_2 = power_1;
        power_1 = power;
        power *= x.v;
        even = -even / ((2.0 * dm + 1.0) * (2.0 * dm + 2.0));
        odd = -odd / ((2.0 * dm + 2.0) * (2.0 * dm + 3.0));
    }
    // power_1 and power_2 start as 0 so that the m = 0 and m = 1 derivative
    // terms vanish; from m = 2 on they hold x^(m-1) and x^(m-2).
    return {compose(x, c[0], c[1], c[2]), compose(x, s[0], s[1], s[2])};
}

// The transfer matrix of (psi, p psi') across one layer, up to a common factor:
//   [ c        s / p ]
//   [ -p q s   c     ]
// with c = cos(sqrt(q) d), s = sin(sqrt(q) d) / sqrt(q); cosh and sinh for
// q < 0. A thick evanescent layer's matrix is returned times e^(-kappa d).
struct LayerMatrix {
    Jet m11, m12, m21, m22;
};

LayerMatrix layer_matrix(const Jet& q, double p, double inv_p, double d) {
    const double t = q.v * (d * d);
    if (std::fabs(t) <= series_limit) {
        const EntirePair e = entire_pair((d * d) * q);
        const Jet s = d * e.s;
        return {e.c, inv_p * s, -p * (q * s), e.c};
    }
    if (t > 0.0) {
        const Jet k = sqrt(q);
        const JetSinCos phase = sincos(d * k);
        return {phase.cos, inv_p * (phase.sin / k), -p * (k * phase.sin), phase.cos};
    }
    // cosh and sinh times e^(-kappa d): (1 + e^(-2 kappa d))/2 and
    // (1 - e^(-2 kappa d))/2, which neither overflow nor lose the small term.
    const Jet kappa = sqrt(-q);
    const Jet decay = exp(-2.0 * d * kappa);
    const Jet ch = 0.5 * (constant_jet(1.0) + decay);
    const Jet sh = 0.5 * (constant_jet(1.0) - decay);
    return {ch, inv_p * (sh / kappa), p * (kappa * sh), ch};
}

// Divides u and v by the power of two nearest their size, so that long stacks
// neither overflow nor underflow. False when the pair is zero or not finite.
bool rescale(Jet& u, Jet& v) {
    const double m = std::max(std::fabs(u.v), std::fabs(v.v));
    if (!(m > 0.0 && std::isfinite(m))) return false;
    const int e = std::ilogb(m);
    u = ldexp(u, -e);
    v = ldexp(v, -e);
    return true;
}

struct Optics {
    double p = 1.0, inv_p = 1.0;  // p = 1 (TE) or 1/n^2 (TM)
    bool ok = false;
};

Optics optics(double n, bool te) {
    Optics o;
    if (!(std::isfinite(n) && n > 0.0)) return o;
    if (!te) {
        o.inv_p = n * n;
        o.p = 1.0 / o.inv_p;
    }
    o.ok = std::isfinite(o.inv_p) && o.p > 0.0;
    return o;
}

// n_a^2 - n_b^2, without cancellation between close indices.
double index_gap(double n_a, double n_b) { return (n_a - n_b) * (n_a + n_b); }

}  // namespace

// The jets run in x = s and y = k0, where s is kappa of the outer layer of the
// higher index n_c: s^2 = beta^2 - n_c^2 k0^2. Near cut-off s -> 0; in beta,
// F's derivatives would grow like 1/s^3 there and cancel in beta''. In s every
// q_j = k0^2 (n_j^2 - n_c^2) - s^2 is a polynomial, and the other outer
// layer's kappa either equals s or stays away from zero.
//
// F = v_end + p_(N-1) kappa_(N-1) u_end, up to a non-vanishing factor, with
// (u, v) = (psi, p psi') of the field that decays into layer 0. NaN value when
// the stack cannot be walked at beta.
Jet dispersion_function(std::span<const Layer> layers, double omega, double beta,
                        Polarization pol) {
    const Jet nan_jet = constant_jet(nan);
    if (layers.size() < 2) return nan_jet;
    const bool te = is_te(pol);
    const Layer& first = layers.front();
    const Layer& last = layers.back();
    const double n_c = std::max(first.n, last.n);
    const double s2 = (beta - n_c * omega) * (beta + n_c * omega);
    if (!(s2 > 0.0 && std::isfinite(s2))) return nan_jet;
    const Jet s{std::sqrt(s2), 1.0, 0.0, 0.0, 0.0, 0.0};
    const Jet k0{omega, 0.0, 1.0, 0.0, 0.0, 0.0};
    const Jet s_squared = s * s;
    const Jet k0_squared = k0 * k0;
    const auto q_of = [&](double n) { return index_gap(n, n_c) * k0_squared - s_squared; };
    const auto kappa_of = [&](double n) { return n == n_c ? s : sqrt(-q_of(n)); };

    const Optics o0 = optics(first.n, te);
    const Optics on = optics(last.n, te);
    if (!o0.ok || !on.ok) return nan_jet;
    Jet u = constant_jet(1.0);
    Jet v = o0.p * kappa_of(first.n);  // psi = e^(kappa_0 x) in layer 0

    for (std::size_t j = 1; j + 1 < layers.size(); ++j) {
        const Layer& layer = layers[j];
        const Optics o = optics(layer.n, te);
        if (!o.ok || !(std::isfinite(layer.d) && layer.d >= 0.0)) return nan_jet;
        const LayerMatrix m = layer_matrix(q_of(layer.n), o.p, o.inv_p, layer.d);
        const Jet u1 = m.m11 * u + m.m12 * v;
        const Jet v1 = m.m21 * u + m.m22 * v;
        u = u1;
        v = v1;
        if (!rescale(u, v)) return nan_jet;
    }
    return v + on.p * (kappa_of(last.n) * u);  // psi = e^(-kappa x) in the last layer
}

}  // namespace detail

ModeDispersion mode_dispersion(std::span<const Layer> layers, double omega, double beta,
                               Polarization pol) {
    const Jet f = detail::dispersion_function(layers, omega, beta, pol);
    if (std::isnan(f.v)) return {detail::nan, detail::nan};
    // The mode as s(k0): implicit differentiation of F(s, k0) = 0.
    const double s1 = -f.y / f.x;
    const double s2 = -((f.yy + 2.0 * f.xy * s1) + f.xx * (s1 * s1)) / f.x;
    // beta^2 = s^2 + n_c^2 k0^2, differentiated twice:
    //   beta beta' = s s' + n_c^2 k0,
    //   beta beta'' = s'^2 + s s'' + n_c^2 - beta'^2,
    // with n_c^2 - beta'^2 = s (n_c^2 s - s s'^2 - 2 n_c^2 k0 s') / beta^2
    // written out, so that nothing cancels as s -> 0 at cut-off.
    const double n_c = std::max(layers.front().n, layers.back().n);
    const double nc2 = n_c * n_c;
    const double s = std::sqrt((beta - n_c * omega) * (beta + n_c * omega));
    const double slope = (s * s1 + nc2 * omega) / beta;
    const double gap = s * ((nc2 * s - s * (s1 * s1)) - 2.0 * nc2 * omega * s1) / (beta * beta);
    const double curvature = ((s1 * s1 + s * s2) + gap) / beta;
    return {slope, curvature};
}

}  // namespace tavrik

namespace tavrik {

GroupIndexResult group_index(std::span<const Layer> layers, double omega, Polarization pol,
                             std::uint32_t mode, const CancelCheck& cancel) {
    // The whole list, not the one mode: a root refined on its own may differ
    // from the list's in the last bit, and group_index must agree with the
    // dispersion table to the bit.
    const std::vector<double> betas = guided_betas(layers, omega, pol, cancel);
    if (mode >= betas.size()) return mode_not_found_message(mode, betas.size());
    return mode_dispersion(layers, omega, betas[mode], pol).group_index;
}

namespace {

struct ModePoint {
    double neff, group_index, gvd;
};
using Column = std::vector<ModePoint>;

Column column_at(std::span<const Layer> layers, double omega, Polarization pol,
                 const CancelCheck& cancel) {
    const std::vector<double> betas = guided_betas(layers, omega, pol, cancel);
    Column column;
    column.reserve(betas.size());
    for (double beta : betas) {
        const ModeDispersion d = mode_dispersion(layers, omega, beta, pol);
        column.push_back({beta / omega, d.group_index, d.gvd});
    }
    return column;
}

constexpr std::size_t columns_per_poll = 16;
// Below this much estimated work a sweep runs on the calling thread alone:
// starting a thread and handing columns over costs tens of microseconds, and
// on a loaded machine a helper may wait far longer for a core.
constexpr double min_threaded_seconds = 2e-3;

// The columns are handed out one at a time from a shared counter, so a
// thread that meets cheap columns (fewer modes) takes more of them.
class Sweep {
public:
    Sweep(std::span<const Layer> layers, std::span<const double> omegas, Polarization pol)
        : layers_(layers), omegas_(omegas), pol_(pol), columns_(omegas.size()) {}

    // Works until no column is left, stop() is called, or a column fails; the
    // failure is kept for rethrow() and stops the other threads.
    void work(const CancelCheck& cancel) noexcept { run_until(omegas_.size(), cancel); }

    // One column at most, on the calling thread, before any helper starts.
    void work_one(const CancelCheck& cancel) noexcept {
        const std::size_t end = std::min<std::size_t>(1, omegas_.size());
        run_until(end, cancel);
    }

    void stop() noexcept { stop_.store(true, std::memory_order_relaxed); }
    bool stopped() const noexcept { return stop_.load(std::memory_order_relaxed); }

    // The check a helper thread polls: it never calls back into the caller.
    CancelCheck helper_check() {
        return CancelCheck{[](void* self) { return static_cast<Sweep*>(self)->stopped(); }, this};
    }

    void finished_one() {
        const std::lock_guard<std::mutex> lock(mutex_);
        ++finished_;
        done_.notify_all();
    }

    // Waits for `helpers` helper threads, polling `cancel` meanwhile.
    void wait_for(std::size_t helpers, const CancelCheck& cancel) {
        std::unique_lock<std::mutex> lock(mutex_);
        while (finished_ < helpers) {
            done_.wait_for(lock, std::chrono::milliseconds(20));
            if (finished_ < helpers && !stopped()) {
                lock.unlock();
                if (cancel()) stop();
                lock.lock();
            }
        }
    }

    void rethrow() const {
        if (failure_) std::rethrow_exception(failure_);
        if (stopped()) throw Cancelled{};
    }

    std::vector<Column>& columns() { return columns_; }

private:
    // Takes columns while fewer than `limit` have been handed out.
    void run_until(std::size_t limit, const CancelCheck& cancel) noexcept {
        try {
            for (std::size_t taken = 0;; ++taken) {
                // Columns are short: the caller's check (which may take a lock
                // in the host) runs every few of them, the stack walks inside
                // a column poll it as well.
                if (taken % columns_per_poll == 0 && cancel()) stop();
                if (stopped()) return;
                if (next_.load(std::memory_order_relaxed) >= limit) return;
                const std::size_t i = next_.fetch_add(1, std::memory_order_relaxed);
                if (i >= omegas_.size()) return;
                columns_[i] = column_at(layers_, omegas_[i], pol_, cancel);
            }
        } catch (const Cancelled&) {
            stop();
        } catch (...) {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (!failure_) failure_ = std::current_exception();
            stop_.store(true, std::memory_order_relaxed);
        }
    }

    std::span<const Layer> layers_;
    std::span<const double> omegas_;
    Polarization pol_;
    std::vector<Column> columns_;
    std::atomic<std::size_t> next_{0};
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable done_;
    std::size_t finished_ = 0;
    std::exception_ptr failure_;
};

DispersionTable tabulate(std::span<const double> omegas, std::vector<Column>& columns) {
    DispersionTable table;
    table.omega.assign(omegas.begin(), omegas.end());
    for (const Column& c : columns) table.modes = std::max(table.modes, c.size());
    const std::size_t width = omegas.size();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    table.neff.assign(table.modes * width, nan);
    table.group_index.assign(table.modes * width, nan);
    table.gvd.assign(table.modes * width, nan);
    for (std::size_t i = 0; i < width; ++i) {
        for (std::size_t m = 0; m < columns[i].size(); ++m) {
            const ModePoint& point = columns[i][m];
            table.neff[m * width + i] = point.neff;
            table.group_index[m * width + i] = point.group_index;
            table.gvd[m * width + i] = point.gvd;
        }
    }
    return table;
}

}  // namespace

DispersionTable dispersion_table(std::span<const Layer> layers, std::span<const double> omegas,
                                 Polarization pol, const CancelCheck& cancel, unsigned threads) {
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    Sweep sweep(layers, omegas, pol);
    // The caller's check may only run on this thread; a true answer stops all.
    struct CallerCheck {
        const CancelCheck* cancel;
        Sweep* sweep;
    } caller{&cancel, &sweep};
    const CancelCheck caller_check{[](void* c) {
                                       auto* self = static_cast<CallerCheck*>(c);
                                       if ((*self->cancel)()) self->sweep->stop();
                                       return self->sweep->stopped();
                                   },
                                   &caller};

    // The first column, timed, tells whether helpers pay for their start: a
    // short sweep is done sooner on this thread alone.
    const auto start = std::chrono::steady_clock::now();
    sweep.work_one(caller_check);
    const std::chrono::duration<double> first = std::chrono::steady_clock::now() - start;
    const double remaining = first.count() * static_cast<double>(omegas.size());
    std::size_t helpers = remaining < min_threaded_seconds ? 0 : threads - 1;
    helpers = std::min(helpers, omegas.size() / 2);

    std::vector<std::thread> pool;
    pool.reserve(helpers);
    try {
        for (std::size_t t = 0; t < helpers; ++t) {
            pool.emplace_back([&sweep] {
                sweep.work(sweep.helper_check());
                sweep.finished_one();
            });
        }
    } catch (...) {
        // Fewer threads than asked for: the ones started do the work.
    }
    sweep.work(caller_check);
    sweep.wait_for(pool.size(), caller_check);
    for (std::thread& thread : pool) thread.join();
    sweep.rethrow();
    return tabulate(omegas, sweep.columns());
}

}  // namespace tavrik
