"""Helpers shared by the Python tests: the fault class, a catalogue of awkward
argument objects, the three-layer slab's modes from the independent reference
(reference.py), and the continuity check of a mode's fields at its interfaces."""

import bisect

import mpmath

import reference
from tavrik import Layer, MultiLayer, Polarization


def stack(layers, step=None):
    """A MultiLayer of (n, d) pairs, with its plot_step when given."""
    s = MultiLayer([Layer(n, d) for n, d in layers])
    if step is not None:
        s.plot_step = step
    return s


def panic_class():
    try:
        MultiLayer([]).neff(1.0)
    except BaseException as error:  # noqa: B036 - the class is what is looked at
        return type(error)
    raise AssertionError("an empty stack did not fault")


PanicException = panic_class()


def available_bytes():
    with open("/proc/meminfo") as meminfo:
        for line in meminfo:
            if line.startswith("MemAvailable:"):
                return int(line.split()[1]) * 1024
    return 0


# ---- awkward argument objects ---------------------------------------------------


class UserError(Exception):
    """Raised by the tests' own objects: it must come through unchanged."""


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


class LenLies(Seq):
    """Claims far more items than it yields (or than memory holds)."""

    def __len__(self):
        return 2**40


class LenHuge(Seq):
    def __len__(self):
        return 2**62


class LenNegative(Seq):
    def __len__(self):
        return -3


class IterRaises(Seq):
    def __iter__(self):
        raise UserError("no iter")


class IterBreaks(Seq):
    def __iter__(self):
        yield from self.items[:1]
        raise UserError("iteration broke")


class Grows(Seq):
    """Appends to itself while it is read."""

    def __getitem__(self, i):
        if len(self.items) < 8:
            self.items.append(Layer(1.2, 0.1))
        return self.items[i]


class Shrinks(Seq):
    """Drops its last item on every read."""

    def __getitem__(self, i):
        if self.items:
            self.items.pop()
        return self.items[i]


class MutatingList(list):
    def __iter__(self):
        for item in list.__iter__(self):
            self.append(item) if len(self) < 8 else self.clear()
            yield item


# ---- the slab oracle --------------------------------------------------------------


def all_modes(multilayer, omega, polarization):
    """Every mode neff reports, and the message that ends the list."""
    modes = []
    while True:
        try:
            modes.append(multilayer.neff(omega, polarization, len(modes)))
        except Exception as error:
            assert type(error) is Exception
            return modes, str(error)


def slab_modes(omega, n0, n1, n2, d, polarization):
    """The propagation constants of the slab n0 | n1, d | n2, mode 0 first: the
    closed-form relation's roots at 40 digits (reference.py), as floats."""
    with mpmath.workdps(40):
        roots = reference.slab_roots([(n0, 0.0), (n1, d), (n2, 0.0)], omega, polarization == Polarization.TE)
        return [float(beta) for beta in roots]


# ---- continuity of a mode at its interfaces -------------------------------------------


def assert_continuous(field, layers, polarization, rel, context=()):
    """At a mode every layer's expression meets the next one's at the interface,
    so on a fine grid the step across an interface is no larger than the
    field's own change from one sample to the next. Ex jumps with the
    permittivity; n^2 Ex is continuous."""
    n = [layer[0] for layer in layers]
    bounds = [0.0]
    for _, d in layers[1:-1]:
        bounds.append(bounds[-1] + d)
    for j, boundary in enumerate(bounds):
        i = bisect.bisect_left(field.x, boundary - 1e-12)
        for name in ["Ey", "Hx", "Hz"] if polarization is Polarization.TE else ["Ez", "Hy", "Ex"]:
            values = getattr(field, name)
            w_lo, w_hi = (n[j] ** 2, n[j + 1] ** 2) if name == "Ex" else (1.0, 1.0)
            lo2, lo, hi = values[i - 2] * w_lo, values[i - 1] * w_lo, values[i] * w_hi
            scale = max(abs(v) for v in values) * max(w_lo, w_hi)
            assert abs(hi - lo) <= 3 * abs(lo - lo2) + rel * scale, (*context, name, boundary)
