"""Hostile input: random stacks and random Python objects in every argument
position. Every call returns a value of its documented type or raises one of
the documented classes with a message (or what a user object itself raised);
the interpreter survives and the stack answers as before.

Each call is kept bounded in time: a first pass of the search costs about
(n_max - n_min)·omega / 0.01 evaluations, the mode count grows with
omega·d·n, and a grid holds its whole sample count, so examples whose
representable cost is large are filtered out. The huge requests themselves
are covered by the dedicated tests at the end.
"""

import math
import os
import re

import pytest
from hypothesis import HealthCheck, assume, event, given, settings
from hypothesis import strategies as st

from tavrik import BackEnd, FieldData, IndexData, Layer, MultiLayer, Polarization
from support import (FloatRaises, FloatSub, FloatWrongType, Grows, IndexRaises, IndexWrongType,
                     IntSub, IterBreaks, IterRaises, LenLies, LenNegative, LenRaises, MutatingList,
                     PanicException, Seq, Shrinks, UserError, available_bytes)

# TAVRIK_HOSTILE_EXAMPLES lowers the count where every call is slow (the
# sanitizer run).
HOSTILE = settings(
    max_examples=int(os.environ.get("TAVRIK_HOSTILE_EXAMPLES", "600")),
    deadline=None,
    database=None,
    suppress_health_check=[HealthCheck.filter_too_much, HealthCheck.too_slow],
)

NAN = float("nan")
INF = float("inf")
EXTREMES = [NAN, INF, -INF, 0.0, -0.0, 5e-324, -5e-324, 2.2250738585072014e-308,
            1.7976931348623157e308, -1.7976931348623157e308, 1e-300, 1e300, -1.0]

MAX_FIRST_PASS = 3000     # samples of the first pass
MAX_MODES = 300           # bound on the guided-mode count
MAX_GRID = 20000          # samples of a grid
U32 = 4294967296.0


assert issubclass(PanicException, BaseException) and not issubclass(PanicException, Exception)


ALLOWED = (TypeError, OverflowError, ValueError, RuntimeError, AttributeError, MemoryError,
           PanicException, UserError)
NOT_FOUND = re.compile(r"^Mode \d+ not found\. Only \d+ modes( \(0->\d+\))? available\.$")


def outcome(call):
    """What a call did, in a form that compares equal when it does it again."""
    try:
        result = call()
    except BaseException as error:  # noqa: B036 - classify everything
        check_error(error)
        if isinstance(error, MemoryError):
            return ("raised", MemoryError)  # the message quotes the free memory of the moment
        return ("raised", type(error), str(error))
    return ("returned", canonical(result))


def check_error(error):
    if type(error) is Exception:
        assert len(error.args) == 1 and NOT_FOUND.match(error.args[0]), repr(error)
        return
    assert isinstance(error, ALLOWED), f"undocumented {type(error).__name__}: {error!r}"
    assert str(error), f"{type(error).__name__} without a message"


def canonical(result):
    if result is None:  # a setter
        return None
    if isinstance(result, tuple) and all(type(v) is bool for v in result):  # comparisons
        return result
    if isinstance(result, float):
        return repr(result)
    if isinstance(result, IndexData):
        x, n = result.x, result.n
        assert isinstance(x, list) and isinstance(n, list) and len(x) == len(n)
        assert all(type(v) is float for v in x + n)
        return ("index", repr(x), repr(n))
    if isinstance(result, FieldData):
        x = result.x
        assert isinstance(x, list) and all(type(v) is float for v in x)
        parts = [repr(x)]
        for name in ("Ex", "Ey", "Ez", "Hx", "Hy", "Hz"):
            values = getattr(result, name)
            assert isinstance(values, list) and len(values) == len(x)
            assert all(type(v) is complex for v in values)
            parts.append(repr(values))
        return ("field", *parts)
    if isinstance(result, MultiLayer):
        return ("multilayer", repr(result.plot_step))
    if isinstance(result, Layer):
        return ("layer", str(result))
    raise AssertionError(f"undocumented result {result!r}")


# ---- cost of a call, mirrored from the core's arithmetic -----------------------

def ceil_or_nan(x):
    return math.ceil(x) if math.isfinite(x) else NAN


