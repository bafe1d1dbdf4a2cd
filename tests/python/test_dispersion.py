"""Group index and GVD (MultiLayer.group_index, MultiLayer.dispersion) against
central differences of 50-digit roots, and the layout of DispersionData."""

import math

import pytest

from reference import mode_derivatives
from support import stack
from tavrik import DispersionData, MultiLayer, Polarization


TE, TM = Polarization.TE, Polarization.TM
SOI = [(1.0, 0.0), (3.476, 0.22), (1.444, 0.0)]


def cutoff_omega(layers, m, polarization):
    """omega where mode m of a three-layer slab (substrate above cover) reaches
    beta = n_substrate omega: k d = m pi + atan(p_cover kappa_cover / (p_core k))."""
    (n_cover, _), (n_core, d), (n_sub, _) = layers
    ratio = 1.0 if polarization is TE else (n_core / n_cover) ** 2
    k, kappa = math.sqrt(n_core**2 - n_sub**2), math.sqrt(n_sub**2 - n_cover**2)
    return (m * math.pi + math.atan(ratio * kappa / k)) / (d * k)


CASES = {
    "symmetric slab": ([(1.444, 0.0), (3.476, 0.6), (1.444, 0.0)], 2 * math.pi / 1.55),
    "soi slab": (SOI, 2 * math.pi / 1.3),
    "soi 1e-3 above the cut-off of mode 1": (SOI, "cutoff", 1e-3),
    "soi 1e-6 above the cut-off of mode 1": (SOI, "cutoff", 1e-6),
    "coupled cores": ([(1.444, 0.0), (3.476, 0.22), (1.444, 0.2), (3.476, 0.22), (1.444, 0.0)], 2 * math.pi / 1.55),
    "cores behind a thick barrier": ([(1.444, 0.0), (3.476, 0.22), (1.444, 2.0), (2.0, 0.6), (1.444, 0.0)], 5.0),
    "bragg stack": ([(1.0, 0.0)] + [(2.3, 0.12), (1.45, 0.2)] * 8 + [(1.45, 0.0)], 2 * math.pi / 0.8),
    "graded stack crossing its light lines": (
        [(1.0, 0.0), (1.9, 0.4), (2.2, 0.3), (1.6, 1.2), (3.0, 0.15), (1.5, 0.0)], 2 * math.pi / 0.9),
}


def case(name, polarization):
    layers, omega, *offset = CASES[name]
    if omega == "cutoff":
        omega = cutoff_omega(layers, 1, polarization) * (1 + offset[0])
    return layers, omega


@pytest.mark.parametrize("polarization", [TE, TM])
@pytest.mark.parametrize("name", list(CASES))
def test_group_index_and_gvd_match_differences_of_high_precision_roots(name, polarization):
    layers, omega = case(name, polarization)
    multilayer = stack(layers)
    table = multilayer.dispersion([omega], polarization)
    assert len(table.neff) >= 1
    for m, row in enumerate(table.neff):
        beta = row[0] * omega
        exact, n_g, gvd = mode_derivatives(layers, omega, beta, polarization is TE, m)
        assert float(exact / omega) == pytest.approx(row[0], rel=1e-14), (name, m)
        assert table.group_index[m][0] == pytest.approx(float(n_g), rel=1e-9, abs=0), (name, m)
        assert table.gvd[m][0] == pytest.approx(float(gvd), rel=1e-6, abs=0), (name, m)
        assert multilayer.group_index(omega, polarization, m) == table.group_index[m][0]


def test_sweep_rows_are_modes_and_columns_are_omegas():
    omegas = [2 * math.pi / wavelength for wavelength in (0.4, 0.8, 1.55, 3.0, 6.0)]
    multilayer = stack(SOI)
    table = multilayer.dispersion(omegas, TM)
    assert table.omega == omegas
    counts = [sum(1 for row in table.neff if not math.isnan(row[i])) for i in range(len(omegas))]
    assert counts[0] == len(table.neff) > counts[2] > counts[4] == 0
    for attribute in (table.neff, table.group_index, table.gvd):
        assert all(type(row) is list and len(row) == len(omegas) for row in attribute)
        for i, count in enumerate(counts):
            column = [row[i] for row in attribute]
            assert not any(math.isnan(v) for v in column[:count])
            assert all(math.isnan(v) for v in column[count:])
    for i, omega in enumerate(omegas):
        assert [row[i] for row in table.neff[: counts[i]]] == multilayer.modes(omega, TM)
        for m in range(counts[i]):
            assert multilayer.group_index(omega, TM, m) == table.group_index[m][i]
        with pytest.raises(Exception) as info:
            multilayer.group_index(omega, TM, counts[i])
        assert type(info.value) is Exception and str(info.value).startswith(f"Mode {counts[i]} not found. Only {counts[i]} modes")


def test_sweep_accepts_any_sequence_of_floats_and_numpy_reads_the_tables():
    np = pytest.importorskip("numpy")
    multilayer = stack(SOI)
    omegas = np.linspace(3.0, 9.0, 7)
    table = multilayer.dispersion(omegas)
    assert table.omega == omegas.tolist()
    assert np.asarray(table.gvd).shape == (len(table.neff), 7)
    for same in (tuple(omegas), [int(3), *omegas[1:]], range(3, 10)):
        other = multilayer.dispersion(same)
        assert np.array_equal(np.asarray(other.neff), np.asarray(multilayer.dispersion([float(w) for w in same]).neff), equal_nan=True)
    assert multilayer.dispersion([]).neff == [] and multilayer.dispersion([]).omega == []


def test_dispersion_data_is_a_read_only_result_class():
    table = stack(SOI).dispersion([4.0])
    assert type(table) is DispersionData
    with pytest.raises(AttributeError):
        table.neff = []
    assert table.neff is not table.neff and table.neff == table.neff


@pytest.mark.parametrize("call, error, message", [
    (lambda s: s.dispersion(), TypeError, "MultiLayer.dispersion() missing 1 required positional argument: 'omegas'"),
    (lambda s: s.dispersion([1.0], TE, 3), TypeError, "MultiLayer.dispersion() takes from 1 to 2 positional arguments but 3 were given"),
    (lambda s: s.dispersion([1.0], mode=0), TypeError, "MultiLayer.dispersion() got an unexpected keyword argument 'mode'"),
    (lambda s: s.dispersion("123"), TypeError, "argument 'omegas': Can't extract `str` to `Vec`"),
    (lambda s: s.dispersion(4.0), TypeError, "argument 'omegas': 'float' object cannot be converted to 'Sequence'"),
    (lambda s: s.dispersion([4.0, "x"]), TypeError, "argument 'omegas': must be real number, not str"),
    (lambda s: s.dispersion([4.0], 1), TypeError, "argument 'polarization': 'int' object cannot be converted to 'Polarization'"),
    (lambda s: s.group_index(), TypeError, "MultiLayer.group_index() missing 1 required positional argument: 'omega'"),
    (lambda s: s.group_index(4.0, mode=-1), OverflowError, None),
    (lambda s: s.group_index(4.0, TE, 7), Exception, "Mode 7 not found. Only 1 modes (0->0) available."),
])
def test_refused_calls(call, error, message):
    with pytest.raises(error) as info:
        call(stack(SOI))
    assert type(info.value) is error
    if message is not None:
        assert str(info.value) == message
