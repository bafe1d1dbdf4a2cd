"""Call-shape and conversion messages of every function with parameters."""

import pytest

from tavrik import Layer, MultiLayer, Polarization


def stack():
    return MultiLayer([Layer(1.0, 0.0), Layer(1.5, 1.0), Layer(1.0, 0.0)])


CALL_SHAPES = [
    (lambda: Layer(), "Layer.__new__() missing 2 required positional arguments: 'n' and 'd'"),
    (lambda: Layer(1.5), "Layer.__new__() missing 1 required positional argument: 'd'"),
    (lambda: Layer(d=1.5), "Layer.__new__() missing 1 required positional argument: 'n'"),
    (lambda: Layer(1, 2, 3), "Layer.__new__() takes 2 positional arguments but 3 were given"),
    (lambda: Layer(1, n=2), "Layer.__new__() got multiple values for argument 'n'"),
    (lambda: Layer(1, 2, x=2), "Layer.__new__() got an unexpected keyword argument 'x'"),
    (lambda: MultiLayer(), "MultiLayer.__new__() missing 1 required positional argument: 'layers'"),
    (lambda: MultiLayer([], []), "MultiLayer.__new__() takes 1 positional arguments but 2 were given"),
    (lambda: MultiLayer([], layers=[]), "MultiLayer.__new__() got multiple values for argument 'layers'"),
    (lambda: MultiLayer(stack=[]), "MultiLayer.__new__() got an unexpected keyword argument 'stack'"),
    (lambda: stack().neff(), "MultiLayer.neff() missing 1 required positional argument: 'omega'"),
    (lambda: stack().neff(mode=1), "MultiLayer.neff() missing 1 required positional argument: 'omega'"),
    (lambda: stack().neff(1, 2, 3, 4), "MultiLayer.neff() takes from 1 to 3 positional arguments but 4 were given"),
    (lambda: stack().neff(1, omega=1), "MultiLayer.neff() got multiple values for argument 'omega'"),
    (lambda: stack().neff(1, Polarization.TE, polarization=None), "MultiLayer.neff() got multiple values for argument 'polarization'"),
    (lambda: stack().neff(1, wavelength=1), "MultiLayer.neff() got an unexpected keyword argument 'wavelength'"),
    (lambda: stack().field(), "MultiLayer.field() missing 1 required positional argument: 'omega'"),
    (lambda: stack().field(1, 2, 3, 4, 5), "MultiLayer.field() takes from 1 to 3 positional arguments but 5 were given"),
    (lambda: stack().field(1, omega=1), "MultiLayer.field() got multiple values for argument 'omega'"),
    (lambda: stack().field(1, foo=1), "MultiLayer.field() got an unexpected keyword argument 'foo'"),
]


