import math
import random

import pytest

from tavrik import Layer, MultiLayer, Polarization
from support import PanicException, all_modes, slab_modes

TE, TM = Polarization.TE, Polarization.TM
TWO_PI = 2 * math.pi


def symmetric():
    return MultiLayer([Layer(1.0, 0.0), Layer(1.5, 1.0), Layer(1.0, 0.0)])


def asymmetric():
    return MultiLayer([Layer(1.0, 0.0), Layer(2.0, 0.5), Layer(1.45, 0.0)])


@pytest.mark.parametrize(
    "make, polarization, expected, message",
    [
        (symmetric, TE, [1.4491167149, 1.2923307200, 1.0393548948], "Mode 3 not found. Only 3 modes (0->2) available."),
        (symmetric, TM, [1.4339748985, 1.2372678018, 1.0141148223], "Mode 3 not found. Only 3 modes (0->2) available."),
        (asymmetric, TE, [1.8740348969, 1.5040203128], "Mode 2 not found. Only 2 modes (0->1) available."),
    ],
)
def test_worked_examples(make, polarization, expected, message):
    modes, text = all_modes(make(), TWO_PI, polarization)
    assert modes == pytest.approx(expected, abs=5e-11)
    assert text == message
    assert all(type(m) is float for m in modes)
    assert modes == sorted(modes, reverse=True)


def test_defaults_none_and_keywords_agree():
    stack = symmetric()
    a = stack.neff(TWO_PI)
    assert stack.neff(TWO_PI, None, None) == a
    assert stack.neff(TWO_PI, TE, 0) == a
    assert stack.neff(omega=TWO_PI, mode=0, polarization=TE) == a
    assert stack.neff(TWO_PI, polarization=TM) == stack.neff(TWO_PI, TM, 0) != a
    assert stack.neff(TWO_PI, mode=True) == stack.neff(TWO_PI, mode=1)


def test_missing_mode_raises_the_base_exception_and_the_object_stays_usable():
    stack = symmetric()
    first = stack.neff(TWO_PI)
    with pytest.raises(Exception) as info:
        stack.neff(TWO_PI, mode=3)
    assert type(info.value) is Exception
    assert info.value.args == ("Mode 3 not found. Only 3 modes (0->2) available.",)
    with pytest.raises(Exception, match="^Mode 4294967295 not found"):
        stack.neff(TWO_PI, mode=2**32 - 1)
    assert stack.neff(TWO_PI) == first


@pytest.mark.parametrize(
    "layers, omega",
    [
        ([Layer(1.5, 1.0)], TWO_PI),  # one layer
        ([Layer(1.5, 1.0), Layer(1.5, 1.0), Layer(1.5, 2.0)], TWO_PI),  # all the same index
        ([Layer(1.0, 0.0), Layer(1.5, 1.0), Layer(1.0, 0.0)], 0.0),  # omega zero
        ([Layer(1.0, 0.0), Layer(1.5, 1.0), Layer(1.0, 0.0)], -1e-9),  # a tiny negative span
    ],
)
def test_no_mode_at_all(layers, omega):
    with pytest.raises(Exception) as info:
        MultiLayer(layers).neff(omega)
    assert type(info.value) is Exception
    assert str(info.value) == "Mode 0 not found. Only 0 modes available."
    with pytest.raises(Exception, match="^Mode 2 not found. Only 0 modes available.$"):
        MultiLayer(layers).neff(omega, mode=2)


def test_empty_stack_is_an_internal_fault(capfd):
    stack = MultiLayer([])
    with pytest.raises(BaseException) as info:
        try:
            stack.neff(1.0)
        except Exception:  # must not catch it
            pytest.fail("PanicException was caught as an Exception")
    error = info.value
    assert type(error).__name__ == "PanicException"
    assert type(error).__bases__ == (BaseException,)
    assert error.args == ("index out of bounds: the len is 0 but the index is 0",)
    assert "index out of bounds" in capfd.readouterr().err
    assert type(error) is PanicException  # created once
    with pytest.raises(type(error)):
        stack.neff(2.0)


@pytest.mark.parametrize("omega", [-10.0, float("nan"), float("inf")])
def test_unrepresentable_sample_counts_are_internal_faults(omega):
    stack = symmetric()
    with pytest.raises(PanicException, match="^called `Option::unwrap\\(\\)` on a `None` value$"):
        stack.neff(omega)
    assert stack.neff(TWO_PI) == pytest.approx(1.4491167149, abs=5e-11)


# ---- physics: every returned mode satisfies the slab's dispersion relation ----


def random_slabs(count, seed):
    rng = random.Random(seed)
    for _ in range(count):
        n0 = rng.uniform(1.0, 1.6)
        n2 = rng.uniform(1.0, 1.6)
        n1 = max(n0, n2) + rng.uniform(0.05, 2.0)
        d = rng.uniform(0.1, 2.0)
        omega = TWO_PI / rng.uniform(0.8, 2.0)
        yield n0, n1, n2, d, omega


@pytest.mark.parametrize("polarization", [TE, TM])
def test_random_slabs_match_the_dispersion_relation(polarization):
    for n0, n1, n2, d, omega in random_slabs(40, seed=int(polarization) + 7):
        stack = MultiLayer([Layer(n0, 0.0), Layer(n1, d), Layer(n2, 0.0)])
        found, _ = all_modes(stack, omega, polarization)
        exact = slab_modes(omega, n0, n1, n2, d, polarization)
        case = (n0, n1, n2, d, omega)
        assert len(found) == len(exact), case
        for neff, beta in zip(found, exact):
            assert abs(neff * omega - beta) < 3e-9, case
