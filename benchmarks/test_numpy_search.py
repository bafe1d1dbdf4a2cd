"""The NumPy search is only a fair yardstick if it is the same search: its peak
rules and its answers must be tavrik's. Run with `python -m pytest benchmarks`
(needs numpy and the module)."""

import math
import random

import pytest

np = pytest.importorskip("numpy")
import numpy_search  # noqa: E402
from tavrik import Layer, MultiLayer, Polarization  # noqa: E402

LOW = -1e300


@pytest.mark.parametrize(
    "values, min_height, ranges",
    [
        ([0, 1, 0], LOW, [(1, 2)]),
        ([0, 1, 1, 1, 0], LOW, [(1, 4)]),
        ([3, 2, 2, 2, 1], LOW, [(2, 4)]),  # a plateau entered from above loses its first sample
        ([1, 1, 0], LOW, [(1, 2)]),
        ([0, 1, 2], LOW, []),
        ([2, 1, 0], LOW, []),
        ([0, 2, 1, 2, 0], LOW, [(1, 2), (3, 4)]),  # equal heights keep left-to-right order
        ([1, 2, 2, 3, 0], LOW, [(3, 4)]),
        ([0, 3, 1, 5, 0, 4, 2], LOW, [(3, 4), (5, 6), (1, 2)]),
        ([0, 1, math.nan, 1, 0], LOW, []),
        ([0, 1, 0, 2, 0, 0.5, 0], 1.0, [(3, 4), (1, 2)]),
        ([0, 1], LOW, []),
    ],
)
def test_peak_rules(values, min_height, ranges):
    assert numpy_search.find_peaks(np.array(values, dtype=float), min_height) == ranges


def scan_one_at_a_time(y, min_height):
    """The scan as a state machine fed one value at a time (the finder's own
    formulation), sorted stably by descending height."""
    out = []
    if len(y) < 3:
        return out
    previous, left, plateau = y[1], y[1] - y[0], None
    for i in range(2, len(y)):
        cur = y[i]
        right = previous - cur
        if not left >= 0.0:
            left, plateau, previous = cur - previous, None, cur
            continue
        if right == 0.0:
            plateau = i - 1 if plateau is None else plateau
            previous = cur
            continue
        if right >= 0.0:
            start = i - 1 if plateau is None else plateau
            if y[start] >= min_height:
                out.append((start, i))
        left, plateau, previous = cur - previous, None, cur
    return sorted(out, key=lambda r: -y[r[0]])


def test_array_rules_equal_the_state_machine_on_random_plateaus():
    rng = random.Random(7)
    specials = [math.nan, math.inf, -math.inf, -0.0]
    for _ in range(3000):
        y = [rng.choice(specials) if rng.random() < 0.15 else float(rng.randint(0, 3))
             for _ in range(rng.randint(0, 14))]
        h = rng.choice([LOW, 1.0, 2.0])
        assert numpy_search.find_peaks(np.array(y), h) == scan_one_at_a_time(y, h), y


def tavrik_modes(layers, omega, pol):
    ml = MultiLayer([Layer(n, d) for n, d in layers])
    out = []
    while True:
        try:
            out.append(ml.neff(omega, pol, len(out)))
        except Exception:
            return out


@pytest.mark.parametrize(
    "layers, omega",
    [
        ([(1.0, 0.0), (1.5, 1.0), (1.0, 0.0)], 2 * math.pi),
        ([(1.0, 0.0), (2.0, 0.5), (1.45, 0.0)], 2 * math.pi),
        ([(1.0, 0.0), (3.476, 0.22), (1.444, 0.0)], 2 * math.pi / 1.55),
        ([(1.45, 0.0)] + [(1.9, 0.25), (1.6, 0.3)] * 5 + [(1.0, 0.0)], 2 * math.pi),
    ],
)
@pytest.mark.parametrize("pol", [0, 1])
def test_same_effective_indices_as_tavrik(layers, omega, pol):
    # On these stacks the search alone finds every mode, so tavrik's list is the
    # search's own values, bit for bit.
    ours = tavrik_modes(layers, omega, Polarization.TM if pol else Polarization.TE)
    assert numpy_search.mode_list(layers, omega, pol) == ours


def test_no_window_no_mode():
    assert numpy_search.mode_list([(1.5, 1.0)], 1.0) == []
    assert numpy_search.mode_list([(1.0, 0.0), (1.5, 1.0), (1.0, 0.0)], 0.0) == []
