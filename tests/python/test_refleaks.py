"""Reference leaks, on a debug interpreter: every entry point on its success
path and on each of its error paths (every call-shape and conversion message,
every fault, a refused allocation, an interrupt), repeated many times, leaves
sys.gettotalrefcount() and the number of objects the collector tracks flat.

A leak of one reference per call shows up as a growth of ROUNDS; the slack
allows for the interpreter's own caches settling.
"""

import copy
import gc
import math
import pickle
import signal
import sys

import pytest

import tavrik
from tavrik import BackEnd, FieldData, IndexData, Layer, MultiLayer, Polarization
from support import (FloatRaises, FloatSub, FloatWrongType, Grows, IndexRaises, IndexWrongType,
                     IntSub, IterBreaks, IterRaises, LenHuge, LenRaises, PanicException, Seq,
                     UserError, available_bytes)

pytestmark = [
    pytest.mark.skipif(not hasattr(sys, "gettotalrefcount"), reason="needs a debug interpreter"),
    pytest.mark.cpython_only(reason="reference counts of the CPython host"),
]

ROUNDS = 300
WARMUP = 30
SLACK = 30
OMEGA = 2 * math.pi


def slab():
    return MultiLayer([Layer(1.0, 0.0), Layer(1.5, 1.0), Layer(1.0, 0.0)])


def gold_film():
    stack = MultiLayer([Layer(1.5, 0.1), Layer(0.176 + 3.41j, 0.03), Layer(1.5, 0.1)])
    stack.plot_step = 0.01
    return stack


def layers():
    return [Layer(1.0, 0.0), Layer(1.5, 1.0), Layer(1.0, 0.0)]


STACK = slab()
EMPTY = MultiLayer([])
THIN = MultiLayer([Layer(1.0, 0.0), Layer(3.0, 0.0005), Layer(1.0, 0.0)])  # one sample: a fault
# 3e9 samples: a representable count whose grid alone needs 24 GB.
HUGE = MultiLayer([Layer(1.0, 1.0), Layer(1.5, 1.0), Layer(1.0, 1.0)])
HUGE.plot_step = 1e-9
FINE = slab()
FINE.plot_step = 1e-12  # beyond 2^32 samples
ZERO_STEP = slab()
ZERO_STEP.plot_step = 0.0
INDEX = STACK.index()
FIELD = STACK.field(OMEGA)


class BorrowsWhileConverting:
    """omega whose float conversion writes plot_step while neff holds the stack."""

    def __init__(self, target):
        self.target = target

    def __float__(self):
        self.target.plot_step = 0.5
        return OMEGA


def interrupted(call):
    """Runs `call` under a 1 ms alarm whose handler raises KeyboardInterrupt."""

    def handler(signum, frame):
        raise KeyboardInterrupt

    previous = signal.signal(signal.SIGALRM, handler)
    try:
        signal.setitimer(signal.ITIMER_REAL, 0.001)
        call()
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)


def subclass(base):
    type("Sub", (base,), {})


def attribute(obj, name):
    return getattr(obj, name)


