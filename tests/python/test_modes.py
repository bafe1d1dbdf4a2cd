"""MultiLayer.modes: every guided mode, against high-precision references written from physics."""

import math
import threading

import mpmath
import pytest

import reference

from tavrik import Polarization
from support import all_modes, stack

TE, TM = Polarization.TE, Polarization.TM
TWO_PI = 2 * math.pi
OMEGA_155 = TWO_PI / 1.55
mp = mpmath.mp

# Thickness of the 1.0 / 1.5 / 1.0 slab at the cut-off of its second TE mode:
# k0 d sqrt(1.5^2 - 1) = pi at k0 = 2 pi.
D_CUTOFF = 0.5 / math.sqrt(1.25)

STACKS = {
    "symmetric SOI": ([(1.444, 0.0), (3.476, 0.22), (1.444, 0.0)], OMEGA_155),
    "air-clad SOI": ([(1.0, 0.0), (3.476, 0.22), (1.444, 0.0)], OMEGA_155),
    "worked asymmetric": ([(1.0, 0.0), (2.0, 0.5), (1.45, 0.0)], TWO_PI),
    "thick multimode film": ([(1.0, 1.0), (3.5, 12.0), (1.44, 1.0)], OMEGA_155),
    "weak 20-thick film": ([(1.5, 0.0), (1.6, 20.0), (1.5, 0.0)], OMEGA_155),
    # The second mode a part in 1e6 of the thickness above its cut-off: its
    # beta lies about 1e-12 relative above the cladding's.
    "just above cut-off": ([(1.0, 0.0), (1.5, D_CUTOFF * (1 + 1e-6)), (1.0, 0.0)], TWO_PI),
    "coupled cores, gap 1": ([(1.444, 0), (3.476, 0.5), (1.444, 1.0), (3.476, 0.5), (1.444, 0)], OMEGA_155),
    "coupled cores, gap 2": ([(1.444, 0), (3.476, 0.5), (1.444, 2.0), (3.476, 0.5), (1.444, 0)], OMEGA_155),
    "twelve-layer Bragg": ([(1.45, 1.0)] + [(1.9, 0.25), (1.6, 0.35)] * 6 + [(1.0, 1.0)], TWO_PI),
    "twenty layers": ([(1.45, 0.0)] + [(1.5 + 0.1 * (k % 4), 0.2 + 0.05 * k) for k in range(18)] + [(1.3, 0.0)],
                      TWO_PI),
}


def make(layers, scale=1.0):
    return stack([(n, d * scale) for n, d in layers])


@pytest.mark.parametrize("polarization", [TE, TM])
@pytest.mark.parametrize("name", STACKS)
def test_every_mode_is_the_root_to_full_precision(name, polarization):
    mp.dps = 40
    layers, omega = STACKS[name]
    found = make(layers).modes(omega, polarization)
    assert found == sorted(found, reverse=True) and len(found) >= 1
    if len(layers) == 3:
        expected = reference.slab_roots(layers, omega, polarization == TE)
        if name == "just above cut-off" and polarization == TE:
            assert len(found) == 2 and found[1] * omega - 1.0 * omega < 1e-10
    else:
        expected = reference.stack_roots(layers, omega, polarization == TE, found)
    assert len(found) == len(expected)
    for neff, beta in zip(found, expected):
        assert abs(neff - beta / omega) <= 1e-13 * neff


