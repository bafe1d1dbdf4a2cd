"""Every guided mode is reported, also where the coarse-to-fine search alone drops some."""

import math

import pytest

from tavrik import Polarization
from support import all_modes, assert_continuous, slab_modes, stack

TE, TM = Polarization.TE, Polarization.TM
TWO_PI = 2 * math.pi

CORE_ON_BUFFER = [(1.5, 2.0), (1.0, 1.2), (1.9, 0.4), (1.0, 2.0)]
TWO_CORES = [(1.0, 1.0), (1.5, 0.5), (1.0, 4.0), (1.5, 0.5), (1.0, 1.0)]
BRAGG = [(1.45, 1.0)] + [(1.9, 0.25), (1.6, 0.35)] * 6 + [(1.0, 1.0)]
THICK = [(1.0, 1.0), (3.5, 12.0), (1.44, 1.0)]


def test_core_on_a_buffer():
    te, text = all_modes(stack(CORE_ON_BUFFER), TWO_PI, TE)
    assert te == pytest.approx([1.712000865], abs=1e-9)
    assert text == "Mode 1 not found. Only 1 modes (0->0) available."
    tm, _ = all_modes(stack(CORE_ON_BUFFER), TWO_PI, TM)
    assert tm == pytest.approx([1.575835493], abs=1e-9)


@pytest.mark.parametrize("polarization", [TE, TM])
def test_two_distant_cores_give_split_pairs(polarization):
    modes, text = all_modes(stack(TWO_CORES), TWO_PI, polarization)
    assert len(modes) == 4 and text.startswith("Mode 4 not found. Only 4 modes")
    assert modes == sorted(modes, reverse=True) and len(set(modes)) == 4
    # The pairs are split far below the first pass's step, and each member of a
    # pair sits on either side of the single-core mode.
    single, _ = all_modes(stack([(1.0, 1.0), (1.5, 0.5), (1.0, 1.0)]), TWO_PI, polarization)
    assert len(single) == 2
    for k in range(2):
        assert modes[2 * k] > single[k] - 1e-9 > modes[2 * k + 1] - 2e-9
        assert modes[2 * k] - modes[2 * k + 1] < 1e-2


def test_thick_slab_reports_every_mode_of_the_dispersion_relation():
    for polarization in (TE, TM):
        omega = TWO_PI / 1.55
        found, _ = all_modes(stack(THICK), omega, polarization)
        exact = slab_modes(omega, 1.0, 3.5, 1.44, 12.0, polarization)
        assert len(found) == len(exact) >= 49
        assert max(abs(n * omega - b) for n, b in zip(found, exact)) < 3e-9


@pytest.mark.parametrize(
    "d",
    # just above the cut-offs of the first TE modes of a 1.0 / 1.5 / 1.0 slab at
    # omega = 2*pi: d = m / (2*sqrt(1.5^2 - 1)) = m * 0.4472135955
    [0.4472135955 * m + 1e-6 for m in range(1, 5)],
)
def test_modes_just_above_cut_off(d):
    found, _ = all_modes(stack([(1.0, 0.0), (1.5, d), (1.0, 0.0)]), TWO_PI, TE)
    exact = slab_modes(TWO_PI, 1.0, 1.5, 1.0, d, TE)
    assert len(found) == len(exact)
    assert max(abs(n * TWO_PI - b) for n, b in zip(found, exact)) < 3e-9


@pytest.mark.parametrize("layers", [CORE_ON_BUFFER, TWO_CORES, BRAGG], ids=["buffer", "two-cores", "bragg"])
@pytest.mark.parametrize("polarization", [TE, TM])
def test_every_reported_mode_is_continuous_at_its_interfaces(layers, polarization):
    s = stack(layers, step=2e-4)
    count = len(all_modes(s, TWO_PI, polarization)[0])
    assert count >= 1
    for mode in range(count):
        assert_continuous(s.field(TWO_PI, polarization, mode), layers, polarization, rel=1e-5, context=(mode,))


def test_mode_zero_of_a_core_of_millions_of_modes_is_the_true_mode():
    # A 7e5-thick core guides millions of modes, packed within 1e-12 of each
    # other near n1: mode 0 is the even TE root of the slab relation
    # u sin u = sqrt(V^2 - u^2) cos u with u = kx d / 2 in (0, pi/2), solved
    # here to 40 digits.
    mpmath = pytest.importorskip("mpmath")
    mp = mpmath.mp
    mp.dps = 40
    omega, n1, n2, d = 2 * math.pi / 1.55, 3.476, 1.444, 7e5
    k0, N1, N2, D = (mp.mpf(x) for x in (omega, n1, n2, d))
    v = D / 2 * k0 * mp.sqrt(N1**2 - N2**2)
    u = mp.findroot(lambda u: u * mp.sin(u) - mp.sqrt(v**2 - u**2) * mp.cos(u), mp.pi / 2 * v / (v + 1))
    assert 0 < u < mp.pi / 2
    beta = mp.sqrt((N1 * k0) ** 2 - (2 * u / D) ** 2)
    got = stack([(n2, 0.0), (n1, d), (n2, 0.0)]).neff(omega, TE, 0)
    # The search resolves 1e-9 in beta; the next mode lies about 1e-11 lower.
    assert abs(mp.mpf(got) * k0 - beta) < mp.mpf(2e-9)
