"""Index profile and mode fields of a slab waveguide, drawn into a PNG.

The upper panel is the refractive index across the stack, the lower one the
dominant transverse electric field of every guided mode (Ey for TE, Ex for TM),
normalised to unit power flow; the films between the two half-spaces are
shaded. With no arguments it draws the silicon-on-insulator slab of modes.py:

    python examples/profiles.py --output profiles.png
    python examples/profiles.py --layers "1.0:2,1.5:2.0,1.0:2" --wavelength 1.0 --plot-step 0.005

Needs matplotlib (pip install "tavrik[examples]").
"""

from __future__ import annotations

import argparse
import cmath
from collections.abc import Sequence

from matplotlib.axes import Axes
from matplotlib.figure import Figure

from modes import POLARIZATIONS, add_stack_options, guided_modes, make_stack, omega_of, polarizations

DPI = 100


def real_profile(values: Sequence[complex]) -> list[float]:
    """A mode's field with its constant phase removed: the largest sample made real and positive."""
    peak = max(values, key=abs)
    turn = cmath.exp(-1j * cmath.phase(peak)) if peak != 0 else 1.0
    return [(v * turn).real for v in values]


def shade_films(ax: Axes, layers: Sequence[tuple[float, float]]) -> None:
    """Shades each film; x = 0 is the interface between layer 0 and layer 1."""
    start = 0.0
    for i, (_, d) in enumerate(layers[1:-1]):
        ax.axvspan(start, start + d, color="tab:gray", alpha=0.12 if i % 2 == 0 else 0.22, linewidth=0)
        start += d


def draw(layers: Sequence[tuple[float, float]], wavelength: float, choice: str, plot_step: float,
         unit: str, width: int, height: int) -> Figure:
    stack = make_stack(layers)
    stack.plot_step = plot_step
    omega = omega_of(wavelength)

    fig = Figure(figsize=(width / DPI, height / DPI), dpi=DPI, layout="constrained")
    ax_n, ax_field = fig.subplots(2, 1, sharex=True, height_ratios=[1, 2])
    profile = stack.index()
    ax_n.plot(profile.x, profile.n, color="black", linewidth=1.2)
    ax_n.set_ylabel("refractive index n")
    ax_n.set_title(f"guided modes at wavelength {wavelength:g} {unit}")

    curves = 0
    for name in polarizations(choice):
        polarization = POLARIZATIONS[name]
        for mode, neff in guided_modes(stack, omega, polarization):
            field = stack.field(omega, polarization, mode)
            values = field.Ey if name == "TE" else field.Ex
            style = "-" if name == "TE" else "--"
            ax_field.plot(field.x, real_profile(values), style, label=f"{name}{mode}  neff = {neff:.6f}")
            curves += 1
    if curves:
        ax_field.legend(fontsize="small")
    else:
        ax_field.text(0.5, 0.5, "no guided mode", transform=ax_field.transAxes, ha="center")
    ax_field.axhline(0.0, color="black", linewidth=0.5)
    ax_field.set_xlabel(f"x ({unit}), 0 at the first interface")
    ax_field.set_ylabel("Ey (TE), Ex (TM)\nnormalised to unit power flow")
    for ax in (ax_n, ax_field):
        shade_films(ax, layers)
        ax.set_xlim(profile.x[0], profile.x[-1])
    return fig


def main(argv: Sequence[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0] if __doc__ else None)
    add_stack_options(parser)
    parser.add_argument("--plot-step", type=float, default=0.002, help="grid spacing, in the unit of d (default 0.002)")
    parser.add_argument("--unit", default="µm", help="name of the length unit, for the axes (default µm)")
    parser.add_argument("--width", type=int, default=1000, help="image width in pixels (default 1000)")
    parser.add_argument("--height", type=int, default=700, help="image height in pixels (default 700)")
    parser.add_argument("--output", default="profiles.png", help="PNG file to write (default profiles.png)")
    args = parser.parse_args(argv)
    fig = draw(args.layers, args.wavelength, args.polarization, args.plot_step, args.unit, args.width, args.height)
    fig.savefig(args.output, dpi=DPI)
    print(f"wrote {args.output}")


if __name__ == "__main__":
    main()