def test_supermodes_split_below_double_precision_come_as_two_modes():
    # Cores 5 apart: the two lower pairs split by exp(-2 kappa gap) < 1e-37, far
    # below a double: two modes each, within 1e-13 of the single core's mode.
    # The pair near the cladding splits far more and is resolved as usual.
    mp.dps = 40
    single = [(1.444, 0), (3.476, 0.5), (1.444, 0)]
    coupled = [(1.444, 0), (3.476, 0.5), (1.444, 5.0), (3.476, 0.5), (1.444, 0)]
    for polarization in (TE, TM):
        found = make(coupled).modes(OMEGA_155, polarization)
        cores = reference.slab_roots(single, OMEGA_155, polarization == TE)
        pairs = [(neff, cores[k // 2] / OMEGA_155) for k, neff in enumerate(found[:4])]
        higher = reference.stack_roots(coupled, OMEGA_155, polarization == TE, found[4:])
        pairs += [(neff, beta / OMEGA_155) for neff, beta in zip(found[4:], higher)]
        assert len(found) == 4 + len(higher) >= 5  # a pair near cut-off may keep one mode
        assert all(abs(neff - exact) <= 1e-13 * neff for neff, exact in pairs)


@pytest.mark.parametrize("scale", [1e-3, 1e3])
@pytest.mark.parametrize("name", ["air-clad SOI", "thick multimode film", "coupled cores, gap 2", "twelve-layer Bragg"])
def test_the_unit_of_length_does_not_change_the_modes(name, scale):
    layers, omega = STACKS[name]
    for polarization in (TE, TM):
        base = make(layers).modes(omega, polarization)
        scaled = make(layers, scale).modes(omega / scale, polarization)
        assert len(scaled) == len(base)
        assert all(abs(a - b) <= 1e-13 * a for a, b in zip(base, scaled))


@pytest.mark.parametrize("name", ["symmetric SOI", "worked asymmetric", "coupled cores, gap 1", "twelve-layer Bragg"])
def test_entry_k_is_the_mode_neff_finds_as_mode_k(name):
    layers, omega = STACKS[name]
    for polarization in (TE, TM):
        exact = make(layers).modes(omega, polarization)
        searched, _ = all_modes(make(layers), omega, polarization)
        assert len(exact) == len(searched)
        assert all(abs(a - b) * omega <= 1e-9 for a, b in zip(exact, searched))


@pytest.mark.parametrize(
    "layers, omega",
    [([], 1.0), ([(1.5, 1.0)], 1.0), ([(1.5, 0.0), (1.5, 1.0), (1.5, 0.0)], 2.0), ([(1.0, 0), (1.5, 1), (1.0, 0)], 0.0),
     ([(1.5, 0), (1.0, 1), (1.5, 0)], 3.0)],
)
def test_no_guided_mode_gives_an_empty_list(layers, omega):
    assert make(layers).modes(omega) == [] and make(layers).modes(omega, TM) == []


def call_error(call):
    with pytest.raises(BaseException) as info:
        call()
    return type(info.value), str(info.value).replace("neff", "modes")


@pytest.mark.parametrize(
    "args, kwargs",
    [((), {}), (("a",), {}), ((1.0, 0), {}), ((1.0,), {"polarisation": TE}), ((), {"polarization": TE}),
     ((1.0,), {"omega": 1.0})],
)
def test_arguments_are_refused_as_neff_refuses_them(args, kwargs):
    stack = make(STACKS["symmetric SOI"][0])
    assert call_error(lambda: stack.modes(*args, **kwargs)) == call_error(lambda: stack.neff(*args, **kwargs))


def test_keywords_and_none_select_as_for_neff():
    stack = make(STACKS["worked asymmetric"][0])
    assert stack.modes(TWO_PI) == stack.modes(TWO_PI, None) == stack.modes(omega=TWO_PI, polarization=TE)
    assert stack.modes(TWO_PI, polarization=TM) != stack.modes(TWO_PI)
    assert make(STACKS["symmetric SOI"][0]).modes(3, TM) == make(STACKS["symmetric SOI"][0]).modes(3.0, TM)
    with pytest.raises(TypeError, match="takes from 1 to 2 positional arguments but 3 were given"):
        stack.modes(TWO_PI, TE, 0)


def test_outer_thicknesses_are_never_read():
    layers = [(1.444, -1.0), (3.476, 0.22), (1.444, math.nan)]
    assert make(layers).modes(OMEGA_155) == make(STACKS["symmetric SOI"][0]).modes(OMEGA_155)


def test_threads_computing_at_once_give_the_answers_of_one_thread():
    layers, _ = STACKS["twelve-layer Bragg"]
    omegas = [TWO_PI * (0.8 + 0.01 * k) for k in range(40)]
    expected = [make(layers).modes(w, pol) for w in omegas for pol in (TE, TM)]
    results = [None, None]

    def run(slot):
        stack = make(layers)
        results[slot] = [stack.modes(w, pol) for w in omegas for pol in (TE, TM)]

    threads = [threading.Thread(target=run, args=(slot,)) for slot in range(2)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert results == [expected, expected]