# (name, call, the exception class it must raise or None)
CASES = [
    # Layer
    ("layer", lambda: Layer(1.5, 2e-7), None),
    ("layer keywords", lambda: Layer(d=1, n=FloatSub(2.0)), None),
    ("layer bool and int subclass", lambda: Layer(True, IntSub(3)), None),
    ("layer str", lambda: (str(Layer(1.5, 0.25)), repr(Layer(float("nan"), -0.0))), None),
    ("layer missing", lambda: Layer(), TypeError),
    ("layer missing one", lambda: Layer(1.0), TypeError),
    ("layer too many", lambda: Layer(1, 2, 3), TypeError),
    ("layer multiple values", lambda: Layer(1, n=2), TypeError),
    ("layer unexpected keyword", lambda: Layer(1, 2, x=3), TypeError),
    ("layer conversion", lambda: Layer("a", 1), TypeError),
    ("layer conversion d", lambda: Layer(1, b"x"), TypeError),
    ("layer overflow", lambda: Layer(10**400, 1), OverflowError),
    ("layer float raises", lambda: Layer(FloatRaises(), 1), UserError),
    ("layer float wrong type", lambda: Layer(FloatWrongType(), 1), TypeError),
    ("layer attribute", lambda: Layer(1, 1).x, AttributeError),
    ("layer values", lambda: (Layer(1, 1).n, Layer(1, 1).d), None),
    ("layer complex", lambda: (Layer(1.5 + 1j, 1).n, str(Layer(0.2 - 3j, 1))), None),
    ("layer complex d", lambda: Layer(1.5, 1 + 1j), TypeError),
    ("layer complex pickle", lambda: pickle.loads(pickle.dumps(Layer(0.2 + 3.4j, 0.05))), None),
    ("complex modes", lambda: gold_film().modes(9.9, Polarization.TM), None),
    ("complex leaky window", lambda: MultiLayer([Layer(1.0, 1), Layer(1.6, 0.8), Layer(1.7, 1)]).modes(
        9.9, leaky=True, window=(1.05, 1.65, 0.0, 0.2)), None),
    ("complex bad window", lambda: slab().modes(9.9, window=(2, 1, 0, 1)), ValueError),
    ("complex neff field index", lambda: (gold_film().neff(9.9, Polarization.TM), gold_film().field(9.9, Polarization.TM).Hy, gold_film().index().n), None),
    ("complex missing mode", lambda: gold_film().neff(9.9, Polarization.TM, 5), Exception),
    ("complex nan index", lambda: MultiLayer([Layer(1, 1), Layer(complex(float("nan"), 1), 1), Layer(1, 1)]).modes(9.9), ValueError),
    ("complex refused by group_index", lambda: gold_film().group_index(9.9, Polarization.TM), ValueError),
    ("layer pickle", lambda: pickle.loads(pickle.dumps(Layer(1.5, 2.0))), None),
    ("layer subclass", lambda: subclass(Layer), TypeError),
    # enumerations
    ("enum repr int", lambda: [(repr(m), str(m), int(m)) for m in (BackEnd.Scattering, BackEnd.Transfer, Polarization.TE, Polarization.TM)], None),
    ("enum equal", lambda: (BackEnd.Transfer == 1, Polarization.TE != True, Polarization.TM == Polarization.TM, BackEnd.Transfer == 2**80, BackEnd.Scattering == "Scattering", Polarization.TE == BackEnd.Scattering, Polarization.TE == IndexRaises()), None),
    ("enum ordering", lambda: BackEnd.Scattering < BackEnd.Transfer, TypeError),
    ("enum ordering int", lambda: Polarization.TE >= 0, TypeError),
    ("enum constructor", lambda: BackEnd(), TypeError),
    ("polarization constructor", lambda: Polarization(0), TypeError),
    ("enum hash", lambda: {Polarization.TE: 0, BackEnd.Transfer: 1}, None),
    ("enum pickle", lambda: pickle.loads(pickle.dumps(Polarization.TM)), None),
    # MultiLayer construction
    ("multilayer list", lambda: MultiLayer(layers()), None),
    ("multilayer tuple", lambda: MultiLayer(tuple(layers())), None),
    ("multilayer sequence", lambda: MultiLayer(Seq(layers())), None),
    ("multilayer keyword", lambda: MultiLayer(layers=layers()), None),
    ("multilayer len raises", lambda: MultiLayer(LenRaises(layers())), None),
    ("multilayer len huge", lambda: MultiLayer(LenHuge(layers())), None),
    ("multilayer grows", lambda: MultiLayer(Grows(layers())), None),
    ("multilayer bytes", lambda: MultiLayer(b""), None),
    ("multilayer missing", lambda: MultiLayer(), TypeError),
    ("multilayer too many", lambda: MultiLayer([], []), TypeError),
    ("multilayer multiple values", lambda: MultiLayer([], layers=[]), TypeError),
    ("multilayer unexpected keyword", lambda: MultiLayer(stack=[]), TypeError),
    ("multilayer str", lambda: MultiLayer("abc"), TypeError),
    ("multilayer not a sequence", lambda: MultiLayer(5), TypeError),
    ("multilayer generator", lambda: MultiLayer(x for x in layers()), TypeError),
    ("multilayer item", lambda: MultiLayer([Layer(1, 1), 1.0]), TypeError),
    ("multilayer iter raises", lambda: MultiLayer(IterRaises(layers())), UserError),
    ("multilayer iter fails halfway", lambda: MultiLayer(IterBreaks(layers())), UserError),
    ("multilayer subclass", lambda: subclass(MultiLayer), TypeError),
    # plot_step
    ("plot_step get", lambda: STACK.plot_step, None),
    ("layers get", lambda: STACK.layers, None),
    ("multilayer pickle", lambda: pickle.loads(pickle.dumps(STACK)), None),
    ("multilayer deepcopy", lambda: copy.deepcopy(STACK), None),
    ("plot_step set", lambda: setattr(slab(), "plot_step", IntSub(2)), None),
    ("plot_step set str", lambda: setattr(STACK, "plot_step", "x"), TypeError),
    ("plot_step set raises", lambda: setattr(STACK, "plot_step", FloatRaises()), UserError),
    ("plot_step delete", lambda: delattr(STACK, "plot_step"), AttributeError),
    ("plot_step on another object", lambda: MultiLayer.plot_step.__set__(Layer(1, 1), 0.1), TypeError),
    ("plot_step while borrowed", lambda: (lambda m: m.neff(BorrowsWhileConverting(m)))(slab()), RuntimeError),
    # neff
    ("neff", lambda: STACK.neff(OMEGA), None),
    ("neff all arguments", lambda: STACK.neff(OMEGA, Polarization.TM, 2), None),
    ("neff keywords and None", lambda: STACK.neff(mode=None, polarization=None, omega=IntSub(6)), None),
    ("neff mode index object", lambda: STACK.neff(OMEGA, mode=True), None),
    ("neff mode not found", lambda: STACK.neff(OMEGA, mode=3), Exception),
    ("neff no modes", lambda: MultiLayer([Layer(1, 1)]).neff(OMEGA), Exception),
    ("neff empty stack", lambda: EMPTY.neff(1.0), PanicException),
    ("neff negative omega", lambda: STACK.neff(-1000.0), ValueError),
    ("neff nan omega", lambda: STACK.neff(float("nan")), ValueError),
    ("neff meaningless layer", lambda: MultiLayer([Layer(1, 1), Layer(-2, 1), Layer(1, 1)]).neff(1.0), ValueError),
    ("neff complex omega", lambda: STACK.neff(1j), TypeError),
    ("neff too many samples", lambda: STACK.neff(1e9), PanicException),
    ("neff missing", lambda: STACK.neff(), TypeError),
    ("neff too many", lambda: STACK.neff(1, None, None, None), TypeError),
    ("neff multiple values", lambda: STACK.neff(1, omega=1), TypeError),
    ("neff unexpected keyword", lambda: STACK.neff(1, pol=None), TypeError),
    ("neff omega str", lambda: STACK.neff("1"), TypeError),
    ("neff omega overflow", lambda: STACK.neff(-(10**400)), OverflowError),
    ("neff omega raises", lambda: STACK.neff(FloatRaises()), UserError),
    ("neff polarization", lambda: STACK.neff(OMEGA, 0), TypeError),
    ("neff polarization backend", lambda: STACK.neff(OMEGA, BackEnd.Transfer), TypeError),
    ("neff mode negative", lambda: STACK.neff(OMEGA, None, -1), OverflowError),
    ("neff mode too big", lambda: STACK.neff(OMEGA, None, 2**32), OverflowError),
    ("neff mode beyond 64 bits", lambda: STACK.neff(OMEGA, None, 2**70), OverflowError),
    ("neff mode float", lambda: STACK.neff(OMEGA, None, 1.0), TypeError),
    ("neff mode index raises", lambda: STACK.neff(OMEGA, None, IndexRaises()), UserError),
    ("neff mode index wrong type", lambda: STACK.neff(OMEGA, None, IndexWrongType()), TypeError),
    ("neff receiver", lambda: MultiLayer.neff(Layer(1, 1), 1.0), TypeError),
    ("neff interrupted", lambda: interrupted(lambda: STACK.neff(1e6)), KeyboardInterrupt),
    # modes
    ("modes", lambda: STACK.modes(OMEGA), None),
    ("modes keywords and None", lambda: STACK.modes(polarization=None, omega=IntSub(6)), None),
    ("modes no modes", lambda: EMPTY.modes(OMEGA), None),
    ("modes uncertifiable", lambda: STACK.modes(-1.0), ValueError),
    ("modes too many", lambda: STACK.modes(1, None, None), TypeError),
    ("modes omega raises", lambda: STACK.modes(FloatRaises()), UserError),
    ("modes polarization", lambda: STACK.modes(OMEGA, 0), TypeError),
    ("modes interrupted", lambda: interrupted(lambda: STACK.modes(1e6)), KeyboardInterrupt),
    # group_index, power_fractions, dispersion
    ("group_index", lambda: STACK.group_index(OMEGA, Polarization.TM, 1), None),
    ("group_index mode not found", lambda: STACK.group_index(OMEGA, None, 3), Exception),
    ("group_index meaningless omega", lambda: STACK.group_index(float("inf")), ValueError),
    ("group_index mode negative", lambda: STACK.group_index(OMEGA, None, -1), OverflowError),
    ("power_fractions", lambda: STACK.power_fractions(OMEGA, mode=1), None),
    ("power_fractions mode not found", lambda: STACK.power_fractions(OMEGA, None, 3), Exception),
    ("power_fractions omega raises", lambda: STACK.power_fractions(FloatRaises()), UserError),
    ("dispersion", lambda: STACK.dispersion([OMEGA, IntSub(6), 1.0], Polarization.TM), None),
    ("dispersion bad omega", lambda: STACK.dispersion([OMEGA, float("nan")]), ValueError),
    ("dispersion omega raises", lambda: STACK.dispersion([OMEGA, FloatRaises()]), UserError),
    ("dispersion str", lambda: STACK.dispersion("12"), TypeError),
    ("dispersion complex", lambda: STACK.dispersion([1j]), TypeError),
    ("dispersion data pickle", lambda: pickle.loads(pickle.dumps(STACK.dispersion([OMEGA, 1.0]))), None),
    ("dispersion data rebuild", lambda: tavrik.DispersionData._rebuild([1.0], [[1.0]], [[1.0]], [[1.0, 2.0]]), ValueError),
    # index
    ("index", lambda: STACK.index(), None),
    ("index empty stack", lambda: EMPTY.index(), PanicException),
    ("index zero step", lambda: ZERO_STEP.index(), PanicException),
    ("index too large", lambda: HUGE.index(), MemoryError),
    ("index argument", lambda: STACK.index(1), TypeError),
    ("index data", lambda: (INDEX.x, INDEX.n), None),
    ("index data constructor", lambda: IndexData(), TypeError),
    ("index data write", lambda: setattr(INDEX, "x", []), AttributeError),
    ("index data pickle", lambda: pickle.loads(pickle.dumps(INDEX)), None),
    ("index data rebuild", lambda: IndexData._rebuild([1.0], []), ValueError),
    ("index too many samples", lambda: FINE.index(), MemoryError),
    # field
    ("field", lambda: STACK.field(OMEGA), None),
    ("field all arguments", lambda: STACK.field(OMEGA, Polarization.TM, 1), None),
    ("field keywords", lambda: STACK.field(omega=OMEGA, mode=None), None),
    ("field mode not found", lambda: STACK.field(OMEGA, None, 3), Exception),
    ("field empty stack", lambda: EMPTY.field(1.0), PanicException),
    ("field one sample", lambda: THIN.field(OMEGA), PanicException),
    ("field too large", lambda: HUGE.field(OMEGA), MemoryError),
    ("field missing", lambda: STACK.field(), TypeError),
    ("field too many", lambda: STACK.field(1, None, None, None), TypeError),
    ("field unexpected keyword", lambda: STACK.field(OMEGA, x=1), TypeError),
    ("field omega str", lambda: STACK.field("x"), TypeError),
    ("field polarization", lambda: STACK.field(OMEGA, "TE"), TypeError),
    ("field mode negative", lambda: STACK.field(OMEGA, None, -5), OverflowError),
    ("field mode float", lambda: STACK.field(OMEGA, None, 0.0), TypeError),
    ("field interrupted", lambda: interrupted(lambda: STACK.field(1e6)), KeyboardInterrupt),
    ("field data", lambda: [attribute(FIELD, name) for name in ("x", "Ex", "Ey", "Ez", "Hx", "Hy", "Hz")], None),
    ("field data constructor", lambda: FieldData(), TypeError),
    ("field data write", lambda: setattr(FIELD, "Ey", []), AttributeError),
    ("field data pickle", lambda: pickle.loads(pickle.dumps(FIELD)), None),
    ("field data rebuild", lambda: FieldData._rebuild([1.0], [], [], [], [], [], [1j]), ValueError),
    ("field meaningless omega", lambda: STACK.field(-1.0), ValueError),
    # module
    ("module attributes", lambda: (tavrik.__all__, tavrik.Layer, tavrik.__doc__, tavrik.PanicException, tavrik.__version__), None),
]


