"""Guided modes of planar multilayer slab waveguides.

Describe a stack as a list of :class:`Layer` objects (real refractive index
``n``, thickness ``d``), wrap it in a :class:`MultiLayer`, and ask it for the
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
  type, a negative or oversized ``mode``); conversion errors name the argument
  ("argument 'omega': ...").
* ``Exception`` (the base class itself): the requested mode does not exist,
  "Mode 3 not found. Only 3 modes (0->2) available."
* ``MemoryError``: a sampling grid that would not fit in memory (a
  ``plot_step`` far too small for the stack), refused before allocating.
* ``PanicException``: an internal fault, a violated precondition such as an
  empty stack or a ``plot_step`` of 0. It derives from ``BaseException``, not
  from ``Exception``, so ``except Exception`` does not catch it. The module has
  no attribute of that name: the class is created on the first fault and is
  reachable only as ``type(error)`` of the raised error. A report is written to
  standard error, and the ``MultiLayer`` stays unchanged and usable.
"""

from collections.abc import Sequence
from typing import ClassVar, SupportsComplex, final

__all__ = ["BackEnd", "Polarization", "Layer", "MultiLayer", "IndexData", "FieldData"]

@final
class BackEnd:
    """The matrix method of the mode search.

    Not constructible (``TypeError`` "No constructor defined for BackEnd");
    use the members. A ``MultiLayer`` made from Python always uses ``Transfer``.
    Members equal their integer value (``BackEnd.Transfer == 1``) and members
    of the same class with that value; ordering comparisons raise ``TypeError``,
    and members are not hashable.
    """

    Scattering: ClassVar[BackEnd]
    """Scattering-matrix method (value 0)."""
    Transfer: ClassVar[BackEnd]
    """Transfer-matrix method (value 1), the default."""
    __hash__: ClassVar[None]  # type: ignore[assignment]
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
    ``TypeError``, and members are not hashable.
    """

    TE: ClassVar[Polarization]
    """Transverse electric (value 0): Ey, Hx and Hz are set, Ex, Ez and Hy are zero."""
    TM: ClassVar[Polarization]
    """Transverse magnetic (value 1): Ex, Ez and Hy are set, Ey, Hx and Hz are zero."""
    __hash__: ClassVar[None]  # type: ignore[assignment]
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
    ``__float__`` are accepted) and stored as given, without range checks.
    ``n`` may be complex, n' + i n'' (a Python or NumPy complex, or any object
    with ``__complex__``): n'' > 0 absorbs, n'' < 0 amplifies; a metal has a
    small n' and a large n''. A complex ``n`` with a zero imaginary part is the
    real index in every respect. ``str()`` and ``repr()`` give
    ``Layer(n=1.5, d=0.22)`` or ``Layer(n=(0.18+3.41j), d=0.05)``. Only ``n``
    reads back. Layers compare equal only to themselves.

    Raises ``TypeError`` for a wrong call shape or an argument without a float
    conversion ("argument 'n': must be real number, not str").
    """

    def __new__(cls, n: float | complex | SupportsComplex, d: float) -> Layer: ...
    @property
    def n(self) -> float | complex:
        """The refractive index: a complex when its imaginary part is non-zero, else a float."""

