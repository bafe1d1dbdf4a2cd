import math

import pytest

from tavrik import Layer


@pytest.mark.parametrize(
    "n, d, text",
    [
        (1.5, 2e-7, "Layer(n=1.5, d=0.0000002)"),
        (1, 2, "Layer(n=1, d=2)"),
        (-3.0, 1e21, "Layer(n=-3, d=1000000000000000000000)"),
        (0.5, 1.25e-3, "Layer(n=0.5, d=0.00125)"),
        (float("nan"), -0.0, "Layer(n=NaN, d=-0)"),
        (math.inf, -math.inf, "Layer(n=inf, d=-inf)"),
        (2.0, 1e-6, "Layer(n=2, d=0.000001)"),
        (True, False, "Layer(n=1, d=0)"),
        (0.1 + 0.2, 1 / 3, "Layer(n=0.30000000000000004, d=0.3333333333333333)"),
    ],
)
def test_text_form(n, d, text):
    layer = Layer(n, d)
    assert str(layer) == text
    assert repr(layer) == text


def test_keywords_and_conversions():
    assert str(Layer(n=1.5, d=0.25)) == "Layer(n=1.5, d=0.25)"
    assert str(Layer(d=0.25, n=1.5)) == "Layer(n=1.5, d=0.25)"

    class Quarter:
        def __float__(self):
            return 0.25

    class Two:
        def __index__(self):
            return 2

    class Sub(float):
        pass

    assert str(Layer(Sub(1.5), Quarter())) == "Layer(n=1.5, d=0.25)"
    assert str(Layer(Two(), 1)) == "Layer(n=2, d=1)"


def test_layer_exposes_only_its_index_and_compares_by_identity():
    layer = Layer(1.0, 1.0)
    assert type(layer.n) is float and layer.n == 1.0
    with pytest.raises(AttributeError):
        layer.d
    assert layer == layer
    assert Layer(1.0, 1.0) != Layer(1.0, 1.0)


def test_conversion_errors_keep_their_type():
    class Broken:
        def __float__(self):
            raise ValueError("no float here")

    with pytest.raises(ValueError, match="^no float here$"):
        Layer(Broken(), 1.0)
    with pytest.raises(OverflowError):
        Layer(10**400, 1.0)
