"""Guided modes of planar multilayer slab waveguides.

Describe a stack as a list of :class:`Layer` objects (refractive index
``n``, real or complex, and thickness ``d``), wrap it in a :class:`MultiLayer`, and ask it for the
effective index of a guided mode (:meth:`MultiLayer.neff`), the index profile
across the stack (:meth:`MultiLayer.index`) or the six field components of a
mode normalised to unit power flow (:meth:`MultiLayer.field`).

Conventions
-----------
* ``omega`` is the vacuum wavenumber k0 = 2*pi/lambda, in the reciprocal unit
  of the thicknesses (thicknesses in micrometres: ``omega`` in 1/micrometre).
  No speed of light and no factor 2*pi are applied: ``omega`` is used as given.
* The first and the last layer are the two outer half-spaces; their thickness
  only sets how far the sampling grid reaches into them.
* The stack normal is the axis ``x`` of the results, with its origin at the
  interface between layer 0 and layer 1; modes propagate along z with the
  propagation constant beta = neff * omega.
* Modes are numbered from 0 in order of decreasing effective index.
* Magnetic components are reported divided by the vacuum impedance
  Z0 = 376.73031346177066 ohm, so they carry the unit of the electric field.

Failures
--------
* ``TypeError`` / ``OverflowError``: an argument that does not fit (call shape,
  type, a negative or oversized ``mode``, a complex value with a non-zero
  imaginary part where only a layer's ``n`` may be complex); conversion errors name the argument ("argument 'omega': ...").
* ``ValueError``: a stack or an ``omega`` without physical meaning, refused by
  every computation of a mode: an index that is not finite and positive, an
  inner thickness that is not finite and non-negative, an ``omega`` that is not
  finite and non-negative. The message names the layer by its position
  ("layers[1]: ...") and the value.
* ``Exception`` (the base class itself): the requested mode does not exist,
  "Mode 3 not found. Only 3 modes (0->2) available."
* ``MemoryError``: a sampling grid that would not fit in memory or has 2**32
  samples or more (a ``plot_step`` far too small for the stack), refused
  before allocating.
* ``PanicException``: an internal fault, a violated precondition such as an
  empty stack or a ``plot_step`` of 0. It derives from ``BaseException``, not
  from ``Exception``, so ``except Exception`` does not catch it; catch it as
  ``tavrik.PanicException``. A report is written to standard error, and the
  ``MultiLayer`` stays unchanged and usable.

Every object pickles and deep-copies (enumeration members as the same
singletons), so stacks and results travel to worker processes.
"""

from collections.abc import Sequence
from typing import ClassVar, SupportsComplex, final

__all__ = ["BackEnd", "Polarization", "Layer", "MultiLayer", "IndexData", "FieldData"]

__version__: str
"""The package version, as in the package metadata."""

class PanicException(BaseException):
    """An internal fault of a computation: a violated precondition.

    Derives from BaseException, so `except Exception` does not catch it. The
    argument is the fault's message; a report is also written to standard
    error.
    """

@final
class BackEnd:
    """The matrix method of the mode search.

    Not constructible (``TypeError`` "No constructor defined for BackEnd");
    use the members. A ``MultiLayer`` made from Python always uses ``Transfer``.
    Members equal their integer value (``BackEnd.Transfer == 1``) and members
    of the same class with that value; ordering comparisons raise ``TypeError``.
    Members hash as their value (``hash(BackEnd.Transfer) == hash(1)``), and
    pickle and copy as the same singletons.
    """

    Scattering: ClassVar[BackEnd]
    """Scattering-matrix method (value 0)."""
    Transfer: ClassVar[BackEnd]
    """Transfer-matrix method (value 1), the default."""
    def __hash__(self) -> int:
        """The hash of the member's value."""
    def __int__(self) -> int:
        """The member's value: 0 for ``Scattering``, 1 for ``Transfer``."""
    def __eq__(self, value: object, /) -> bool: ...
    def __ne__(self, value: object, /) -> bool: ...

