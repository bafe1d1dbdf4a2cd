#include "complex_mode_solver.hpp"

#include <algorithm>
#include <cmath>

#include "fault.hpp"
#include "field_components.hpp"
#include "mode_condition.hpp"
#include "numeric.hpp"

namespace tavrik {

namespace {

Complex eps_of(const ComplexLayer& layer) { return layer.n * layer.n; }

double plasmon_scale(std::span<const ComplexLayer> layers, double omega) {
    double largest = 0.0;
    for (const ComplexLayer& layer : layers) largest = std::max(largest, abs(layer.n));
    double r = largest;
    for (std::size_t j = 0; j + 1 < layers.size(); ++j) {
        const Complex a = eps_of(layers[j]), b = eps_of(layers[j + 1]);
        if (a.re * b.re >= 0.0) continue;
        const Complex sum = a + b;
        if (abs(sum) > 0.0) r = std::max(r, abs(sqrt(a * b / sum)));
    }
    for (std::size_t j = 1; j + 1 < layers.size(); ++j) {
        const Complex e[3] = {eps_of(layers[j - 1]), eps_of(layers[j]), eps_of(layers[j + 1])};
        const bool metallic = e[0].re < 0.0 || e[1].re < 0.0 || e[2].re < 0.0;
        const double d = layers[j].d;
        if (!metallic || !(d > 0.0)) continue;
        double hi = 0.0, lo = INFINITY;
        for (const Complex& v : e) {
            hi = std::max(hi, abs(v));
            lo = std::min(lo, abs(v));
        }
        r = std::max(r, 4.0 * std::atanh(std::min(lo / hi, 0.999)) / (omega * d));
    }
    return std::min(2.0 * r, 1e4 * largest);
}

double max_abs_n(std::span<const ComplexLayer> layers) {
    double largest = 0.0;
    for (const ComplexLayer& layer : layers) largest = std::max(largest, abs(layer.n));
    return largest;
}

struct ConditionContext {
    std::span<const ComplexLayer> layers;
    double omega;
    Polarization pol;
    Sheet sheet;
};

Complex condition_at(const void* context, Complex neff) {
    const auto& c = *static_cast<const ConditionContext*>(context);
    return mode_condition(c.layers, c.omega, c.pol, c.sheet, neff);
}

// The phase f can turn per unit of neff: each film's transfer turns by about
// omega d per unit of q, and q moves about as fast as neff.
double phase_rate(std::span<const ComplexLayer> layers, double omega) {
    double thickness = 0.0;
    for (std::size_t j = 1; j + 1 < layers.size(); ++j) thickness += layers[j].d;
    return 2.0 * omega * thickness + 8.0;
}

std::string boundary_message(Complex where) {
    return "a mode lies on the boundary of the searched window, near neff = " +
           std::to_string(where.re) + (where.im < 0.0 ? " - " : " + ") +
           std::to_string(std::fabs(where.im)) + "i; move or widen the window";
}

void sort_modes(std::vector<Complex>& modes) {
    std::sort(modes.begin(), modes.end(), [](Complex a, Complex b) {
        return a.re != b.re ? a.re > b.re : a.im < b.im;
    });
}

// The zeros of the part [lo, hi] of the window on one sheet; an outer edge
// that a zero sits on is moved outwards a little (never across a cut: the
// split lines stay where they are).
ComplexModesResult part_zeros(const ConditionContext& context, Rectangle part, bool left_is_cut,
                              bool right_is_cut, double rate, const CancelCheck& cancel) {
    const ComplexFunction f{condition_at, &context};
    const double nudge = 1e-9 * std::max(1.0, std::max(std::fabs(part.re_max), std::fabs(part.im_max)));
    for (int attempt = 0;; ++attempt) {
        try {
            return zeros_in(f, part, rate, cancel).zeros;
        } catch (const ContourHit& hit) {
            const bool on_cut = (left_is_cut && std::fabs(hit.where.re - part.re_min) <= nudge) ||
                                (right_is_cut && std::fabs(hit.where.re - part.re_max) <= nudge);
            if (on_cut || attempt == 3) return boundary_message(hit.where);
            const double step = nudge * double(1 << attempt);
            if (!left_is_cut) part.re_min -= step;
            if (!right_is_cut) part.re_max += step;
            part.im_min -= step;
            part.im_max += step;
        }
    }
}

ComplexModesResult search(std::span<const ComplexLayer> layers, double omega, Polarization pol,
                          const Rectangle& window, bool bound, bool leaky,
                          const CancelCheck& cancel) {
    const double edge_first = layers.front().n.re, edge_last = layers.back().n.re;
    std::vector<double> cuts{window.re_min};
    for (double edge : {std::min(edge_first, edge_last), std::max(edge_first, edge_last)})
        if (edge > window.re_min && edge < window.re_max && edge != cuts.back()) cuts.push_back(edge);
    cuts.push_back(window.re_max);
    const double rate = phase_rate(layers, omega);
    std::vector<Complex> modes;
    for (std::size_t k = 0; k + 1 < cuts.size(); ++k) {
        const Rectangle part{cuts[k], cuts[k + 1], window.im_min, window.im_max};
        if (!(part.re_max > part.re_min)) continue;
        const double middle = 0.5 * (part.re_min + part.re_max);
        const Sheet sheet{middle > edge_first ? Branch::Bound : Branch::Radiating,
                          middle > edge_last ? Branch::Bound : Branch::Radiating};
        const bool is_bound = sheet.first == Branch::Bound && sheet.last == Branch::Bound;
        if (is_bound ? !bound : !leaky) continue;
        const ConditionContext context{layers, omega, pol, sheet};
        // A side at a half-space's Re(n) is a cut line: it passes through the
        // branch point and is never moved.
        const auto at_edge = [&](double x) { return x == edge_first || x == edge_last; };
        ComplexModesResult found =
            part_zeros(context, part, at_edge(part.re_min), at_edge(part.re_max), rate, cancel);
        if (auto* message = std::get_if<std::string>(&found)) return std::move(*message);
        for (Complex z : std::get<0>(found)) modes.push_back(z);
    }
    sort_modes(modes);
    return modes;
}

// The field's (psi, phi) at the start of every layer j >= 1, each a unit-size
// vector times exp(log_size).
struct Carried {
    std::vector<Complex> psi, phi;
    std::vector<double> log_size;
};

double vector_size(Complex a, Complex b) { return std::max(abs(a), abs(b)); }

struct LayerWeights {
    std::vector<Complex> eps, p;
};

LayerWeights weights(std::span<const ComplexLayer> layers, Polarization pol) {
    LayerWeights w;
    for (const ComplexLayer& layer : layers) {
        const Complex eps = eps_of(layer);
        w.eps.push_back(eps);
        w.p.push_back(is_te(pol) ? Complex{1.0, 0.0} : Complex{1.0, 0.0} / eps);
    }
    return w;
}

void set_sized(Carried& c, std::size_t j, Complex psi, Complex phi, double log_size) {
    const double size = vector_size(psi, phi);
    c.psi[j] = psi / Complex{size, 0.0};
    c.phi[j] = phi / Complex{size, 0.0};
    c.log_size[j] = log_size + std::log(size);
}

// The walk rightwards from the start of layer `from` (its vector set) to the
// start of the last half-space.
void walk_rightwards(Carried& c, std::span<const ComplexLayer> layers, const LayerWeights& w, double omega,
                     Complex neff, std::size_t from) {
    for (std::size_t j = from; j + 1 < layers.size(); ++j) {
        const FilmTransfer m = film_transfer(w.eps[j], w.p[j], neff, omega * layers[j].d);
        set_sized(c, j + 1, m.m11 * c.psi[j] + m.m12 * c.phi[j], m.m21 * c.psi[j] + m.m22 * c.phi[j],
                  c.log_size[j] + m.log_scale);
    }
}

// The walk leftwards from the start of layer `from` + 1 down to that of layer 1.
// The inverse of a determinant-one transfer is its adjugate.
void walk_leftwards(Carried& c, std::span<const ComplexLayer> layers, const LayerWeights& w, double omega,
                    Complex neff, std::size_t from) {
    for (std::size_t j = from; j >= 1; --j) {
        const FilmTransfer m = film_transfer(w.eps[j], w.p[j], neff, omega * layers[j].d);
        set_sized(c, j, m.m22 * c.psi[j + 1] - m.m12 * c.phi[j + 1], m.m11 * c.phi[j + 1] - m.m21 * c.psi[j + 1],
                  c.log_size[j + 1] + m.log_scale);
    }
}

// The root of eps - neff^2 whose wave exp(i s xi) decays along xi.
Complex decaying_root(Complex eps, Complex neff) {
    const Complex s = sqrt(eps - neff * neff);
    return s.im < 0.0 ? -s : s;
}

// A lone walk at a double root is the mode on its own side only up to the
// opaque film that separates the two (the one across which the walk grows
// most): beyond it the walk's rounding, grown by that film's exp(Im(s) omega
// d), is the other side's mode. There the walk keeps only the wave that
// decays away from its side, and goes on from that film's far face.
void cut_at_barrier(Carried& c, std::span<const ComplexLayer> layers, const LayerWeights& w, double omega,
                    Complex neff, bool rightwards) {
    const std::size_t n = layers.size();
    std::size_t barrier = 0;
    double growth = 1.0;  // at least a factor e: an opaque film
    for (std::size_t j = 1; j + 1 < n; ++j) {
        const double g = rightwards ? c.log_size[j + 1] - c.log_size[j] : c.log_size[j] - c.log_size[j + 1];
        if (g > growth) {
            growth = g;
            barrier = j;
        }
    }
    if (barrier == 0) return;
    const Complex s = decaying_root(w.eps[barrier], neff);
    const Complex k = Complex{0.0, 1.0} * w.p[barrier] * s;
    const Complex decay = exp(Complex{-s.im, s.re} * Complex{omega * layers[barrier].d, 0.0});
    const Complex half{0.5, 0.0};
    if (rightwards) {
        const Complex a = half * (c.psi[barrier] + c.phi[barrier] / k) * decay;
        set_sized(c, barrier + 1, a, k * a, c.log_size[barrier]);
        walk_rightwards(c, layers, w, omega, neff, barrier + 1);
    } else {
        const Complex b = half * (c.psi[barrier + 1] - c.phi[barrier + 1] / k) * decay;
        set_sized(c, barrier, b, -(k * b), c.log_size[barrier + 1]);
        if (barrier > 1) walk_leftwards(c, layers, w, omega, neff, barrier - 1);
    }
}

// Two walks: from the first half-space rightwards and from the last one
// leftwards, each exact near its own start; joined at the layer start where
// the smaller of their growths is largest (the field's peak), the right walk
// rescaled to continue the left one there. At a double root each walk alone,
// cut at the barrier, is a mode (FieldWalk).
Carried carry(std::span<const ComplexLayer> layers, const LayerWeights& w, double omega, Complex neff,
              FieldWalk walk) {
    const std::size_t n = layers.size();
    Carried left{std::vector<Complex>(n), std::vector<Complex>(n), std::vector<double>(n, 0.0)};
    Carried right = left;
    set_sized(left, 1, Complex{1.0, 0.0}, w.p[0] * outer_gamma(w.eps[0], neff, Branch::Bound), 0.0);
    walk_rightwards(left, layers, w, omega, neff, 1);
    if (walk == FieldWalk::from_first) {
        cut_at_barrier(left, layers, w, omega, neff, true);
        return left;
    }
    set_sized(right, n - 1, Complex{1.0, 0.0}, -(w.p[n - 1] * outer_gamma(w.eps[n - 1], neff, Branch::Bound)), 0.0);
    if (n > 2) walk_leftwards(right, layers, w, omega, neff, n - 2);
    if (walk == FieldWalk::from_last) {
        cut_at_barrier(right, layers, w, omega, neff, false);
        return right;
    }
    std::size_t join = 1;
    double best = -INFINITY;
    for (std::size_t j = 1; j < n; ++j) {
        const double growth = std::min(left.log_size[j], right.log_size[j]);
        if (growth > best) {
            best = growth;
            join = j;
        }
    }
    const bool by_psi = abs(right.psi[join]) >= abs(right.phi[join]);
    const Complex ratio = by_psi ? left.psi[join] / right.psi[join] : left.phi[join] / right.phi[join];
    for (std::size_t j = join; j < n; ++j) {
        left.psi[j] = right.psi[j] * ratio;
        left.phi[j] = right.phi[j] * ratio;
        left.log_size[j] = right.log_size[j] - right.log_size[join] + left.log_size[join];
    }
    return left;
}

// Inside a film that holds more than a factor e between its faces, carrying
// the field from the film's start would multiply the start's rounding by the
// growing wave. The field there is the sum of the wave decaying from the start,
// whose amplitude the start's values give, and the wave decaying from the end,
// whose amplitude the end's values give: each part is taken where it is
// largest, and neither exponential exceeds 1. With s the root of eps - neff^2
// with Im(s) >= 0 and k = i p s, the wave exp(i s xi) has phi = k psi.
struct OpaqueFilm {
    bool opaque = false;
    Complex s, k, from_start, from_end;  // amplitudes, already sized
    double thickness = 0.0;              // omega d
    void at(double xi, Complex& psi, Complex& phi) const {
        const Complex i_s{-s.im, s.re};
        const Complex a = from_start * exp(i_s * Complex{xi, 0.0});
        const Complex b = from_end * exp(i_s * Complex{thickness - xi, 0.0});
        psi = a + b;
        phi = k * (a - b);
    }
};

OpaqueFilm opaque_film(const Carried& carried, const LayerWeights& w, std::size_t j, double thickness,
                       Complex neff, double top) {
    OpaqueFilm film;
    const Complex s = decaying_root(w.eps[j], neff);
    if (!(s.im * thickness > 1.0)) return film;
    film.opaque = true;
    film.s = s;
    film.thickness = thickness;
    film.k = Complex{0.0, 1.0} * w.p[j] * s;
    const Complex half{0.5, 0.0};
    const Complex start_size{std::exp(carried.log_size[j] - top), 0.0};
    const Complex end_size{std::exp(carried.log_size[j + 1] - top), 0.0};
    film.from_start = half * (carried.psi[j] + carried.phi[j] / film.k) * start_size;
    film.from_end = half * (carried.psi[j + 1] - carried.phi[j + 1] / film.k) * end_size;
    return film;
}

}  // namespace

FieldData complex_mode_field(const MultiLayer& grid_record, std::span<const ComplexLayer> layers,
                             double omega, Polarization pol, Complex neff, FieldWalk walk) {
    const std::size_t n = layers.size();
    if (n < 2) fail_index(n, 1);
    const LayerWeights w = weights(layers, pol);
    const Carried carried = carry(layers, w, omega, neff, walk);
    const double top = *std::max_element(carried.log_size.begin() + 1, carried.log_size.end());
    const GridData grid = get_grid_data(grid_record);

    FieldData out;
    out.x = grid.x;
    const std::size_t count = grid.x.size();
    for (auto* c : {&out.Ex, &out.Ey, &out.Ez, &out.Hx, &out.Hy, &out.Hz}) c->assign(count, Complex{});
    const Complex gamma_first = outer_gamma(w.eps[0], neff, Branch::Bound);
    const Complex gamma_last = outer_gamma(w.eps[n - 1], neff, Branch::Bound);
    for (std::size_t j = 0; j < n; ++j) {
        const std::size_t start = at(grid.layer_bounds, j), end = at(grid.layer_bounds, j + 1);
        check_slice(start, end, count);
        const std::size_t from = j == 0 ? 1 : j;
        const Complex psi0 = carried.psi[from], phi0 = carried.phi[from];
        for (std::size_t k = start; k < end; ++k) {
            const double xi = omega * (grid.x[k] - at(grid.interfaces, j));
            Complex psi, phi;
            double log_size = carried.log_size[from] - top;
            if (j == 0 || j + 1 == n) {
                // The half-spaces: pure exponentials, decaying away from the stack.
                const Complex gamma = j == 0 ? gamma_first : -gamma_last;
                const Complex e = exp(Complex{gamma.re * xi + log_size, gamma.im * xi});
                psi = psi0 * e;
                phi = w.p[j] * gamma * psi;
            } else if (const OpaqueFilm film = opaque_film(carried, w, j, omega * layers[j].d, neff, top); film.opaque) {
                film.at(xi, psi, phi);
            } else {
                const FilmTransfer m = film_transfer(w.eps[j], w.p[j], neff, xi);
                const Complex size{std::exp(m.log_scale + log_size), 0.0};
                psi = (m.m11 * psi0 + m.m12 * phi0) * size;
                phi = (m.m21 * psi0 + m.m22 * phi0) * size;
            }
            if (is_te(pol)) {
                out.Ey[k] = psi;
                out.Hx[k] = divide_by_z0(-(neff * psi));
                out.Hz[k] = divide_by_z0(Complex{phi.im, -phi.re});  // -i phi
            } else {
                out.Hy[k] = divide_by_z0(psi);
                out.Ex[k] = neff * psi / w.eps[j];
                out.Ez[k] = Complex{-phi.im, phi.re};  // i phi
            }
        }
    }
    std::vector<Complex> power(count);
    for (std::size_t k = 0; k < count; ++k)
        power[k] = out.Ex[k] * conj(out.Hy[k]) - out.Ey[k] * conj(out.Hx[k]);
    const Complex norm = sqrt(integrate_trapezoid(power, out.x));
    for (auto* c : {&out.Ex, &out.Ey, &out.Ez, &out.Hx, &out.Hy, &out.Hz})
        for (Complex& v : *c) v = v / norm;
    return out;
}

FieldWalk field_walk(std::span<const Complex> modes, std::size_t mode) {
    const auto same = [&](std::size_t a, std::size_t b) {
        return b < modes.size() && abs(modes[a] - modes[b]) <= 16.0 * 0x1p-52 * abs(modes[a]);
    };
    const bool with_previous = mode > 0 && same(mode - 1, mode);
    const bool with_next = same(mode, mode + 1);
    if (with_previous && !(mode > 1 && same(mode - 2, mode))) return FieldWalk::from_first;
    if (with_next && !with_previous && !same(mode, mode + 2)) return FieldWalk::from_last;
    return FieldWalk::joined;
}

Rectangle default_bound_window(std::span<const ComplexLayer> layers, double omega) {
    const double r = plasmon_scale(layers, omega);
    const double edge = std::max(layers.front().n.re, layers.back().n.re);
    return Rectangle{edge, std::max(r, 2.0 * edge), -r / 16.0, r / 2.0};
}

Rectangle default_leaky_window(std::span<const ComplexLayer> layers, double omega) {
    return Rectangle{0.0, plasmon_scale(layers, omega), 0.0, 0.5 * max_abs_n(layers)};
}

ComplexModesResult complex_modes(std::span<const ComplexLayer> layers, double omega,
                                 Polarization pol, const Rectangle& window, bool leaky,
                                 const CancelCheck& cancel) {
    return search(layers, omega, pol, window, true, leaky, cancel);
}

ComplexModesResult leaky_modes(std::span<const ComplexLayer> layers, double omega,
                               Polarization pol, const Rectangle& window,
                               const CancelCheck& cancel) {
    return search(layers, omega, pol, window, false, true, cancel);
}

}  // namespace tavrik
