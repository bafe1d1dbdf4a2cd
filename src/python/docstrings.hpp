// Runtime docstrings: the text of tavrik.pyi, kept in step with it by
// tests/python/test_docs.py. Each is a complete __doc__, text signature first
// where the class or method has one.
#pragma once

namespace tavrik::python::doc {

inline constexpr const char* PanicException =
    ""
    R"doc(An internal fault of a computation: a violated precondition.

Derives from BaseException, so `except Exception` does not catch it. The
argument is the fault's message; a report is also written to standard
error.)doc";
inline constexpr const char* BackEnd =
    ""
    R"doc(The matrix method of the mode search.

Not constructible (``TypeError`` "No constructor defined for BackEnd");
use the members. A ``MultiLayer`` made from Python always uses ``Transfer``.
Members equal their integer value (``BackEnd.Transfer == 1``) and members
of the same class with that value; ordering comparisons raise ``TypeError``.
Members hash as their value (``hash(BackEnd.Transfer) == hash(1)``), and
pickle and copy as the same singletons.)doc";
inline constexpr const char* Polarization =
    ""
    R"doc(The polarization of a mode.

Not constructible (``TypeError`` "No constructor defined for Polarization");
use the members. Members equal their integer value (``Polarization.TM == 1``)
and members of the same class with that value; ordering comparisons raise
``TypeError``. Members hash as their value (``hash(Polarization.TE) ==
hash(0)``), and pickle and copy as the same singletons.)doc";
inline constexpr const char* Layer =
    "Layer(n, d)\n--\n\n"
    R"doc(One homogeneous slab of the stack: ``Layer(n, d)``.

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
with a non-zero imaginary part.)doc";
inline constexpr const char* Layer_n =
    ""
    R"doc(The refractive index, as stored (read-only): a complex when its imaginary part is non-zero, else a float.)doc";
inline constexpr const char* Layer_d =
    ""
    R"doc(The thickness, in the length unit of the stack, as stored (read-only).)doc";
inline constexpr const char* MultiLayer =
    "MultiLayer(layers)\n--\n\n"
    R"doc(A stack of layers: ``MultiLayer(layers)``.

``layers`` is any sequence (list, tuple, ...) of :class:`Layer`, the first
element at the start of the stack; the values are copied, so later changes
to the list do not affect the stack. The first and the last layer are the
outer half-spaces. An empty or one-layer stack is accepted, but the
computations then fail (``PanicException`` for an empty stack). A stack
pickles and copies with its :attr:`plot_step`.

Raises ``TypeError`` when ``layers`` is a string ("argument 'layers':
Can't extract `str` to `Vec`"), not a sequence, or holds an item that is
not a ``Layer``.)doc";
inline constexpr const char* MultiLayer_layers =
    ""
    R"doc(The stack, as a new list of new :class:`Layer` objects (read-only).)doc";
inline constexpr const char* MultiLayer_plot_step =
    ""
    R"doc(Spacing of the sampling grid of :meth:`index` and :meth:`field`.

In the length unit of the thicknesses; 0.001 when the stack is made.
Any float is stored: a step of 0 or NaN makes :meth:`index` and
:meth:`field` raise ``PanicException``. Assigning a value without a
float conversion raises ``TypeError``; deleting raises
``AttributeError`` "can't delete attribute". :meth:`neff` ignores it.)doc";
inline constexpr const char* MultiLayer_neff =
    "neff($self, omega, polarization=None, mode=None)\n--\n\n"
    R"doc(Effective index of one guided mode.

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
        empty stack.)doc";
inline constexpr const char* MultiLayer_index =
    "index($self)\n--\n\n"
    R"doc(Refractive-index profile sampled across the stack.

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
        no sample (thinner than ``plot_step``).)doc";
inline constexpr const char* MultiLayer_field =
    "field($self, omega, polarization=None, mode=None)\n--\n\n"
    R"doc(The six field components of one guided mode, on the grid of :meth:`index`.

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
        two samples.)doc";