# On a machine that can hold the 48 GB of HUGE.index() the request is legitimate.
ROOM_FOR_HUGE = available_bytes() > 48e9


def outcome(call):
    try:
        call()
    except BaseException as error:  # every class the call may raise
        return type(error)
    return None


def counts():
    gc.collect()
    return sys.gettotalrefcount(), len(gc.get_objects())


@pytest.mark.parametrize("call, expected", [pytest.param(c, e, id=n) for n, c, e in CASES])
def test_entry_point_path_leaks_nothing(call, expected):
    if expected is MemoryError and ROOM_FOR_HUGE:
        pytest.skip("this machine could allocate the huge grid")
    allowed = expected if isinstance(expected, tuple) else (expected,)
    got = outcome(call)
    assert got in allowed, f"raised {got}, not {expected}: the case does not take the path it names"
    for _ in range(WARMUP):
        outcome(call)
    refs_before, objects_before = counts()
    for _ in range(ROUNDS):
        outcome(call)
    refs_after, objects_after = counts()
    assert refs_after - refs_before <= SLACK, f"total refcount grew by {refs_after - refs_before}"
    assert objects_after - objects_before <= SLACK, f"tracked objects grew by {objects_after - objects_before}"


def test_the_counts_see_a_leak():
    """The measurement itself: references kept alive on purpose are counted."""
    kept = []
    refs_before, objects_before = counts()
    for _ in range(ROUNDS):
        kept.append([])
    refs_after, objects_after = counts()
    assert refs_after - refs_before >= ROUNDS
    assert objects_after - objects_before >= ROUNDS
