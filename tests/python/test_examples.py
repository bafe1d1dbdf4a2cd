"""The example scripts run as a user runs them: as scripts, headless, in a fresh interpreter."""

import math
import os
import struct
import subprocess
import sys
from pathlib import Path

import pytest

from tavrik import Polarization
from support import all_modes, stack

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"
SOI = [(1.0, 1.0), (3.476, 0.22), (1.444, 1.0)]


def run_example(name, *args, cwd):
    env = dict(os.environ, MPLBACKEND="Agg")
    return subprocess.run(
        [sys.executable, str(EXAMPLES / name), *args],
        cwd=cwd, env=env, capture_output=True, text=True, timeout=300,
    )


def table_rows(text):
    """(polarization, mode, neff, beta) of each mode line of the modes table."""
    rows = []
    for line in text.splitlines():
        words = line.split()
        if words and words[0] in ("TE", "TM") and words[1].isdigit():
            rows.append((words[0], int(words[1]), float(words[2]), float(words[3])))
    return rows


def png_size(path):
    data = path.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n" and data[12:16] == b"IHDR"
    return struct.unpack(">II", data[16:24])


def test_modes_default_table_lists_every_mode_of_the_soi_slab(tmp_path):
    done = run_example("modes.py", cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    omega = 2 * math.pi / 1.55
    rows = table_rows(done.stdout)
    for name, polarization in (("TE", Polarization.TE), ("TM", Polarization.TM)):
        expected = all_modes(stack(SOI), omega, polarization)[0]
        printed = [(mode, neff, beta) for pol, mode, neff, beta in rows if pol == name]
        assert [mode for mode, _, _ in printed] == list(range(len(expected)))
        assert len(expected) >= 1
        for (_, neff, beta), exact in zip(printed, expected):
            assert abs(neff - exact) <= 5e-11  # printed with ten decimals
            assert abs(beta - exact * omega) <= 5e-9


def test_modes_options_select_stack_wavelength_polarization_and_output(tmp_path):
    out = tmp_path / "table.txt"
    done = run_example(
        "modes.py", "--layers", "1.0:0, 1.5:1.0, 1.0:0", "--wavelength", "1", "--polarization", "TM",
        "--output", str(out), cwd=tmp_path,
    )
    assert done.returncode == 0, done.stderr
    assert done.stdout == ""
    rows = table_rows(out.read_text(encoding="utf-8"))
    # The symmetric slab's three TM modes.
    assert [(pol, mode) for pol, mode, _, _ in rows] == [("TM", 0), ("TM", 1), ("TM", 2)]
    assert [neff for _, _, neff, _ in rows] == pytest.approx([1.4339748985, 1.2372678018, 1.0141148223], abs=1e-10)


@pytest.mark.parametrize("layers", ["1.5", "1.5:x,1.0:1", "1.0:1"])
def test_modes_refuses_a_malformed_stack(tmp_path, layers):
    done = run_example("modes.py", "--layers", layers, cwd=tmp_path)
    assert done.returncode == 2
    assert "--layers" in done.stderr


@pytest.mark.parametrize(
    "script, args, size",
    [
        ("profiles.py", [], (1000, 700)),
        ("profiles.py", ["--layers", "1.0:2,1.5:2.0,1.0:2", "--wavelength", "1.0", "--plot-step", "0.01",
                         "--polarization", "TE", "--width", "640", "--height", "480"], (640, 480)),
        ("dispersion.py", [], (1000, 650)),
        ("group_index.py", [], (900, 1000)),
        ("group_index.py", ["--layers", "1.444:1,3.476:0.4,1.444:1", "--min-wavelength", "1.0", "--max-wavelength",
                            "3.0", "--points", "30", "--polarization", "TM", "--width", "640", "--height", "720"],
         (640, 720)),
        ("dispersion.py", ["--layers", "1.0:1,1.5:2.0,1.0:1", "--min-wavelength", "0.5", "--max-wavelength", "5",
                           "--points", "25", "--modes", "4", "--width", "800", "--height", "500"], (800, 500)),
    ],
)
def test_plots_are_written_with_the_requested_size(tmp_path, script, args, size):
    image = pytest.importorskip("matplotlib.image")
    out = tmp_path / "plot.png"
    done = run_example(script, *args, "--output", str(out), cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    assert out.stat().st_size > 0
    assert png_size(out) == size
    # Curves were drawn: axes, text and shading are grey, the mode curves coloured.
    pixels = image.imread(str(out))
    assert pixels.shape[:2] == (size[1], size[0])
    rgb = pixels[..., :3]
    assert ((rgb.max(axis=-1) - rgb.min(axis=-1)) > 0.3).sum() > 1000


def test_group_index_example_converts_gvd_to_the_dispersion_parameter():
    """D = -(lambda / c) d^2 neff / d lambda^2 for fixed layer indices, from a
    second difference of modes() over the wavelength (um, in ps/(nm km))."""
    pytest.importorskip("matplotlib")  # the example imports it at the top
    pytest.importorskip("numpy")
    sys.path.insert(0, str(EXAMPLES))
    try:
        from group_index import SPEED_OF_LIGHT, dispersion_parameter
    finally:
        sys.path.remove(str(EXAMPLES))
    multilayer = stack(SOI)
    wavelength, h = 1.55, 1e-3
    neff = [multilayer.modes(2 * math.pi / (wavelength + k * h))[0] for k in (-1, 0, 1)]
    curvature = (neff[0] - 2 * neff[1] + neff[2]) / h**2
    expected = -wavelength / SPEED_OF_LIGHT * curvature * 1e12
    omega = 2 * math.pi / wavelength
    gvd = multilayer.dispersion([omega]).gvd[0][0]
    assert dispersion_parameter(omega, gvd) == pytest.approx(expected, rel=1e-4)
