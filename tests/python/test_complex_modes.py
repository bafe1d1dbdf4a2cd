"""Absorbing, metallic and leaky layers: complex modes against closed forms and
an independent mpmath solver (complex_reference.py)."""

import cmath
import math

import pytest

import complex_reference as ref
from tavrik import Layer, MultiLayer, Polarization

TE, TM = Polarization.TE, Polarization.TM
K0 = 2 * math.pi / 0.6328
GOLD = -11.6 + 1.2j


def stack(layers):
    return MultiLayer([Layer(n, d) for n, d in layers])


def close(a, b, rel):
    return abs(a - b) <= rel * abs(b)


@pytest.mark.parametrize("eps_d", [1.0, 1.33**2, 2.25])
def test_one_interface_carries_one_tm_plasmon_and_no_te_mode(eps_d):
    s = stack([(cmath.sqrt(GOLD), 1.0), (math.sqrt(eps_d), 1.0)])
    assert s.modes(K0, TE) == []
    (mode,) = s.modes(K0, TM)
    assert close(mode, cmath.sqrt(GOLD * eps_d / (GOLD + eps_d)), 1e-12)
    assert s.neff(K0, TM, 0) == mode
    with pytest.raises(Exception, match="Mode 1 not found. Only 1 modes"):
        s.neff(K0, TM, 1)


SLAB = [(1.444, 1.0), (3.476 + 0.02j, 0.6), (1.444, 1.0)]
K_SOI = 2 * math.pi / 1.55


@pytest.mark.parametrize("pol", [TE, TM])
def test_symmetric_lossy_slab_meets_the_mpmath_roots_and_count(pol):
    modes = stack(SLAB).modes(K_SOI, pol)
    assert len(modes) == ref.count(SLAB, K_SOI, (1.444, 3.5, -0.01, 0.3), pol == TE, per_edge=600)
    for z in modes:
        assert z.imag > 0
        assert close(z, ref.root(SLAB, K_SOI, z, pol == TE), 1e-12)


def test_weak_loss_matches_first_order_perturbation_of_the_lossless_field():
    # TE: Im(neff) = n kappa Gamma / neff with Gamma the core's share of
    # integral |Ey|^2 for the lossless mode (cos inside, exp outside).
    n0, n1, d, kappa = 1.444, 3.476, 0.6, 1e-6
    lossless = stack([(n0, 1), (n1, d), (n0, 1)]).modes(K_SOI, TE)
    lossy = stack([(n0, 1), (n1 + 1j * kappa, d), (n0, 1)]).modes(K_SOI, TE)
    assert len(lossy) == len(lossless)
    for m, (real, z) in enumerate(zip(lossless, lossy)):
        k = K_SOI * math.sqrt(n1**2 - real**2)
        g = K_SOI * math.sqrt(real**2 - n0**2)
        a = d / 2
        if m % 2 == 0:
            inside = a + math.sin(2 * k * a) / (2 * k)
            outside = math.cos(k * a) ** 2 / g
        else:
            inside = a - math.sin(2 * k * a) / (2 * k)
            outside = math.sin(k * a) ** 2 / g
        expected = n1 * kappa * inside / (inside + outside) / real
        assert abs(z.imag - expected) <= 1e-4 * expected
        assert abs(z.real - real) <= 1e-10


@pytest.mark.parametrize("pol", [TE, TM])
def test_vanishing_loss_meets_the_real_modes(pol):
    real = stack([(1.5, 1), (1.6, 20.0), (1.5, 1)]).modes(K_SOI, pol)
    lossy = stack([(1.5, 1), (1.6 + 1e-13j, 20.0), (1.5, 1)]).modes(K_SOI, pol)
    assert len(lossy) == len(real) > 10
    assert all(abs(z - r) <= 1e-10 for z, r in zip(lossy, real))


LEAKY = [(1.0, 1.0), (1.6, 0.8), (1.45, 0.3), (1.7, 1.0)]
LEAKY_WINDOW = (1.05, 1.65, 0.0, 0.2)


@pytest.mark.parametrize("pol", [TE, TM])
def test_leaky_modes_on_a_higher_index_substrate_meet_the_mpmath_solver(pol):
    k0 = 2 * math.pi / 1.0
    modes = stack(LEAKY).modes(k0, pol, leaky=True, window=LEAKY_WINDOW)
    assert stack(LEAKY).modes(k0, pol) == []  # nothing is guided
    radiating = (False, True)  # air side bound, substrate side outgoing
    assert len(modes) == ref.count(LEAKY, k0, LEAKY_WINDOW, pol == TE, radiating, per_edge=800) > 0
    for z in modes:
        assert z.imag > 0
        assert close(z, ref.root(LEAKY, k0, z, pol == TE, radiating), 1e-10)


def test_thin_gold_film_carries_long_and_short_range_plasmons():
    film = [(1.5, 1.0), (cmath.sqrt(GOLD), 0.02), (1.5, 1.0)]
    short, long_range = stack(film).modes(K0, TM)
    single = cmath.sqrt(GOLD * 2.25 / (GOLD + 2.25))
    assert short.real > single.real > long_range.real
    assert short.imag > single.imag > long_range.imag
    for z in (short, long_range):
        assert close(z, ref.root(film, K0, z, False), 1e-12)
    assert ref.count(film, K0, (1.5, 4.0, -0.05, 1.0), False, per_edge=400) == 2


def trapezoid(values, x):
    return sum((values[i] + values[i + 1]) * (x[i + 1] - x[i]) / 2 for i in range(len(x) - 1))


