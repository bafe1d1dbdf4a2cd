"""Pickling and copying, read-only attributes, the fault class and the version."""

import copy
import importlib.metadata
import math
import multiprocessing
import pathlib
import pickle
import re

import pytest

import tavrik
from tavrik import BackEnd, DispersionData, FieldData, IndexData, Layer, MultiLayer, Polarization
from support import PanicException, stack

SOI = [(1.0, 1.0), (3.476, 0.22), (1.444, 1.0)]
MEMBERS = [BackEnd.Scattering, BackEnd.Transfer, Polarization.TE, Polarization.TM]


def pickled(obj, protocol):
    return pickle.loads(pickle.dumps(obj, protocol))


COPIES = [pytest.param(lambda obj, p=p: pickled(obj, p), id=f"pickle{p}") for p in range(pickle.HIGHEST_PROTOCOL + 1)]
COPIES += [pytest.param(copy.deepcopy, id="deepcopy"), pytest.param(copy.copy, id="copy")]


def bits(values):
    return [(v.real.hex(), v.imag.hex()) if isinstance(v, complex) else v.hex() for v in values]


@pytest.mark.parametrize("clone", COPIES)
def test_enumeration_members_stay_singletons(clone):
    for member in MEMBERS:
        assert clone(member) is member


@pytest.mark.parametrize("clone", COPIES)
def test_layers_and_stacks_copy_bit_for_bit(clone):
    layer = clone(Layer(-0.0, float("nan")))
    assert type(layer) is Layer and str(layer) == "Layer(n=-0, d=NaN)"
    original = stack(SOI, step=0.0123)
    twin = clone(original)
    assert type(twin) is MultiLayer and twin is not original
    assert twin.plot_step == 0.0123 and [str(x) for x in twin.layers] == [str(x) for x in original.layers]
    assert twin.neff(4.05, Polarization.TM).hex() == original.neff(4.05, Polarization.TM).hex()
    assert bits(twin.field(4.05).Ey) == bits(original.field(4.05).Ey)


@pytest.mark.parametrize("clone", COPIES)
def test_complex_layers_stacks_and_profiles_copy_bit_for_bit(clone):
    gold = complex(0.17565, -3.4104)  # n'' < 0 too: a gain medium keeps its sign
    layer = clone(Layer(gold, 0.05))
    assert type(layer.n) is complex and bits([layer.n]) == bits([gold]) and layer.d == 0.05
    original = MultiLayer([Layer(1.0, 1.0), Layer(0.17565 + 3.4104j, 0.05), Layer(1.5, 1.0)])
    original.plot_step = 0.01
    twin = clone(original)
    assert [(x.n, x.d) for x in twin.layers] == [(1.0, 1.0), (0.17565 + 3.4104j, 0.05), (1.5, 1.0)]
    assert bits(twin.modes(9.9, Polarization.TM)) == bits(original.modes(9.9, Polarization.TM))
    profile = original.index()
    assert bits(clone(profile).n) == bits(profile.n) and type(profile.n[0]) is complex


@pytest.mark.parametrize("clone", COPIES)
def test_results_copy_bit_for_bit(clone):
    multilayer = stack(SOI, step=0.01)
    profile, field = multilayer.index(), multilayer.field(4.05, Polarization.TM)
    profile_twin, field_twin = clone(profile), clone(field)
    assert type(profile_twin) is IndexData and type(field_twin) is FieldData
    assert bits(profile_twin.x) == bits(profile.x) and bits(profile_twin.n) == bits(profile.n)
    for name in ("x", "Ex", "Ey", "Ez", "Hx", "Hy", "Hz"):
        assert bits(getattr(field_twin, name)) == bits(getattr(field, name)), name
    # One mode at the first omega, three at the second: the rows carry NaN.
    table = stack([(1.0, 0.0), (1.5, 1.0), (1.0, 0.0)]).dispersion([1.0, 2 * math.pi])
    table_twin = clone(table)
    assert type(table_twin) is DispersionData and len(table.neff) == 3
    assert bits(table_twin.omega) == bits(table.omega)
    for name in ("neff", "group_index", "gvd"):
        assert [bits(row) for row in getattr(table_twin, name)] == [bits(row) for row in getattr(table, name)]


@pytest.mark.parametrize(
    "call, error",
    [
        (lambda: IndexData._rebuild([0.0], []), ValueError),
        (lambda: IndexData._rebuild([0.0], ["a"]), TypeError),
        (lambda: IndexData._rebuild((0.0,), [1.0]), TypeError),
        (lambda: IndexData._rebuild([0.0]), TypeError),
        (lambda: FieldData._rebuild([0.0], [1j], [1j], [1j], [1j], [1j], []), ValueError),
        (lambda: FieldData._rebuild([0.0], [1j], [1j], [1j], [1j], [1j], [object()]), TypeError),
        (lambda: DispersionData._rebuild([1.0], [[1.2]], [[1.3]], [[0.1, 0.2]]), ValueError),
        (lambda: DispersionData._rebuild([1.0], [[1.2]], [[1.3]], []), ValueError),
        (lambda: DispersionData._rebuild([1.0], [[1.2]], [[1.3]], [["a"]]), TypeError),
        (lambda: DispersionData._rebuild([1.0], [[1.2]], [[1.3]], ([0.1],)), TypeError),
    ],
)
def test_rebuilding_a_result_checks_its_parts(call, error):
    with pytest.raises(error):
        call()


def test_attributes_read_back_and_are_read_only():
    multilayer = stack(SOI)
    layers = multilayer.layers
    assert [(x.n, x.d) for x in layers] == SOI
    assert layers is not multilayer.layers and layers[0] is not multilayer.layers[0]
    layers.clear()  # the stack does not see its list's changes
    assert len(multilayer.layers) == 3 and MultiLayer([]).layers == []
    for obj, name in [(multilayer, "layers"), (Layer(1, 1), "n"), (Layer(1, 1), "d")]:
        with pytest.raises(AttributeError):
            setattr(obj, name, 1.0)


def test_panic_exception_is_the_class_the_module_raises():
    assert tavrik.PanicException is PanicException
    assert tavrik.PanicException.__bases__ == (BaseException,)
    assert "PanicException" not in tavrik.__all__ and len(tavrik.__all__) == 6
    try:
        MultiLayer([]).index()
    except tavrik.PanicException as error:
        assert error.args == ("index out of bounds: the len is 0 but the index is 0",)
    else:
        pytest.fail("no fault")


def test_version_is_the_package_metadata():
    try:
        expected = importlib.metadata.version("tavrik")
    except importlib.metadata.PackageNotFoundError:  # a plain CMake build: the version of pyproject.toml
        pyproject = pathlib.Path(__file__).resolve().parents[2] / "pyproject.toml"
        expected = re.search(r'^version = "([^"]+)"$', pyproject.read_text(), re.MULTILINE).group(1)
    assert tavrik.__version__ == expected


def test_a_process_pool_maps_neff():
    multilayer = stack(SOI)
    omegas = [2 * math.pi / w for w in (1.3, 1.55, 1.7)]
    with multiprocessing.get_context("spawn").Pool(2) as pool:
        mapped = pool.map(multilayer.neff, omegas)
    assert [v.hex() for v in mapped] == [multilayer.neff(w).hex() for w in omegas]