@pytest.mark.parametrize("call, message", CALL_SHAPES)
def test_call_shape_messages(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert type(info.value) is TypeError
    assert str(info.value) == message


def test_first_unknown_keyword_in_call_order_is_reported():
    with pytest.raises(TypeError, match="unexpected keyword argument 'b'"):
        Layer(n=1, b=2, a=3)


class Meta(type):
    def __getattribute__(cls, name):
        if name == "__qualname__":
            raise RuntimeError("no name")
        return super().__getattribute__(name)


class Nameless(metaclass=Meta):
    pass


class Outer:
    class Inner:
        pass


CONVERSIONS = [
    (lambda: Layer("a", 1), "argument 'n': must be real number, not str"),
    (lambda: Layer(1, None), "argument 'd': must be real number, not NoneType"),
    (lambda: MultiLayer("abc"), "argument 'layers': Can't extract `str` to `Vec`"),
    (lambda: MultiLayer(5), "argument 'layers': 'int' object cannot be converted to 'Sequence'"),
    (lambda: MultiLayer({1: 2}), "argument 'layers': 'dict' object cannot be converted to 'Sequence'"),
    (lambda: MultiLayer(x for x in []), "argument 'layers': 'generator' object cannot be converted to 'Sequence'"),
    (lambda: MultiLayer([1.5]), "argument 'layers': 'float' object cannot be converted to 'Layer'"),
    (lambda: MultiLayer([Layer(1, 1), Outer.Inner()]), "argument 'layers': 'Outer.Inner' object cannot be converted to 'Layer'"),
    (lambda: MultiLayer([Nameless()]), "argument 'layers': '<failed to extract type name>' object cannot be converted to 'Layer'"),
    (lambda: MultiLayer(b"ab"), "argument 'layers': 'int' object cannot be converted to 'Layer'"),
    (lambda: stack().neff("x"), "argument 'omega': must be real number, not str"),
    (lambda: stack().neff(None), "argument 'omega': must be real number, not NoneType"),
    (lambda: stack().neff(1, 0), "argument 'polarization': 'int' object cannot be converted to 'Polarization'"),
    (lambda: stack().neff(1, "TE"), "argument 'polarization': 'str' object cannot be converted to 'Polarization'"),
    (lambda: stack().neff(1, mode=1.0), "argument 'mode': 'float' object cannot be interpreted as an integer"),
    (lambda: stack().neff(1, mode="0"), "argument 'mode': 'str' object cannot be interpreted as an integer"),
    (lambda: stack().field("x"), "argument 'omega': must be real number, not str"),
    (lambda: stack().field(1, 1), "argument 'polarization': 'int' object cannot be converted to 'Polarization'"),
    (lambda: stack().field(1, mode=0.5), "argument 'mode': 'float' object cannot be interpreted as an integer"),
]


@pytest.mark.parametrize("call, message", CONVERSIONS)
def test_conversion_messages(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert type(info.value) is TypeError
    assert str(info.value) == message
    # The first error's cause becomes the cause; the first error itself is kept as context.
    assert info.value.__cause__ is None
    assert isinstance(info.value.__context__, TypeError)
    assert message.endswith(str(info.value.__context__))


def test_cause_of_the_first_error_is_kept():
    root = KeyError("root")

    class Chained:
        def __float__(self):
            raise TypeError("chained") from root

    with pytest.raises(TypeError) as info:
        Layer(Chained(), 1)
    assert str(info.value) == "argument 'n': chained"
    assert info.value.__cause__ is root


def test_subclasses_of_type_error_and_other_errors_pass_unchanged():
    class Special(TypeError):
        pass

    class Raises:
        def __init__(self, error):
            self.error = error

        def __float__(self):
            raise self.error

        def __index__(self):
            raise self.error

    for error in [Special("special"), ValueError("value"), ZeroDivisionError("zero")]:
        with pytest.raises(type(error)) as info:
            Layer(Raises(error), 1)
        assert info.value is error
        with pytest.raises(type(error)) as info:
            stack().neff(1.0, mode=Raises(error))
        assert info.value is error


@pytest.mark.parametrize(
    "mode, error, message",
    [
        (-1, OverflowError, None),
        (2**32, OverflowError, "out of range integral type conversion attempted"),
        (2**64 - 1, OverflowError, "out of range integral type conversion attempted"),
        (2**64, OverflowError, None),
    ],
)
def test_mode_range(mode, error, message):
    with pytest.raises(error) as info:
        stack().neff(6.0, mode=mode)
    assert type(info.value) is error
    assert not str(info.value).startswith("argument")
    if message is not None:
        assert str(info.value) == message


def test_conversions_run_in_order_omega_polarization_mode():
    # Every argument is wrong: the first one in order is reported.
    with pytest.raises(TypeError, match="^argument 'omega'"):
        stack().neff("x", 0, 1.0)
    with pytest.raises(TypeError, match="^argument 'polarization'"):
        stack().neff(1.0, 0, 1.0)
    with pytest.raises(TypeError, match="^argument 'omega'"):
        stack().field(mode=1.0, polarization=0, omega="x")


def test_call_shape_is_checked_before_conversions():
    with pytest.raises(TypeError, match="unexpected keyword"):
        stack().neff("x", bogus=1)
    with pytest.raises(TypeError, match="missing 1 required"):
        Layer(n="x")


def test_receiver_is_checked():
    with pytest.raises(TypeError):
        MultiLayer.neff(5, 1.0)
    with pytest.raises(TypeError):
        MultiLayer.index(5)


def test_index_takes_no_arguments():
    with pytest.raises(TypeError):
        stack().index(1)
    with pytest.raises(TypeError):
        stack().index(x=1)
