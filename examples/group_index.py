"""Effective index, group index and dispersion D of a slab's modes against wavelength, into a PNG.

One call of MultiLayer.dispersion gives every guided mode's effective index,
group index n_g = d beta / d k0 and d^2 beta / d k0^2 over the whole sweep,
exactly (no finite differences), computed on every core. The three panels show
n_eff, n_g and the waveguide dispersion D = -(k0^2 / (2 pi c)) d^2 beta / d k0^2
in ps/(nm km) for the TE (solid) and TM (dashed) modes; the layers' indices are
held fixed, so D is the dispersion of the guiding geometry alone. With no
arguments it sweeps the silicon-on-insulator slab of modes.py from 1.2 to 2.0 um:

    python examples/group_index.py --output group_index.png
    python examples/group_index.py --layers "1.444:1,3.476:0.4,1.444:1" --min-wavelength 1.0 --max-wavelength 3.0

Thicknesses and wavelengths are in micrometres. Needs matplotlib (pip install "tavrik[examples]").
"""

from __future__ import annotations

import argparse
import math
from collections.abc import Sequence

from matplotlib.figure import Figure

from modes import POLARIZATIONS, add_stack_options, make_stack, omega_of, polarizations

DPI = 100
SPEED_OF_LIGHT = 299792458.0  # m/s


def dispersion_parameter(omega: float, gvd: float) -> float:
    """D in ps/(nm km) from k0 in 1/um and d^2 beta / d k0^2 in um:
    D = -(k0^2 / (2 pi c)) gvd is in s/m^2 with k0^2 gvd in 1/m (a factor
    1e6 from 1/um), and 1 s/m^2 = 1e6 ps/(nm km)."""
    return -(omega * omega * gvd) / (2.0 * math.pi * SPEED_OF_LIGHT) * 1e12


def draw(layers: Sequence[tuple[float, float]], low: float, high: float, points: int, choice: str,
         width: int, height: int) -> Figure:
    wavelengths = [low + (high - low) * k / (points - 1) for k in range(points)]
    omegas = [omega_of(wavelength) for wavelength in wavelengths]
    stack = make_stack(layers)
    fig = Figure(figsize=(width / DPI, height / DPI), dpi=DPI, layout="constrained")
    ax_neff, ax_ng, ax_d = fig.subplots(3, 1, sharex=True)
    colours = ["tab:blue", "tab:orange", "tab:green", "tab:red", "tab:purple", "tab:brown", "tab:pink"]
    for name in polarizations(choice):
        table = stack.dispersion(omegas, POLARIZATIONS[name])
        style = "-" if name == "TE" else "--"
        for mode, (neff, n_g, gvd) in enumerate(zip(table.neff, table.group_index, table.gvd)):
            colour = colours[mode % len(colours)]
            d = [dispersion_parameter(omega, g) for omega, g in zip(omegas, gvd)]
            ax_neff.plot(wavelengths, neff, style, color=colour, label=f"{name}{mode}")
            ax_ng.plot(wavelengths, n_g, style, color=colour)
            ax_d.plot(wavelengths, d, style, color=colour)
    ax_neff.set_ylabel("effective index n_eff")
    ax_ng.set_ylabel("group index n_g")
    ax_d.set_ylabel("D (ps/(nm km))")
    ax_d.axhline(0.0, color="black", linewidth=0.5)
    ax_d.set_xlabel("vacuum wavelength (µm)")
    ax_d.set_xlim(low, high)
    ax_neff.set_title("guided modes: effective index, group index and waveguide dispersion")
    for ax in (ax_neff, ax_ng, ax_d):
        ax.grid(True, linewidth=0.3)
    ax_neff.legend(fontsize="small", ncols=2)
    return fig


def main(argv: Sequence[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0] if __doc__ else None)
    add_stack_options(parser)
    parser.add_argument("--min-wavelength", type=float, default=1.2, help="start of the sweep in µm (default 1.2)")
    parser.add_argument("--max-wavelength", type=float, default=2.0, help="end of the sweep in µm (default 2.0)")
    parser.add_argument("--points", type=int, default=400, help="wavelengths in the sweep (default 400)")
    parser.add_argument("--width", type=int, default=900, help="image width in pixels (default 900)")
    parser.add_argument("--height", type=int, default=1000, help="image height in pixels (default 1000)")
    parser.add_argument("--output", default="group_index.png", help="PNG file to write (default group_index.png)")
    args = parser.parse_args(argv)
    if args.points < 2 or not 0 < args.min_wavelength < args.max_wavelength:
        parser.error("need at least two points and 0 < --min-wavelength < --max-wavelength")
    fig = draw(args.layers, args.min_wavelength, args.max_wavelength, args.points, args.polarization,
               args.width, args.height)
    fig.savefig(args.output, dpi=DPI)
    print(f"wrote {args.output}")


if __name__ == "__main__":
    main()