@final
class Polarization:
    """The polarization of a mode.

    Not constructible (``TypeError`` "No constructor defined for Polarization");
    use the members. Members equal their integer value (``Polarization.TM == 1``)
    and members of the same class with that value; ordering comparisons raise
    ``TypeError``. Members hash as their value (``hash(Polarization.TE) ==
    hash(0)``), and pickle and copy as the same singletons.
    """

    TE: ClassVar[Polarization]
    """Transverse electric (value 0): Ey, Hx and Hz are set, Ex, Ez and Hy are zero."""
    TM: ClassVar[Polarization]
    """Transverse magnetic (value 1): Ex, Ez and Hy are set, Ey, Hx and Hz are zero."""
    def __hash__(self) -> int:
        """The hash of the member's value."""
    def __int__(self) -> int:
        """The member's value: 0 for ``TE``, 1 for ``TM``."""
    def __eq__(self, value: object, /) -> bool: ...
    def __ne__(self, value: object, /) -> bool: ...

@final
class Layer:
    """One homogeneous slab of the stack: ``Layer(n, d)``.

    ``n`` is the real refractive index and ``d`` the thickness, in the length
    unit whose reciprocal is the unit of ``omega``. Both are converted with
    Python's float conversion (floats, ints, bools and objects with
    ``__float__`` are accepted) and stored as given, without range checks
    (the computations refuse a stack without physical meaning). ``n`` may be
    complex, n' + i n'' (a Python or NumPy complex, or any object with
    ``__complex__``): n'' > 0 absorbs, n'' < 0 amplifies; a metal has a small
    n' and a large n''. A complex ``n`` with a zero imaginary part is the real
    index in every respect. ``str()`` and ``repr()`` give
    ``Layer(n=1.5, d=0.22)`` or ``Layer(n=(0.18+3.41j), d=0.05)``. Layers
    compare equal only to themselves; they pickle and copy (a complex ``n``
    stays complex).

    Raises ``TypeError`` for a wrong call shape, an argument without a float
    conversion ("argument 'n': must be real number, not str") or a ``d``
    with a non-zero imaginary part.
    """

    def __new__(cls, n: float | complex | SupportsComplex, d: float) -> Layer: ...
    @property
    def n(self) -> float | complex:
        """The refractive index, as stored (read-only): a complex when its imaginary part is non-zero, else a float."""
    @property
    def d(self) -> float:
        """The thickness, in the length unit of the stack, as stored (read-only)."""

