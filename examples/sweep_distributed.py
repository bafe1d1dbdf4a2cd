"""Sweep a family of stacks over Dask's distributed scheduler.

The effective indices of the fundamental TE and TM modes of a silicon-on-
insulator slab, for every core thickness and wavelength of a grid, computed
task by task on Dask workers: the stacks themselves travel to the workers
(tavrik's objects pickle), and each task is one call of MultiLayer.neff.

By default a LocalCluster of worker processes is started on this machine;
--scheduler connects to a running scheduler instead (a cluster of many
machines, each with tavrik installed):

    python examples/sweep_distributed.py --workers 4
    python examples/sweep_distributed.py --scheduler tcp://10.0.0.5:8786

Dask is an optional dependency: pip install "tavrik[distributed]".
"""

from __future__ import annotations

import argparse
import importlib
import math
import sys
from typing import Any

from tavrik import Layer, MultiLayer, Polarization

POLARIZATIONS = (Polarization.TE, Polarization.TM)


def soi(core: float) -> MultiLayer:
    """Air over a silicon core of thickness `core` (µm) on silica."""
    return MultiLayer([Layer(1.0, 1.0), Layer(3.476, core), Layer(1.444, 1.0)])


def sweep_tasks(cores: list[float], wavelengths: list[float]) -> list[tuple[MultiLayer, float, Polarization]]:
    """One (stack, omega, polarization) per point of the sweep, in table order."""
    return [(soi(core), 2 * math.pi / wavelength, polarization)
            for core in cores for wavelength in wavelengths for polarization in POLARIZATIONS]


def serial_sweep(cores: list[float], wavelengths: list[float]) -> list[float]:
    return [stack.neff(omega, polarization) for stack, omega, polarization in sweep_tasks(cores, wavelengths)]


def distributed_sweep(client: Any, cores: list[float], wavelengths: list[float]) -> list[float]:
    """The same values as serial_sweep, each computed by a Dask task.

    The task function is MultiLayer.neff itself: it pickles by reference, so
    the workers need tavrik installed but nothing of this script."""
    stacks, omegas, polarizations = zip(*sweep_tasks(cores, wavelengths))
    futures = client.map(MultiLayer.neff, stacks, omegas, polarizations, pure=False)
    return [float(value) for value in client.gather(futures)]


def start_client(scheduler: str | None, workers: int) -> Any:
    """A Dask client of a running scheduler, or of a new local cluster of
    `workers` single-threaded worker processes."""
    distributed = importlib.import_module("distributed")  # the optional extra
    if scheduler is not None:
        return distributed.Client(scheduler)
    cluster = distributed.LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                       dashboard_address=None)
    return distributed.Client(cluster)


def grid(start: float, stop: float, count: int) -> list[float]:
    return [start + (stop - start) * k / (count - 1) for k in range(count)] if count > 1 else [start]


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--scheduler", help="address of a running Dask scheduler (default: a local cluster)")
    parser.add_argument("--workers", type=int, default=2, help="worker processes of the local cluster")
    parser.add_argument("--cores", type=float, nargs=3, default=[0.15, 0.35, 5], metavar=("FROM", "TO", "COUNT"),
                        help="core thicknesses in µm")
    parser.add_argument("--wavelengths", type=float, nargs=3, default=[1.3, 1.7, 5], metavar=("FROM", "TO", "COUNT"),
                        help="vacuum wavelengths in µm")
    args = parser.parse_args(argv)
    cores = grid(args.cores[0], args.cores[1], int(args.cores[2]))
    wavelengths = grid(args.wavelengths[0], args.wavelengths[1], int(args.wavelengths[2]))

    client = start_client(args.scheduler, args.workers)
    try:
        values = iter(distributed_sweep(client, cores, wavelengths))
    finally:
        cluster = client.cluster
        client.close()
        if cluster is not None and args.scheduler is None:
            cluster.close()
    print(f"{'core/µm':>8} {'lambda/µm':>10} {'neff TE0':>12} {'neff TM0':>12}")
    for core in cores:
        for wavelength in wavelengths:
            print(f"{core:8.4f} {wavelength:10.4f} {next(values):12.9f} {next(values):12.9f}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