def first_pass_samples(ns, omega):
    """The first pass's sample count (NaN when it does not fit), or None for no stack."""
    if not ns:
        return None
    lo_n = hi_n = ns[0]
    for n in ns[1:]:
        if n < lo_n:
            lo_n = n
        if n > hi_n:
            hi_n = n
    lo = lo_n * omega + 1e-9
    hi = hi_n * omega - 1e-9
    return ceil_or_nan((hi - lo) / 0.01)


def mode_bound(ns, ds, omega):
    """An upper bound of the guided-mode count, or None when the count is not walked."""
    if len(ns) < 2 or not (math.isfinite(omega) and omega > 0):
        return None
    if not all(math.isfinite(n) and n > 0 for n in ns):
        return None
    inner = ds[1:-1]
    if not all(math.isfinite(d) and d >= 0 for d in inner):
        return None
    outer = max(ns[0], ns[-1])
    phase = 0.0
    for n, d in zip(ns[1:-1], inner):
        phase += omega * d * math.sqrt(max(0.0, (n - outer) * (n + outer)))
    return phase / math.pi + len(ns)


def grid_samples(ds, step):
    if not ds:
        return None
    total = 0.0
    for d in ds:
        total = total + d
    with_errors = (total - ds[0]) - (-ds[0])
    try:
        return ceil_or_nan(with_errors / step)
    except ZeroDivisionError:
        return NAN


def fits(count):
    return count is not None and count == count and -1 < count < U32


def search_is_bounded(ns, ds, omega):
    samples = first_pass_samples(ns, omega)
    if fits(samples) and samples > MAX_FIRST_PASS:
        return False
    bound = mode_bound(ns, ds, omega)
    return bound is None or not bound > MAX_MODES  # NaN or inf: the walk refuses the stack


def grid_is_bounded(ds, step):
    count = grid_samples(ds, step)
    return not fits(count) or count <= MAX_GRID or count >= 2e9  # 2e9: far beyond memory


# ---- strategies -----------------------------------------------------------------

wild_floats = st.one_of(st.sampled_from(EXTREMES), st.floats(allow_nan=True, allow_infinity=True))


def mixed(typical):
    """Mostly typical values, sometimes any double at all."""
    return st.one_of(typical, typical, typical, wild_floats)


omega_values = mixed(st.floats(1.0, 8.0))
step_values = mixed(st.floats(0.002, 0.5))


@st.composite
def stacks(draw):
    """0 to 30 layers of typical glass and semiconductor indices, a few of whose
    values may be replaced by any double (NaN, infinities, zeros, subnormals)."""
    count = draw(st.one_of(st.integers(0, 5), st.integers(0, 30)))
    # Claddings mostly below the films, so that many stacks guide a few modes.
    layers = [[draw(st.floats(1.0, 1.6) if i in (0, count - 1) else st.floats(1.4, 3.5)),
               draw(st.floats(0.0, 1.5))] for i in range(count)]
    for _ in range(draw(st.one_of(st.just(0), st.integers(0, 3))) if count else 0):
        layers[draw(st.integers(0, count - 1))][draw(st.integers(0, 1))] = draw(wild_floats)
    return [tuple(layer) for layer in layers]
polarizations = st.sampled_from([None, Polarization.TE, Polarization.TM])
modes = st.one_of(st.none(), st.integers(0, 3), st.integers(0, 2**32 - 1))


def sane_layers(count=3):
    return [Layer(1.0 + 0.5 * (i % 2), 0.5) for i in range(count)]


layer_containers = st.sampled_from([
    list, tuple, Seq, LenRaises, LenLies, LenNegative, IterRaises, IterBreaks, Grows, Shrinks,
    MutatingList, lambda items: (x for x in items), lambda items: items + [1.5],
    lambda items: items + ["layer"], lambda items: [Polarization.TE],
])
layer_sequences = st.builds(lambda make, count: make(sane_layers(count)), layer_containers,
                            st.integers(0, 4))

anything = st.one_of(
    st.none(),
    st.booleans(),
    st.integers(-(2**200), 2**200),
    st.integers(-20, 20),
    st.floats(allow_nan=True, allow_infinity=True),
    st.sampled_from(EXTREMES),
    st.builds(FloatSub, st.floats(-20, 20)),
    st.builds(IntSub, st.integers(-(2**70), 2**70)),
    st.builds(FloatRaises), st.builds(FloatWrongType), st.builds(IndexRaises), st.builds(IndexWrongType),
    st.text(max_size=4),
    st.binary(max_size=4),
    st.complex_numbers(),
    st.sampled_from([Polarization.TE, Polarization.TM, BackEnd.Scattering, BackEnd.Transfer]),
    st.builds(lambda: Layer(1.5, 1.0)),
    st.builds(object),
    st.dictionaries(st.text(max_size=2), st.integers(), max_size=2),
    layer_sequences,
)


