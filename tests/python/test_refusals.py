"""Input without physical meaning is refused with a clear error, never answered
with a plausible number or an unrelated message."""

import math

import pytest

from tavrik import Layer, MultiLayer, Polarization
from support import PanicException, all_modes, stack

NAN, INF = float("nan"), float("inf")
SOI = [(1.0, 1.0), (3.476, 0.22), (1.444, 1.0)]


def with_layer(i, n=None, d=None):
    layers = [list(layer) for layer in SOI]
    layers[i] = [layers[i][0] if n is None else n, layers[i][1] if d is None else d]
    return stack(layers)


@pytest.mark.parametrize(
    "multilayer, omega, message",
    [
        (with_layer(1, d=-0.22), 4.05, "layers[1]: the thickness of an inner layer must be finite and non-negative, not -0.22"),
        (with_layer(1, d=NAN), 4.05, "layers[1]: the thickness of an inner layer must be finite and non-negative, not NaN"),
        (with_layer(1, d=INF), 4.05, "layers[1]: the thickness of an inner layer must be finite and non-negative, not inf"),
        (with_layer(1, n=-11.5), 2 * math.pi / 1.55, "layers[1]: the refractive index must be finite and positive, not -11.5"),
        (with_layer(0, n=0.0), 4.05, "layers[0]: the refractive index must be finite and positive, not 0"),
        (with_layer(2, n=NAN), 4.05, "layers[2]: the refractive index must be finite and positive, not NaN"),
        (with_layer(1, n=-INF), 4.05, "layers[1]: the refractive index must be finite and positive, not -inf"),
        (stack([(NAN, 1.0)]), 4.05, "layers[0]: the refractive index must be finite and positive, not NaN"),
        (stack(SOI), NAN, "omega must be finite and non-negative, not NaN"),
        (stack(SOI), INF, "omega must be finite and non-negative, not inf"),
        (stack(SOI), -4.05, "omega must be finite and non-negative, not -4.05"),
        (stack(SOI), -1e-9, "omega must be finite and non-negative, not -0.000000001"),
        # the first problem, layers in order before omega
        (stack([(1.0, 1.0), (3.5, -1.0), (-1.0, 1.0)]), NAN, "layers[1]: the thickness of an inner layer must be finite and non-negative, not -1"),
        # a guiding stack whose largest n omega squares to infinity
        (stack(SOI), 1e200, "layers[1]: the refractive index times omega is too large, its square overflows a double (n = 3.476)"),
        (stack(SOI), 3e153, "layers[1]: the refractive index times omega is too large, its square overflows a double (n = 3.476)"),
    ],
)
@pytest.mark.parametrize("method", ["neff", "field", "modes", "group_index", "power_fractions", "dispersion"])
def test_meaningless_input_is_a_value_error(multilayer, omega, message, method):
    # A sweep judges the stack once, then names the omega whose problem it is.
    if method == "dispersion" and (message.startswith("omega") or "overflows" in message):
        message = "omegas[1]: " + message
    for polarization in (Polarization.TE, Polarization.TM):
        with pytest.raises(ValueError) as info:
            if method == "dispersion":
                multilayer.dispersion([1.0, omega], polarization)
            else:
                getattr(multilayer, method)(omega, polarization)
        assert type(info.value) is ValueError and info.value.args == (message,)


def test_a_stack_that_guides_nothing_has_no_mode_at_any_omega():
    # No index above the outer ones: no mode, however large n omega is.
    for omega in (1e200, 1.7e308):
        assert stack([(1.5, 1.0), (1.0, 0.5), (1.5, 1.0)]).modes(omega) == []


def test_a_sweep_names_the_bad_omega_and_judges_the_stack_without_one():
    with pytest.raises(ValueError) as info:
        stack(SOI).dispersion([4.05, 4.0, NAN])
    assert info.value.args == ("omegas[2]: omega must be finite and non-negative, not NaN",)
    with pytest.raises(ValueError) as info:
        with_layer(1, d=-1.0).dispersion([])
    assert info.value.args == ("layers[1]: the thickness of an inner layer must be finite and non-negative, not -1",)


@pytest.mark.parametrize(
    "layers, omega",
    [
        ([(1.0, -5.0), (3.476, 0.22), (1.444, -1.0)], 4.05),  # outer thicknesses only reach into the grid
        ([(1.0, INF), (3.476, 0.22), (1.444, NAN)], 4.05),
    ],
)
def test_outer_thicknesses_are_not_judged(layers, omega):
    assert stack(layers).neff(omega) == stack([(layers[0][0], 1.0), layers[1], (layers[2][0], 1.0)]).neff(omega)


def test_an_inner_layer_of_zero_thickness_is_no_layer():
    with_film = stack([(1.0, 1.0), (3.476, 0.22), (2.0, 0.0), (1.444, 1.0)])
    assert with_film.neff(4.05) == pytest.approx(stack(SOI).neff(4.05), abs=1e-9)


def test_omega_zero_and_the_short_stacks_keep_their_answers():
    for omega in (0.0, -0.0):
        assert all_modes(stack(SOI), omega, Polarization.TE) == ([], "Mode 0 not found. Only 0 modes available.")
    with pytest.raises(PanicException, match="^index out of bounds: the len is 0 but the index is 0$"):
        MultiLayer([]).neff(NAN)
    assert all_modes(stack([(1.5, -1.0)]), 4.0, Polarization.TM)[1] == "Mode 0 not found. Only 0 modes available."


class ComplexOnly:
    """A number with a complex conversion and a float conversion that drops
    the imaginary part, as NumPy's complex scalars have."""

    def __init__(self, value):
        self.value = value

    def __complex__(self):
        return self.value

    def __float__(self):
        return self.value.real


def complex_values():
    values = [3.476 + 0.01j, complex(0.0, -1.0), ComplexOnly(3.476 + 0.01j), ComplexOnly(complex(1.5, NAN))]
    try:
        import numpy
    except ImportError:
        return values
    return values + [numpy.complex128(3.476 + 0.01j), numpy.complex64(1.5 - 2j)]


@pytest.mark.parametrize("value", complex_values(), ids=repr)
@pytest.mark.parametrize(
    "call, name",
    [
        (lambda v: Layer(3.476, v), "d"),
        (lambda v: stack(SOI).neff(v), "omega"),
        (lambda v: stack(SOI).field(v), "omega"),
        (lambda v: setattr(stack(SOI), "plot_step", v), "plot_step"),
    ],
)
def test_complex_values_are_never_truncated(value, call, name):
    with pytest.raises(TypeError, match=f"^argument '{name}': '\\w+' value with a non-zero imaginary part cannot be converted to a real 'float'$"):
        call(value)


@pytest.mark.parametrize("value", [ComplexOnly(3.5 + 0j), complex(3.5, 0.0), complex(3.5, -0.0)], ids=repr)
def test_an_index_without_imaginary_part_is_a_real_index(value):
    layer = Layer(value, 1)
    assert type(layer.n) is float and layer.n == 3.5 and str(layer) == "Layer(n=3.5, d=1)"


def test_a_thickness_without_imaginary_part_converts_as_before():
    with pytest.raises(TypeError, match="^argument 'd': ") as info:  # the host's own conversion error
        Layer(3.5, complex(1.0, 0.0))
    assert "imaginary part" not in str(info.value)
