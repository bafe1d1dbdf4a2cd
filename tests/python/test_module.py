import importlib
import sys

import pytest

import tavrik

CLASSES = ["BackEnd", "Polarization", "Layer", "MultiLayer", "IndexData", "FieldData"]
# Result classes added later: module attributes, not in __all__.
RESULTS = ["DispersionData"]


def test_all_lists_the_classes_in_registration_order():
    assert tavrik.__all__ == CLASSES
    for name in CLASSES:
        assert isinstance(getattr(tavrik, name), type)


def test_module_has_no_functions_and_an_empty_docstring():
    public = {name for name in dir(tavrik) if not name.startswith("_")}
    assert public == set(CLASSES + RESULTS) | {"PanicException"}
    assert not tavrik.__doc__


def test_importing_twice_gives_the_same_module():
    again = importlib.import_module("tavrik")
    assert again is tavrik
    assert importlib.reload(tavrik) is tavrik
    assert sys.modules["tavrik"] is tavrik


@pytest.mark.parametrize("name", ["BackEnd", "Polarization", "IndexData", "FieldData", *RESULTS])
def test_classes_without_construction(name):
    with pytest.raises(TypeError) as info:
        getattr(tavrik, name)()
    assert str(info.value) == "No constructor defined for " + name


@pytest.mark.cpython_only(reason="PyPy lets a type without the base-type flag be subclassed")
@pytest.mark.parametrize("name", CLASSES + RESULTS)
def test_no_class_can_be_subclassed(name):
    base = getattr(tavrik, name)
    with pytest.raises(TypeError, match="not an acceptable base type"):
        type("Sub", (base,), {})


def test_text_signatures_of_the_classes():
    assert tavrik.Layer.__text_signature__ == "(n, d)"
    assert tavrik.MultiLayer.__text_signature__ == "(layers)"
    for name in ["BackEnd", "Polarization", "IndexData", "FieldData"]:
        assert getattr(tavrik, name).__text_signature__ is None


@pytest.mark.cpython_only(reason="PyPy method descriptors carry no __text_signature__")
def test_text_signatures_of_the_methods():
    assert tavrik.MultiLayer.neff.__text_signature__ == "($self, omega, polarization=None, mode=None)"
    assert tavrik.MultiLayer.field.__text_signature__ == "($self, omega, polarization=None, mode=None)"
    assert tavrik.MultiLayer.index.__text_signature__ == "($self)"


@pytest.mark.cpython_only(reason="PyPy instances get a __dict__")
@pytest.mark.parametrize(
    "make",
    [
        lambda: tavrik.Layer(1.0, 1.0),
        lambda: tavrik.MultiLayer([]),
        lambda: tavrik.Polarization.TE,
        lambda: tavrik.BackEnd.Transfer,
    ],
)
def test_instances_take_no_attributes(make):
    obj = make()
    with pytest.raises(AttributeError):
        obj.anything = 1
    assert not hasattr(obj, "__dict__")
