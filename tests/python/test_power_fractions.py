"""MultiLayer.power_fractions: the share of the power flow in each layer, against a
40-digit quadrature of the mode's field written from physics (reference.py)."""

import math

import pytest

import reference
from support import stack
from tavrik import Polarization

TE, TM = Polarization.TE, Polarization.TM
OMEGA_155 = 2 * math.pi / 1.55
D_CUTOFF = 0.5 / math.sqrt(1.25)  # the 1.0 / 1.5 / 1.0 slab's second mode at cut-off at k0 = 2 pi

STACKS = {
    "SOI slab": ([(1.444, 0.0), (3.476, 0.22), (1.444, 0.0)], OMEGA_155),
    "air-clad thick film": ([(1.0, 0.0), (3.476, 1.0), (1.444, 0.0)], OMEGA_155),
    "coupled cores, gap 1": ([(1.444, 0), (3.476, 0.5), (1.444, 1.0), (3.476, 0.5), (1.444, 0)], OMEGA_155),
    "twelve-layer Bragg": ([(1.45, 1.0)] + [(1.9, 0.25), (1.6, 0.35)] * 6 + [(1.0, 1.0)], 2 * math.pi),
    # Mode 1 a part in 1e3 of the thickness above its cut-off: half its power
    # in each cladding.
    "near cut-off": ([(1.0, 0.0), (1.5, D_CUTOFF * 1.001), (1.0, 0.0)], 2 * math.pi),
}


make = stack


@pytest.mark.parametrize("polarization", [TE, TM])
@pytest.mark.parametrize("name", STACKS)
def test_shares_are_the_integrals_of_the_field(name, polarization):
    layers, omega = STACKS[name]
    stack = make(layers)
    modes = stack.modes(omega, polarization)
    for mode in sorted({0, 1, len(modes) - 1} & set(range(len(modes)))):
        shares = stack.power_fractions(omega, polarization, mode)
        assert len(shares) == len(layers) and all(type(s) is float for s in shares)
        assert abs(math.fsum(shares) - 1.0) < 1e-12
        expected = reference.power_fractions(layers, omega, polarization == TE, modes[mode])
        assert max(abs(s - r) for s, r in zip(shares, expected)) < 1e-10, (mode, shares, expected)


def test_shares_follow_physics_not_the_grid():
    layers, omega = STACKS["coupled cores, gap 1"]
    stack = make(layers)
    first = stack.power_fractions(omega)
    stack.plot_step = 0.37
    assert stack.power_fractions(omega) == first
    # Identical cores: the supermodes carry the same power in each core and
    # each cladding.
    for mode in (0, 1):
        shares = stack.power_fractions(omega, TM, mode)
        assert shares[1] == pytest.approx(shares[3], abs=1e-10)
        assert shares[0] == pytest.approx(shares[4], abs=1e-10)
    # A thicker cladding is the same half-space.
    thick = make([(1.444, 9.0)] + layers[1:-1] + [(1.444, 9.0)])
    assert thick.power_fractions(omega, TM, 1) == pytest.approx(stack.power_fractions(omega, TM, 1), abs=1e-15)


def test_arguments_and_failures_as_neff():
    layers, omega = STACKS["SOI slab"]
    stack = make(layers)
    assert stack.power_fractions(omega) == stack.power_fractions(omega, None, None) \
        == stack.power_fractions(omega=omega, polarization=TE, mode=0)
    with pytest.raises(Exception) as info:
        stack.power_fractions(omega, TE, 1)
    assert type(info.value) is Exception and str(info.value) == "Mode 1 not found. Only 1 modes (0->0) available."
    with pytest.raises(TypeError, match="^argument 'mode': "):
        stack.power_fractions(omega, TE, "0")
    with pytest.raises(TypeError):
        stack.power_fractions()


def test_leak_round(assert_no_growth):
    layers, omega = STACKS["coupled cores, gap 1"]
    stack = make(layers)

    def body():
        stack.power_fractions(omega, TM, 1)
        for call in (lambda: stack.power_fractions(omega, TE, 9), lambda: stack.power_fractions(-1.0)):
            try:
                call()
            except Exception:
                pass

    assert_no_growth(body, rounds=30, warmup=5)
