"""Table of the guided modes of a slab waveguide.

With no arguments: every TE and TM mode of a silicon-on-insulator slab, air
over 0.22 um of silicon (n 3.476) on silica (n 1.444), at a wavelength of
1.55 um. Another stack, wavelength or polarization:

    python examples/modes.py --layers "1.0:1,1.5:2.0,1.0:1" --wavelength 1.0 --polarization TE

Layers are "n:d" pairs from the top of the stack down; the first and the last
are the outer half-spaces, whose thickness does not change the modes. The
wavelength is in the length unit of the thicknesses (here micrometres).
"""

from __future__ import annotations

import argparse
import math
import sys
from collections.abc import Iterator, Sequence
from typing import TextIO

from tavrik import Layer, MultiLayer, Polarization

# air / 0.22 um of silicon / silica, as "n:d" pairs in micrometres.
SOI_SLAB = "1.0:1.0,3.476:0.22,1.444:1.0"
SOI_WAVELENGTH = 1.55

POLARIZATIONS = {"TE": Polarization.TE, "TM": Polarization.TM}


def parse_layers(text: str) -> list[tuple[float, float]]:
    """Reads "n:d,n:d,..." into (n, d) pairs."""
    layers = []
    for item in text.split(","):
        n, sep, d = item.strip().partition(":")
        if not sep:
            raise argparse.ArgumentTypeError(f"layer {item.strip()!r} is not of the form n:d")
        try:
            layers.append((float(n), float(d)))
        except ValueError:
            raise argparse.ArgumentTypeError(f"layer {item.strip()!r}: n and d must be numbers") from None
    if len(layers) < 2:
        raise argparse.ArgumentTypeError("a stack needs at least two layers (the two half-spaces)")
    return layers


def make_stack(layers: Sequence[tuple[float, float]]) -> MultiLayer:
    return MultiLayer([Layer(n, d) for n, d in layers])


def omega_of(wavelength: float) -> float:
    """The vacuum wavenumber 2*pi/lambda, in the reciprocal unit of the thicknesses."""
    return 2 * math.pi / wavelength


def guided_modes(stack: MultiLayer, omega: float, polarization: Polarization) -> Iterator[tuple[int, float]]:
    """(mode number, effective index) of every guided mode, highest index first."""
    mode = 0
    while True:
        try:
            neff = stack.neff(omega, polarization, mode)
        except Exception as error:  # the search's "Mode ... not found" once past the last mode
            if not str(error).startswith(f"Mode {mode} not found."):
                raise
            return
        yield mode, neff
        mode += 1


def polarizations(choice: str) -> list[str]:
    return ["TE", "TM"] if choice == "both" else [choice]


def add_stack_options(parser: argparse.ArgumentParser) -> None:
    parser.add_argument(
        "--layers",
        type=parse_layers,
        default=parse_layers(SOI_SLAB),
        help=f'the stack as "n:d,n:d,...", top down (default: the SOI slab "{SOI_SLAB}")',
    )
    parser.add_argument(
        "--wavelength",
        type=float,
        default=SOI_WAVELENGTH,
        help=f"vacuum wavelength, in the unit of the thicknesses (default {SOI_WAVELENGTH})",
    )
    parser.add_argument(
        "--polarization", choices=["TE", "TM", "both"], default="both", help="which modes (default both)"
    )


def write_table(out: TextIO, layers: Sequence[tuple[float, float]], wavelength: float, choice: str) -> None:
    stack = make_stack(layers)
    omega = omega_of(wavelength)
    out.write(f"wavelength {wavelength:g} (in the unit of d), omega = 2*pi/wavelength = {omega:.6f}\n\n")
    out.write("layer  n         d\n")
    for i, (n, d) in enumerate(layers):
        thickness = "half-space" if i in (0, len(layers) - 1) else f"{d:g}"
        out.write(f"{i:<5}  {n:<8g}  {thickness}\n")
    out.write("\npol  mode  neff           beta = neff*omega\n")
    for name in polarizations(choice):
        found = False
        for mode, neff in guided_modes(stack, omega, POLARIZATIONS[name]):
            out.write(f"{name:<3}  {mode:<4}  {neff:.10f}   {neff * omega:.8f}\n")
            found = True
        if not found:
            out.write(f"{name:<3}  no guided mode\n")


def main(argv: Sequence[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0] if __doc__ else None)
    add_stack_options(parser)
    parser.add_argument("--output", default="-", help="file for the table (default: standard output)")
    args = parser.parse_args(argv)
    if args.output == "-":
        write_table(sys.stdout, args.layers, args.wavelength, args.polarization)
    else:
        with open(args.output, "w", encoding="utf-8") as out:
            write_table(out, args.layers, args.wavelength, args.polarization)


if __name__ == "__main__":
    main()
