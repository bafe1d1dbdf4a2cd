"""Effective index against wavelength for the first modes of a slab, into a PNG.

Each TE (solid) and TM (dashed) mode is drawn over the wavelengths at which it
is guided; where a curve ends on its marker the mode reaches cut-off: its
effective index has fallen to the higher cladding index (dotted line), beyond
which it is no longer guided. With no arguments it sweeps the
silicon-on-insulator slab of modes.py from 1.0 to 4.0 um:

    python examples/dispersion.py --output dispersion.png
    python examples/dispersion.py --layers "1.0:1,1.5:2.0,1.0:1" --min-wavelength 0.5 --max-wavelength 5 --modes 4

Needs matplotlib (pip install "tavrik[examples]").
"""

from __future__ import annotations

import argparse
import math
from collections.abc import Sequence

from matplotlib.figure import Figure

from modes import POLARIZATIONS, add_stack_options, guided_modes, make_stack, omega_of, polarizations

DPI = 100


def sweep(layers: Sequence[tuple[float, float]], wavelengths: Sequence[float], name: str,
          count: int) -> list[list[float]]:
    """neff of the first `count` modes at each wavelength; NaN where a mode is not guided."""
    stack = make_stack(layers)
    curves = [[math.nan] * len(wavelengths) for _ in range(count)]
    for k, wavelength in enumerate(wavelengths):
        for mode, neff in guided_modes(stack, omega_of(wavelength), POLARIZATIONS[name]):
            if mode >= count:
                break
            curves[mode][k] = neff
    return curves


def draw(layers: Sequence[tuple[float, float]], low: float, high: float, points: int, choice: str,
         count: int, unit: str, width: int, height: int) -> Figure:
    wavelengths = [low + (high - low) * k / (points - 1) for k in range(points)]
    fig = Figure(figsize=(width / DPI, height / DPI), dpi=DPI, layout="constrained")
    ax = fig.subplots()
    colours = ["tab:blue", "tab:orange", "tab:green", "tab:red", "tab:purple", "tab:brown", "tab:pink"]
    for name in polarizations(choice):
        style = "-" if name == "TE" else "--"
        for mode, curve in enumerate(sweep(layers, wavelengths, name, count)):
            guided = [k for k, neff in enumerate(curve) if not math.isnan(neff)]
            if not guided:
                continue
            colour = colours[mode % len(colours)]
            ax.plot(wavelengths, curve, style, color=colour, label=f"{name}{mode}")
            last = guided[-1]
            if last < points - 1:  # guided up to here, not beyond: the cut-off
                ax.plot([wavelengths[last]], [curve[last]], "o", color=colour, markersize=4)
    cladding = max(layers[0][0], layers[-1][0])
    ax.axhline(cladding, color="black", linestyle=":", linewidth=1, label=f"cut-off: cladding n = {cladding:g}")
    ax.set_xlim(low, high)
    ax.set_xlabel(f"vacuum wavelength ({unit})")
    ax.set_ylabel("effective index neff")
    ax.set_title("dispersion of the guided modes (markers: last guided wavelength before cut-off)")
    ax.grid(True, linewidth=0.3)
    ax.legend(fontsize="small", ncols=2)
    return fig


def main(argv: Sequence[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0] if __doc__ else None)
    add_stack_options(parser)
    parser.add_argument("--min-wavelength", type=float, default=1.0, help="start of the sweep (default 1.0)")
    parser.add_argument("--max-wavelength", type=float, default=4.0, help="end of the sweep (default 4.0)")
    parser.add_argument("--points", type=int, default=151, help="wavelengths in the sweep (default 151)")
    parser.add_argument("--modes", type=int, default=3, help="first modes of each polarization to draw (default 3)")
    parser.add_argument("--unit", default="µm", help="name of the length unit, for the axes (default µm)")
    parser.add_argument("--width", type=int, default=1000, help="image width in pixels (default 1000)")
    parser.add_argument("--height", type=int, default=650, help="image height in pixels (default 650)")
    parser.add_argument("--output", default="dispersion.png", help="PNG file to write (default dispersion.png)")
    args = parser.parse_args(argv)
    if args.points < 2 or not 0 < args.min_wavelength < args.max_wavelength:
        parser.error("need at least two points and 0 < --min-wavelength < --max-wavelength")
    fig = draw(args.layers, args.min_wavelength, args.max_wavelength, args.points, args.polarization,
               args.modes, args.unit, args.width, args.height)
    fig.savefig(args.output, dpi=DPI)
    print(f"wrote {args.output}")


if __name__ == "__main__":
    main()