def test_one_unit_thick_gold_film_gives_two_distinct_orthogonal_interface_plasmons():
    film = [(1.5, 1.0), (cmath.sqrt(GOLD), 1.0), (1.5, 1.0)]
    s = stack(film)
    s.plot_step = 0.005
    modes = s.modes(K0, TM)
    assert len(modes) == 2
    single = cmath.sqrt(GOLD * 2.25 / (GOLD + 2.25))
    assert all(close(z, single, 1e-12) for z in modes)
    fields = [s.field(K0, TM, k) for k in (0, 1)]
    # Each field is the plasmon of one face: Hy = exp(-k0 gamma |x - face|)
    # with gamma = sqrt(neff^2 - eps) on each side, and nothing on the other face.
    for f, face, other in ((fields[0], 1.0, 0.0), (fields[1], 0.0, 1.0)):
        at = {round(x, 6): h for x, h in zip(f.x, f.Hy)}
        peak = at[face]
        for eps, side in ((2.25, 1.0 if face else -1.0), (GOLD, -1.0 if face else 1.0)):
            gamma = cmath.sqrt(modes[0] ** 2 - eps)
            for step in (0.05, 0.1, 0.2):
                x = round(face + side * step, 6)
                assert close(at[x] / peak, cmath.exp(-K0 * gamma * step), 1e-9), (face, eps, step)
        assert abs(at[other]) < 1e-12 * abs(peak)
    # Orthogonal in the sense of lossy modes (the unconjugated overlap of
    # Ex and Hy) and in power.
    self_overlap = [abs(trapezoid([e * h for e, h in zip(f.Ex, f.Hy)], f.x)) for f in fields]
    cross = trapezoid([e * h for e, h in zip(fields[0].Ex, fields[1].Hy)], fields[0].x)
    assert abs(cross) < 1e-12 * math.sqrt(self_overlap[0] * self_overlap[1])
    cross_power = trapezoid([e * h.conjugate() for e, h in zip(fields[0].Ex, fields[1].Hy)], fields[0].x)
    assert abs(cross_power) < 1e-12


@pytest.mark.parametrize("pol", [TE, TM])
def test_lossy_field_has_unit_complex_power_and_continuous_tangential_fields(pol):
    s = stack(SLAB)
    s.plot_step = 0.0005
    f = s.field(K_SOI, pol, 0)
    power = [ex * hy.conjugate() - ey * hx.conjugate() for ex, ey, hx, hy in zip(f.Ex, f.Ey, f.Hx, f.Hy)]
    integral = sum((power[i] + power[i + 1]) * (f.x[i + 1] - f.x[i]) / 2 for i in range(len(f.x) - 1))
    assert abs(abs(integral) - 1) < 1e-12
    tangential = (f.Ey, f.Hz) if pol == TE else (f.Hy, f.Ez)
    for c in tangential:
        jumps = max(abs(c[i + 1] - c[i]) for i in range(len(c) - 1))
        scale = max(abs(v) for v in c)
        assert jumps < 0.01 * scale  # no step at the interfaces: only the slope of the samples


def test_real_stack_given_as_complex_with_zero_imaginary_part_is_the_real_stack():
    real = stack([(1.444, 1), (3.476, 0.22), (1.444, 1)])
    as_complex = stack([(1.444 + 0j, 1), (complex(3.476, -0.0), 0.22), (1.444, 1)])
    assert str(Layer(3.476 + 0j, 0.22)) == str(Layer(3.476, 0.22))
    assert type(Layer(3.476 + 0j, 1).n) is float
    for pol in (TE, TM):
        assert as_complex.modes(K_SOI, pol) == real.modes(K_SOI, pol)
        assert as_complex.neff(K_SOI, pol, 0) == real.neff(K_SOI, pol, 0)
        assert as_complex.field(K_SOI, pol, 0).Ey == real.field(K_SOI, pol, 0).Ey


def test_index_profile_of_a_complex_stack_keeps_the_imaginary_parts_and_real_stacks_stay_float():
    film = [(1.5, 0.1), (cmath.sqrt(GOLD), 0.05), (1.0, 0.1)]
    s = stack(film)
    s.plot_step = 0.01
    profile = s.index()
    for x, n in zip(profile.x, profile.n):
        expected = complex(1.5 if x < 0 else cmath.sqrt(GOLD) if x < 0.05 - 1e-9 else 1.0)
        if abs(x - 0.05) < 1e-9:
            continue  # the grid's rounding decides which side a sample on the interface lies
        assert type(n) is complex and n == expected, x
    assert all(type(n) is float for n in stack([(1.5, 0.1), (2.0, 0.05), (1.0, 0.1)]).index().n)
    for call in (s.group_index, s.power_fractions, lambda omega, pol: s.dispersion([omega], pol)):
        with pytest.raises(ValueError, match=r"is defined for real refractive indices only; layers\[1\]"):
            call(K0, TM)


def test_complex_layer_reads_back_and_refuses_nonsense():
    class Index:
        def __complex__(self):
            return 0.2 + 3.4j

    layer = Layer(Index(), 0.05)
    assert layer.n == 0.2 + 3.4j and str(layer) == "Layer(n=(0.2+3.4j), d=0.05)"
    assert str(Layer(1.5 - 0.25j, 1)) == "Layer(n=(1.5-0.25j), d=1)"
    bad = stack([(1.0, 1), (complex(math.nan, 1.0), 0.1), (1.5, 1)])
    for call in (bad.modes, bad.neff, bad.field):
        with pytest.raises(ValueError, match=r"^layers\[1\]: the refractive index must be finite, non-zero, with a "
                                             r"non-negative real part, not \(NaN\+1j\)$"):
            call(K0, TM)
    s = stack(SLAB)
    with pytest.raises(TypeError, match="positional"):
        s.modes(K_SOI, TE, True)
    with pytest.raises(ValueError, match="window"):
        s.modes(K_SOI, TE, window=(2.0, 1.0, 0.0, 1.0))