@final
class MultiLayer:
    """A stack of layers: ``MultiLayer(layers)``.

    ``layers`` is any sequence (list, tuple, ...) of :class:`Layer`, the first
    element at the start of the stack; the values are copied, so later changes
    to the list do not affect the stack. The first and the last layer are the
    outer half-spaces. An empty or one-layer stack is accepted, but the
    computations then fail (``PanicException`` for an empty stack).

    Raises ``TypeError`` when ``layers`` is a string ("argument 'layers':
    Can't extract `str` to `Vec`"), not a sequence, or holds an item that is
    not a ``Layer``.
    """

    def __new__(cls, layers: Sequence[Layer]) -> MultiLayer: ...
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
    def neff(self, omega: float, polarization: Polarization | None = None, mode: int | None = None) -> float:
        """Effective index of one guided mode.

        ``omega`` is the vacuum wavenumber 2*pi/lambda in the reciprocal unit
        of the thicknesses. ``polarization`` defaults to ``Polarization.TE``,
        ``mode`` to 0, the mode with the highest effective index; modes are
        numbered in order of decreasing effective index. The search resolves
        the propagation constant beta = neff * omega to 1e-9 (1e-9 / omega in
        the effective index). ``None`` means the same as an omitted argument.

        Raises:
            Exception: (the base class itself) when ``mode`` is not below the
                number of guided modes: "Mode 2 not found. Only 2 modes
                (0->1) available."
            TypeError: wrong call shape, ``omega`` without a float conversion,
                ``polarization`` not a ``Polarization`` or ``mode`` not an
                integer (the message names the argument).
            OverflowError: ``mode`` negative or beyond 32 bits.
            KeyboardInterrupt: Ctrl-C (a pending signal) stops the search
                (on CPython; on PyPy it arrives when the call returns).
            PanicException: (a ``BaseException``) internal fault, such as an
                empty stack or a non-finite ``omega``.
        """
    def index(self) -> IndexData:
        """Refractive-index profile sampled across the stack.

        The grid starts at x = -d0 (d0 the thickness of layer 0), the origin
        being the interface between layers 0 and 1, and steps by
        :attr:`plot_step` to the end of the stack. A sample on an interface
        belongs to the layer above it.

        Raises:
            MemoryError: the grid would not fit in memory (a ``plot_step``
                far too small for the stack); nothing is allocated.
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

        Raises:
            Exception: (the base class itself) when the mode does not exist,
                with the message of :meth:`neff`.
            TypeError, OverflowError: as for :meth:`neff`.
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

        Raises:
            Exception: (the base class itself) when the mode is not guided,
                with the message of :meth:`neff`.
            ValueError: a stack or ``omega`` for which the modes cannot be
                certified (an index that is not finite and positive, an inner
                thickness that is negative or not finite, ``omega`` negative
                or not finite).
            TypeError, OverflowError: as for :meth:`neff`.
            KeyboardInterrupt: Ctrl-C (a pending signal) stops the solver.
        """
    def modes(
        self,
        omega: float,
        polarization: Polarization | None = None,
        *,
        leaky: bool = False,
        window: tuple[float, float, float, float] | Sequence[float] | None = None,
    ) -> list[float] | list[complex]:
        """The effective index of every mode of one polarization.

        Real stack without ``leaky``/``window``: every guided mode as a float,
        in descending order, exact to full double precision.

        Stack with a complex index: every bound mode (surface plasmons
        included) as a complex, by decreasing real part; entry k is
        ``neff(omega, polarization, k)``. Conventions: fields ~ exp(i(beta z -
        omega t)); lossy and leaky modes have Im(neff) > 0; a bound mode
        decays into both half-spaces and has Re(neff) above both half-spaces'
        Re(n). ``leaky=True`` adds the leaky modes (real or complex stacks),
        which radiate into a half-space whose Re(n) exceeds Re(neff) and grow
        away from the stack. ``window=(re_min, re_max, im_min, im_max)`` bounds
        the search in the neff plane; see the README for the default windows.
        The count in the window is certified by the argument principle.

        Raises:
            ValueError: a stack that cannot be certified (an index that is not
                finite, a bad inner thickness, omega not finite and positive),
                a malformed window, or a mode on the window's edge.
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
            ValueError: as for :meth:`group_index`, for any of the omegas.
            TypeError: ``omegas`` not a sequence of floats (a string included),
                a ``polarization`` that is not a :class:`Polarization`.
            KeyboardInterrupt: Ctrl-C (a pending signal) stops the sweep.
        """

@final
class IndexData:
    """The index profile returned by :meth:`MultiLayer.index`.

    Not constructible. Each attribute read returns a new list; convert with
    ``numpy.asarray(profile.n)``.
    """

    @property
    def x(self) -> list[float]:
        """Sample positions across the stack, in the length unit of the thicknesses."""
    @property
    def n(self) -> list[float]:
        """Refractive index of the layer that holds each sample."""

@final
class FieldData:
    """The normalised field of one mode, returned by :meth:`MultiLayer.field`.

    Not constructible. All seven lists have the length of the grid; each
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

    Not constructible. ``neff``, ``group_index`` and ``gvd`` are lists of rows,
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