def float_value(obj):
    """The double the binding would convert `obj` to, or None."""
    if isinstance(obj, (str, bytes, complex)):
        return None
    try:
        return float(obj)
    except Exception:
        return None


# ---- random stacks --------------------------------------------------------------

@HOSTILE
@given(stack=stacks(), omega=omega_values, step=step_values, polarization=polarizations, mode=modes)
def test_random_stacks_answer_or_fail_cleanly(stack, omega, step, polarization, mode):
    ns = [n for n, _ in stack]
    ds = [d for _, d in stack]
    assume(search_is_bounded(ns, ds, omega))
    assume(grid_is_bounded(ds, step))
    multilayer = MultiLayer([Layer(n, d) for n, d in stack])
    multilayer.plot_step = step
    calls = [
        lambda: multilayer.neff(omega, polarization, mode),
        lambda: multilayer.neff(omega, polarization=polarization),
        lambda: multilayer.index(),
        lambda: multilayer.field(omega, polarization, mode),
    ]
    first = [outcome(call) for call in calls]
    for name, result in zip(("neff", "neff TE/TM", "index", "field"), first):
        event(f"{name}: {result[0]} {result[1].__name__ if result[0] == 'raised' else result[1][0][:5]}")
    neff = first[0]
    if neff[0] == "returned":
        assert isinstance(float(neff[1]), float)
    # Nothing is cached and nothing changes: the same calls give the same answers.
    assert [outcome(call) for call in reversed(calls)] == first[::-1]
    assert multilayer.plot_step == step or (step != step and multilayer.plot_step != multilayer.plot_step)


# ---- random objects in every argument position --------------------------------------

REFERENCE_OMEGA = 2 * math.pi


def reference_stack():
    multilayer = MultiLayer([Layer(1.0, 0.3), Layer(1.5, 1.0), Layer(1.2, 0.7), Layer(1.0, 0.3)])
    multilayer.plot_step = 0.01
    return multilayer


def reference_outcomes(multilayer):
    return [
        outcome(lambda: multilayer.neff(REFERENCE_OMEGA)),
        outcome(lambda: multilayer.neff(REFERENCE_OMEGA, Polarization.TM, 1)),
        outcome(lambda: multilayer.index()),
        outcome(lambda: multilayer.field(REFERENCE_OMEGA, Polarization.TM)),
        outcome(lambda: multilayer.plot_step),
    ]


# The stack's index span is 0.5: an omega beyond this makes a long first pass.
def bounded_omega(obj):
    value = float_value(obj)
    if value is None or not math.isfinite(value):
        return True
    samples = 0.5 * abs(value) / 0.01
    return samples <= MAX_FIRST_PASS or samples >= 2 * U32


CALLS = {
    "Layer(a, b)": lambda m, a, b, c: Layer(a, b),
    "Layer(n=a, d=b)": lambda m, a, b, c: Layer(n=a, d=b),
    "Layer(a, n=b)": lambda m, a, b, c: Layer(a, n=b),
    "Layer(a)": lambda m, a, b, c: Layer(a),
    "Layer(a, b, c)": lambda m, a, b, c: Layer(a, b, c),
    "MultiLayer(a)": lambda m, a, b, c: MultiLayer(a),
    "MultiLayer(layers=a)": lambda m, a, b, c: MultiLayer(layers=a),
    "MultiLayer(a, b)": lambda m, a, b, c: MultiLayer(a, b),
    "plot_step = a": lambda m, a, b, c: setattr(m, "plot_step", a),
    "neff(a)": lambda m, a, b, c: m.neff(a),
    "neff(w, a)": lambda m, a, b, c: m.neff(REFERENCE_OMEGA, a),
    "neff(w, b, a)": lambda m, a, b, c: m.neff(REFERENCE_OMEGA, b, a),
    "neff(a, b, c)": lambda m, a, b, c: m.neff(a, b, c),
    "neff(omega=a, mode=c)": lambda m, a, b, c: m.neff(omega=a, mode=c),
    "neff(w, polarization=a)": lambda m, a, b, c: m.neff(REFERENCE_OMEGA, polarization=a),
    "neff(w, a, b, c)": lambda m, a, b, c: m.neff(REFERENCE_OMEGA, a, b, c),
    "field(a)": lambda m, a, b, c: m.field(a),
    "field(w, a)": lambda m, a, b, c: m.field(REFERENCE_OMEGA, a),
    "field(w, None, a)": lambda m, a, b, c: m.field(REFERENCE_OMEGA, None, a),
    "field(a, b, c)": lambda m, a, b, c: m.field(a, b, c),
    "field(omega=a, polarization=b)": lambda m, a, b, c: m.field(omega=a, polarization=b),
    "index(a)": lambda m, a, b, c: m.index(a),
    "enum == a": lambda m, a, b, c: (Polarization.TE == a, BackEnd.Transfer != a, a == Polarization.TM),
    "enum < a": lambda m, a, b, c: Polarization.TE < a,
}