@final
class MultiLayer:
    """A stack of layers: ``MultiLayer(layers)``.

    ``layers`` is any sequence (list, tuple, ...) of :class:`Layer`, the first
    element at the start of the stack; the values are copied, so later changes
    to the list do not affect the stack. The first and the last layer are the
    outer half-spaces. An empty or one-layer stack is accepted, but the
    computations then fail (``PanicException`` for an empty stack). A stack
    pickles and copies with its :attr:`plot_step`.

    Raises ``TypeError`` when ``layers`` is a string ("argument 'layers':
    Can't extract `str` to `Vec`"), not a sequence, or holds an item that is
    not a ``Layer``.
    """

    def __new__(cls, layers: Sequence[Layer]) -> MultiLayer: ...
    @property
    def layers(self) -> list[Layer]:
        """The stack, as a new list of new :class:`Layer` objects (read-only)."""
    @property
    def plot_step(self) -> float:
        """Spacing of the sampling grid of :meth:`index` and :meth:`field`.

        In the length unit of the thicknesses; 0.001 when the stack is made.
        Any float is stored: a step of 0 or NaN makes :meth:`index` and
        :meth:`field` raise ``PanicException``. Assigning a value without a
        float conversion raises ``TypeError``; deleting raises
        ``AttributeError`` "can't delete attribute". :meth:`neff` ignores it.
        """
    @plot_step.setter
    def plot_step(self, value: float) -> None: ...
    # Typed float so that code written for real stacks keeps its types; a stack
    # with a complex index returns a complex (see the docstring).
    def neff(self, omega: float, polarization: Polarization | None = None, mode: int | None = None) -> float:
        """Effective index of one guided mode.

        ``omega`` is the vacuum wavenumber 2*pi/lambda in the reciprocal unit
        of the thicknesses. ``polarization`` defaults to ``Polarization.TE``,
        ``mode`` to 0, the mode with the highest effective index; modes are
        numbered in order of decreasing effective index. The search resolves
        the propagation constant beta = neff * omega to 1e-9 (1e-9 / omega in
        the effective index). ``None`` means the same as an omitted argument.
        A stack with a complex index gives the complex neff of entry ``mode``
        of :meth:`modes`.

        Raises:
            Exception: (the base class itself) when ``mode`` is not below the
                number of guided modes: "Mode 2 not found. Only 2 modes
                (0->1) available."
            TypeError: wrong call shape, ``omega`` without a float conversion
                or complex, ``polarization`` not a ``Polarization`` or
                ``mode`` not an integer (the message names the argument).
            OverflowError: ``mode`` negative or beyond 32 bits.
            ValueError: a stack or ``omega`` without physical meaning: an
                index not finite and positive (complex: not finite, zero or
                with a negative real part), an inner thickness not finite
                and non-negative, ``omega`` not finite and non-negative, or,
                where the stack guides, n * omega so large that its square
                overflows (the message names the layer and the value:
                "layers[1]: ...").
            KeyboardInterrupt: Ctrl-C (a pending signal) stops the search
                (on CPython; on PyPy it arrives when the call returns).
            PanicException: (a ``BaseException``) internal fault, such as an
                empty stack.
        """
    def modes(
        self,
        omega: float,
        polarization: Polarization | None = None,
        *,
        leaky: bool = False,
        window: Sequence[float] | None = None,
    ) -> list[float] | list[complex]:
        """Effective index of every guided mode of one polarization, descending.

        Entry k is mode k of :meth:`neff` (the mode with k zeros of its
        field), each the root of the dispersion relation to full double
        precision: beta = neff * omega is the double nearest the root, in any
        unit of length. Arguments as for :meth:`neff`; ``polarization``
        defaults to ``Polarization.TE``. No guided mode (also an empty or
        one-layer stack, or ``omega`` 0) gives ``[]``. The layers are copied
        and the interpreter lock is released while the modes are computed;
        nothing is kept between calls.

        A stack with a complex index gives every bound mode (surface plasmons
        included, whose Re(neff) may exceed every Re(n)) as a complex, by
        decreasing real part; entry k is ``neff(omega, polarization, k)``.
        Fields vary as exp(i(beta z - omega t)); n'' > 0 absorbs; lossy and
        leaky modes have Im(neff) > 0. A bound mode decays into both
        half-spaces (principal branch of each outer kx).

        ``leaky=True`` adds the leaky modes (of real or complex stacks): they
        radiate into a half-space whose Re(n) exceeds Re(neff), where their
        field grows away from the stack. ``window=(re_min, re_max, im_min,
        im_max)`` bounds the search in the neff plane, for bound and leaky
        modes alike. With ``leaky`` or ``window`` every value is complex.
        Default windows: bound modes in Re(neff) from the larger half-space
        Re(n) to R and Im(neff) in [-R/16, R/2]; leaky modes in Re(neff) in
        [0, R] and Im(neff) in [0, max|n|/2]; R is twice the largest of
        max|n|, each metal/dielectric interface's surface-plasmon index and
        4 atanh(min|eps| / max|eps|) / (omega d) of each film at a metal.
        The count inside the window is certified by the argument principle
        and each mode refined to full precision.

        Raises:
            TypeError, ValueError: as for :meth:`neff`; ``ValueError`` also for
                a malformed ``window`` or a mode on the window's edge.
            KeyboardInterrupt: Ctrl-C (a pending signal) stops the computation
                (on CPython; on PyPy it arrives when the call returns).
        """
    def index(self) -> IndexData:
        """Refractive-index profile sampled across the stack.

        The grid starts at x = -d0 (d0 the thickness of layer 0), the origin
        being the interface between layers 0 and 1, and steps by
        :attr:`plot_step` to the end of the stack. A sample on an interface
        belongs to the layer above it.

        Raises:
            MemoryError: the grid would not fit in memory or has 2**32
                samples or more (a ``plot_step`` far too small for the
                stack); nothing is allocated.
            PanicException: (a ``BaseException``) internal fault: an empty
                stack, a ``plot_step`` of 0 or NaN, or a layer that receives
                no sample (thinner than ``plot_step``).
        """
    def field(self, omega: float, polarization: Polarization | None = None, mode: int | None = None) -> FieldData:
        """The six field components of one guided mode, on the grid of :meth:`index`.

        Arguments as for :meth:`neff`. The fields are normalised to unit power
        flow along z, the integral of Ex*conj(Hy) - Ey*conj(Hx) over x being
        1, evaluated as a trapezoid sum over the grid: its accuracy follows
        :attr:`plot_step` (in TM only to first order, since the power density
        jumps at interfaces). Magnetic components are divided by the vacuum
        impedance Z0.

        The field is that of the exact root of the mode condition (the mode of
        ``modes(omega, polarization)[mode]``); its partial-wave amplitudes are
        the null vector of the interface conditions, so cores coupled through
        thick barriers get fields as accurate as the propagation constant
        allows. Modes whose splitting lies below double precision (cores far
        apart) get distinct fields that are orthogonal in power; which
        combination of the cores each one is, the doubles cannot decide.

        A stack with a complex index gives the field of entry ``mode`` of
        :meth:`modes`, scaled so that the complex power integral has modulus
        1; two modes that share one neff (the interface plasmons of a thick
        symmetric metal film) get two distinct fields, one on each face.

        Raises:
            Exception: (the base class itself) when the mode does not exist,
                with the message of :meth:`neff`.
            TypeError, OverflowError, ValueError: as for :meth:`neff`.
            MemoryError: the grid would not fit in memory, as for :meth:`index`.
            KeyboardInterrupt: Ctrl-C (a pending signal) stops the search
                (on CPython; on PyPy it arrives when the call returns).
            PanicException: (a ``BaseException``) internal fault, such as an
                empty stack, a ``plot_step`` of 0 or a grid with fewer than
                two samples.
        """
    def group_index(self, omega: float, polarization: Polarization | None = None, mode: int | None = None) -> float:
        """The group index n_g = d beta / d omega of one guided mode.

        Arguments as for :meth:`neff`. ``omega`` is the vacuum wavenumber k0,
        so n_g = c / v_g of the waveguide with the layers' indices held fixed
        (no material dispersion). Exact: the derivative of the dispersion
        relation, implicitly differentiated at the mode's propagation constant
        (the root found to full double precision), not a difference quotient.
        The layers are copied and the interpreter lock is released while it
        is computed.

        Raises:
            Exception: (the base class itself) when the mode is not guided,
                with the message of :meth:`neff`.
            TypeError, OverflowError, ValueError: as for :meth:`neff`;
                ``ValueError`` also for a stack with a complex index.
            KeyboardInterrupt: Ctrl-C (a pending signal) stops the solver
                (on CPython; on PyPy it arrives when the call returns).
        """
    def dispersion(self, omegas: Sequence[float], polarization: Polarization | None = None) -> DispersionData:
        """Effective index, group index and GVD of every guided mode over many omegas.

        ``omegas`` is any sequence of floats (a list, a tuple, a NumPy array).
        Row m of each table of the result is mode m, column i is
        ``omegas[i]``; NaN where mode m is not guided there. The neff column at
        ``omegas[i]`` equals ``modes(omegas[i])``; the group index equals
        :meth:`group_index`; ``gvd`` is d^2 beta / d omega^2 in the unit of
        the thicknesses (see the README for beta_2 and D). The omegas are
        shared out over the machine's cores with the interpreter lock
        released.

        Raises:
            ValueError: as for :meth:`neff`, for the stack or for any of the
                omegas (the message names the entry: "omegas[3]: omega must
                be finite and non-negative, not nan"), and for a stack with a
                complex index.
            TypeError: ``omegas`` not a sequence of floats (a string included,
                or an item with a non-zero imaginary part), a ``polarization``
                that is not a :class:`Polarization`.
            KeyboardInterrupt: Ctrl-C (a pending signal) stops the sweep
                (on CPython; on PyPy it arrives when the call returns).
        """
    def power_fractions(
        self, omega: float, polarization: Polarization | None = None, mode: int | None = None
    ) -> list[float]:
        """The share of one guided mode's power flow along z in each layer.

        One float per layer in layer order, the two outer half-spaces
        integrated out to infinity; the shares sum to 1. They are exact
        integrals of the mode's closed-form field at the exact root of its
        mode condition, weighted by ``|Ey|**2`` (TE) or ``|Hy|**2 / n**2``
        (TM); :attr:`plot_step` plays no part. Arguments as for :meth:`neff`.
        The interpreter lock is released while the shares are computed.

        Raises:
            Exception: (the base class itself) when the mode does not exist,
                with the message of :meth:`neff`.
            TypeError, OverflowError, ValueError: as for :meth:`neff`; ``ValueError`` also
                for a stack with a complex index.
            KeyboardInterrupt: Ctrl-C (a pending signal) stops the computation
                (on CPython; on PyPy it arrives when the call returns).
        """

