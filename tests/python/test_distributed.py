"""examples/sweep_distributed.py on a local Dask cluster of two worker processes
gives, bit for bit, the serial loop's values."""

import importlib.util
import pathlib

import pytest

distributed = pytest.importorskip("distributed", reason="the distributed extra is not installed")

EXAMPLE = pathlib.Path(__file__).resolve().parents[2] / "examples" / "sweep_distributed.py"
CORES, WAVELENGTHS = [0.18, 0.22, 0.3], [1.31, 1.55]


def load_example():
    found = importlib.util.spec_from_file_location("sweep_distributed", EXAMPLE)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def test_sweep_on_two_workers_matches_the_serial_loop(capsys):
    example = load_example()
    serial = example.serial_sweep(CORES, WAVELENGTHS)
    assert len(serial) == 12 and len(set(serial)) == 12
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster:
        with distributed.Client(cluster) as client:
            assert len(client.scheduler_info()["workers"]) == 2
            values = example.distributed_sweep(client, CORES, WAVELENGTHS)
        assert [v.hex() for v in values] == [v.hex() for v in serial]
        # The script itself, pointed at the running scheduler.
        assert example.main(["--scheduler", cluster.scheduler_address, "--cores", "0.18", "0.3", "3",
                             "--wavelengths", "1.31", "1.55", "2"]) == 0
    rows = [line.split() for line in capsys.readouterr().out.splitlines()[1:]]
    printed = [float(v) for row in rows for v in row[2:]]
    assert printed == pytest.approx(example.serial_sweep([0.18, 0.24, 0.3], WAVELENGTHS), abs=1e-9)