inline constexpr const char* MultiLayer_modes =
    "modes($self, omega, polarization=None, *, leaky=False, window=None)\n--\n\n"
    R"doc(Effective index of every guided mode of one polarization, descending.

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
        (on CPython; on PyPy it arrives when the call returns).)doc";
inline constexpr const char* MultiLayer_group_index =
    "group_index($self, omega, polarization=None, mode=None)\n--\n\n"
    R"doc(The group index n_g = d beta / d omega of one guided mode.

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
        (on CPython; on PyPy it arrives when the call returns).)doc";
inline constexpr const char* MultiLayer_power_fractions =
    "power_fractions($self, omega, polarization=None, mode=None)\n--\n\n"
    R"doc(The share of one guided mode's power flow along z in each layer.

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
        (on CPython; on PyPy it arrives when the call returns).)doc";
inline constexpr const char* MultiLayer_dispersion =
    "dispersion($self, omegas, polarization=None)\n--\n\n"
    R"doc(Effective index, group index and GVD of every guided mode over many omegas.

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
        (on CPython; on PyPy it arrives when the call returns).)doc";
inline constexpr const char* IndexData =
    ""
    R"doc(The index profile returned by :meth:`MultiLayer.index`.

Not constructible; pickles and copies. Each attribute read returns a new
list; convert with ``numpy.asarray(profile.n)``.)doc";
inline constexpr const char* IndexData_x =
    ""
    R"doc(Sample positions across the stack, in the length unit of the thicknesses.)doc";
inline constexpr const char* IndexData_n =
    ""
    R"doc(Refractive index of the layer that holds each sample.

Complex values (every one) for a stack with a complex index, floats
otherwise.)doc";
inline constexpr const char* FieldData =
    ""
    R"doc(The normalised field of one mode, returned by :meth:`MultiLayer.field`.

Not constructible; pickles and copies. All seven lists have the length of the grid; each
attribute read returns a new list; convert with ``numpy.asarray(field.Ey)``.
The components are scaled so that the power flow along z, the integral
over x of Ex*conj(Hy) - Ey*conj(Hx), is 1; magnetic components are divided
by the vacuum impedance Z0, so they share the unit of the electric ones.)doc";
inline constexpr const char* FieldData_x =
    ""
    R"doc(Sample positions across the stack, in the length unit of the thicknesses.)doc";
inline constexpr const char* FieldData_Ex =
    ""
    R"doc(Electric field along x (zero for TE).)doc";
inline constexpr const char* FieldData_Ey =
    ""
    R"doc(Electric field along y: the principal component of TE (zero for TM).)doc";
inline constexpr const char* FieldData_Ez =
    ""
    R"doc(Electric field along z: the principal component of TM (zero for TE).)doc";
inline constexpr const char* FieldData_Hx =
    ""
    R"doc(Magnetic field along x divided by Z0 (zero for TM).)doc";
inline constexpr const char* FieldData_Hy =
    ""
    R"doc(Magnetic field along y divided by Z0 (zero for TE).)doc";
inline constexpr const char* FieldData_Hz =
    ""
    R"doc(Magnetic field along z divided by Z0 (zero for TM).)doc";
inline constexpr const char* DispersionData =
    ""
    R"doc(The result of :meth:`MultiLayer.dispersion`.

Not constructible; pickles and copies. ``neff``, ``group_index`` and ``gvd`` are lists of rows,
one per mode number, each row one value per omega (NaN where that mode is
not guided); ``numpy.asarray(data.gvd)`` is the 2-D array (modes x omegas).
Each attribute read returns new lists.)doc";
inline constexpr const char* DispersionData_omega =
    ""
    R"doc(The vacuum wavenumbers given, in order.)doc";
inline constexpr const char* DispersionData_neff =
    ""
    R"doc(Effective index: row m = mode m, column i = omega[i].)doc";
inline constexpr const char* DispersionData_group_index =
    ""
    R"doc(Group index d beta / d omega, laid out as :attr:`neff`.)doc";
inline constexpr const char* DispersionData_gvd =
    ""
    R"doc(d^2 beta / d omega^2 in the unit of the thicknesses, laid out as :attr:`neff`.)doc";

}  // namespace tavrik::python::doc
