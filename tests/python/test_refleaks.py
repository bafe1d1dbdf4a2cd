"""Reference leaks, on a debug interpreter: every entry point on its success
path and on each of its error paths (every call-shape and conversion message,
every fault, a refused allocation, an interrupt), repeated many times, leaves
sys.gettotalrefcount() and the number of objects the collector tracks flat.

A leak of one reference per call shows up as a growth of ROUNDS; the slack
allows for the interpreter's own caches settling.
"""

import gc
import math
import signal
import sys

import pytest

import tavrik
from tavrik import BackEnd, FieldData, IndexData, Layer, MultiLayer, Polarization

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


def panic_class():
    try:
        MultiLayer([]).neff(1.0)
    except BaseException as error:  # noqa: B036 - the class is what we want
        return type(error)
    raise AssertionError("an empty stack did not fault")


PanicException = panic_class()
assert PanicException.__name__ == "PanicException"


class UserError(Exception):
    pass


class FloatSub(float):
    pass


class IntSub(int):
    pass


class FloatRaises:
    def __float__(self):
        raise UserError("no float")


class FloatWrongType:
    def __float__(self):
        return "1.5"


class IndexRaises:
    def __index__(self):
        raise UserError("no index")


class IndexWrongType:
    def __index__(self):
        return 1.5


class Seq:
    def __init__(self, items):
        self.items = list(items)

    def __len__(self):
        return len(self.items)

    def __getitem__(self, i):
        return self.items[i]


class LenRaises(Seq):
    def __len__(self):
        raise UserError("no len")


class LenHuge(Seq):
    def __len__(self):
        return 2**62


class IterRaises(Seq):
    def __iter__(self):
        raise UserError("no iter")


class IterFailsHalfway(Seq):
    def __iter__(self):
        yield self.items[0]
        raise UserError("iteration broke")


class Grows(Seq):
    """A sequence that appends to itself while it is read."""

    def __getitem__(self, i):
        if len(self.items) < 6:
            self.items.append(Layer(1.2, 0.1))
        return self.items[i]


def layers():
    return [Layer(1.0, 0.0), Layer(1.5, 1.0), Layer(1.0, 0.0)]


STACK = slab()
EMPTY = MultiLayer([])
THIN = MultiLayer([Layer(1.0, 0.0), Layer(3.0, 0.0005), Layer(1.0, 0.0)])  # one sample: a fault
# 3e9 samples: a representable count whose grid alone needs 24 GB.
HUGE = MultiLayer([Layer(1.0, 1.0), Layer(1.5, 1.0), Layer(1.0, 1.0)])
HUGE.plot_step = 1e-9
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
    ("layer attribute", lambda: Layer(1, 1).n, AttributeError),
    ("layer subclass", lambda: subclass(Layer), TypeError),
    # enumerations
    ("enum repr int", lambda: [(repr(m), str(m), int(m)) for m in (BackEnd.Scattering, BackEnd.Transfer, Polarization.TE, Polarization.TM)], None),
    ("enum equal", lambda: (BackEnd.Transfer == 1, Polarization.TE != True, Polarization.TM == Polarization.TM, BackEnd.Transfer == 2**80, BackEnd.Scattering == "Scattering", Polarization.TE == BackEnd.Scattering, Polarization.TE == IndexRaises()), None),
    ("enum ordering", lambda: BackEnd.Scattering < BackEnd.Transfer, TypeError),
    ("enum ordering int", lambda: Polarization.TE >= 0, TypeError),
    ("enum constructor", lambda: BackEnd(), TypeError),
    ("polarization constructor", lambda: Polarization(0), TypeError),
    ("enum hash", lambda: hash(Polarization.TE), TypeError),
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
    ("multilayer iter fails halfway", lambda: MultiLayer(IterFailsHalfway(layers())), UserError),
    ("multilayer subclass", lambda: subclass(MultiLayer), TypeError),
    # plot_step
    ("plot_step get", lambda: STACK.plot_step, None),
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
    ("neff negative omega", lambda: STACK.neff(-1000.0), PanicException),
    ("neff nan omega", lambda: STACK.neff(float("nan")), PanicException),
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
    # index
    ("index", lambda: STACK.index(), None),
    ("index empty stack", lambda: EMPTY.index(), PanicException),
    ("index zero step", lambda: ZERO_STEP.index(), PanicException),
    ("index too large", lambda: HUGE.index(), MemoryError),
    ("index argument", lambda: STACK.index(1), TypeError),
    ("index data", lambda: (INDEX.x, INDEX.n), None),
    ("index data constructor", lambda: IndexData(), TypeError),
    ("index data write", lambda: setattr(INDEX, "x", []), AttributeError),
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
    # module
    ("module attributes", lambda: (tavrik.__all__, tavrik.Layer, tavrik.__doc__), None),
]


def available_bytes():
    with open("/proc/meminfo") as meminfo:
        for line in meminfo:
            if line.startswith("MemAvailable:"):
                return int(line.split()[1]) * 1024
    return 0


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