@final
class IndexData:
    """The index profile returned by :meth:`MultiLayer.index`.

    Not constructible; pickles and copies. Each attribute read returns a new
    list; convert with ``numpy.asarray(profile.n)``.
    """

    @property
    def x(self) -> list[float]:
        """Sample positions across the stack, in the length unit of the thicknesses."""
    @property
    def n(self) -> list[float] | list[complex]:
        """Refractive index of the layer that holds each sample.

        Complex values (every one) for a stack with a complex index, floats
        otherwise.
        """

@final
class FieldData:
    """The normalised field of one mode, returned by :meth:`MultiLayer.field`.

    Not constructible; pickles and copies. All seven lists have the length of the grid; each
    attribute read returns a new list; convert with ``numpy.asarray(field.Ey)``.
    The components are scaled so that the power flow along z, the integral
    over x of Ex*conj(Hy) - Ey*conj(Hx), is 1; magnetic components are divided
    by the vacuum impedance Z0, so they share the unit of the electric ones.
    """

    @property
    def x(self) -> list[float]:
        """Sample positions across the stack, in the length unit of the thicknesses."""
    @property
    def Ex(self) -> list[complex]:
        """Electric field along x (zero for TE)."""
    @property
    def Ey(self) -> list[complex]:
        """Electric field along y: the principal component of TE (zero for TM)."""
    @property
    def Ez(self) -> list[complex]:
        """Electric field along z: the principal component of TM (zero for TE)."""
    @property
    def Hx(self) -> list[complex]:
        """Magnetic field along x divided by Z0 (zero for TM)."""
    @property
    def Hy(self) -> list[complex]:
        """Magnetic field along y divided by Z0 (zero for TE)."""
    @property
    def Hz(self) -> list[complex]:
        """Magnetic field along z divided by Z0 (zero for TM)."""

@final
class DispersionData:
    """The result of :meth:`MultiLayer.dispersion`.

    Not constructible; pickles and copies. ``neff``, ``group_index`` and ``gvd`` are lists of rows,
    one per mode number, each row one value per omega (NaN where that mode is
    not guided); ``numpy.asarray(data.gvd)`` is the 2-D array (modes x omegas).
    Each attribute read returns new lists.
    """

    @property
    def omega(self) -> list[float]:
        """The vacuum wavenumbers given, in order."""
    @property
    def neff(self) -> list[list[float]]:
        """Effective index: row m = mode m, column i = omega[i]."""
    @property
    def group_index(self) -> list[list[float]]:
        """Group index d beta / d omega, laid out as :attr:`neff`."""
    @property
    def gvd(self) -> list[list[float]]:
        """d^2 beta / d omega^2 in the unit of the thicknesses, laid out as :attr:`neff`."""