# Positions that take omega: their objects are bounded like omega.
OMEGA_POSITIONS = {"neff(a)": "a", "neff(a, b, c)": "a", "neff(omega=a, mode=c)": "a",
                   "field(a)": "a", "field(a, b, c)": "a", "field(omega=a, polarization=b)": "a"}


@HOSTILE
@given(shape=st.sampled_from(sorted(CALLS)), a=anything, b=anything, c=anything)
def test_any_object_in_any_position_fails_cleanly(shape, a, b, c):
    if shape in OMEGA_POSITIONS:
        assume(bounded_omega(a))
    multilayer = reference_stack()
    before = reference_outcomes(multilayer)
    result = outcome(lambda: CALLS[shape](multilayer, a, b, c))
    if shape.startswith("enum =="):
        assert result[0] == "returned", "equality never raises"
    after_step = multilayer.plot_step
    if shape == "plot_step = a" and result[0] == "returned":
        multilayer.plot_step = 0.01  # the one legitimate change; put it back
        assert float_value(a) is not None and (after_step == float_value(a) or after_step != after_step)
    assert reference_outcomes(multilayer) == before


@HOSTILE
@given(layers=layer_sequences)
def test_any_layer_sequence_is_copied_or_refused(layers):
    result = outcome(lambda: MultiLayer(layers))
    if result[0] == "returned":
        assert result[1] == ("multilayer", "0.001")


def test_stack_copied_from_a_changing_sequence_is_its_snapshot():
    grows = Grows(sane_layers(3))
    multilayer = MultiLayer(grows)
    # The snapshot holds what the iteration saw, and later changes do not reach it.
    seen = len(multilayer.index().x)
    grows.items.clear()
    assert len(multilayer.index().x) == seen


# ---- huge requests ----------------------------------------------------------------

@pytest.mark.parametrize("method", ["index", "field"])
def test_grid_beyond_memory_raises_memory_error(method):
    """plot_step 1e-9 across three units: 3e9 samples, a count the grid can
    represent, 24 GB per vector; the index profile needs two vectors, the field
    sixteen doubles a sample."""
    if available_bytes() > 48e9:
        pytest.skip("this machine could hold the grid")
    multilayer = MultiLayer([Layer(1.0, 1.0), Layer(1.5, 1.0), Layer(1.0, 1.0)])
    before = reference_outcomes_for(multilayer)
    multilayer.plot_step = 1e-9
    call = multilayer.index if method == "index" else lambda: multilayer.field(REFERENCE_OMEGA)
    with pytest.raises(MemoryError, match=r"cannot allocate 3000000000 samples .* available"):
        call()
    multilayer.plot_step = 0.01
    assert reference_outcomes_for(multilayer) == before


def reference_outcomes_for(multilayer):
    multilayer.plot_step = 0.01
    return [outcome(multilayer.index), outcome(lambda: multilayer.field(REFERENCE_OMEGA))]


def test_grid_count_beyond_two_to_the_32_keeps_its_fault():
    multilayer = MultiLayer([Layer(1.0, 1.0), Layer(1.5, 1.0), Layer(1.0, 1.0)])
    multilayer.plot_step = 1e-10  # 3e10 samples
    with pytest.raises(PanicException, match=r"^called `Option::unwrap\(\)` on a `None` value$"):
        multilayer.index()
