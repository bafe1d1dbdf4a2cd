"""tavrik against what a Python user would use instead, in one process and one run.

    python benchmarks/compare.py            # full run (a few minutes)
    python benchmarks/compare.py --quick    # a few repetitions, under a minute
    python benchmarks/compare.py --json     # the same run, machine-readable

Needs the module and the benchmark extra: `pip install .[bench]` (numpy, scipy,
pymoosh). Every workload is timed on tavrik and on each alternative; the table
gives the median time per call, each alternative's time as a multiple of
tavrik's, and every result's agreement with tavrik's and with the analytic
answer where there is one.

Alternatives:
  numpy    benchmarks/numpy_search.py: the same coarse-to-fine search with each
           window's samples evaluated as arrays. It reproduces the search only;
           tavrik also completes the mode list by a certified mode count, so on
           a stack where the search alone misses modes the two lists differ in
           length and only the values both found are compared.
  pymoosh  PyMoosh's guided-mode search (PyMoosh.modes.guided_modes, its
           documented defaults); complex or edge values it returns are dropped
           before comparing (the raw count is in the note).
  brentq   SciPy's brentq on the analytic dispersion relation of a three-layer
           slab: the textbook way, and the accuracy reference.
  photonoxide  photonoxide.slab_modes (PyPI), an exact three-layer slab
           solver: every mode of one polarization per call.

Workloads 8-12 time MultiLayer.modes (every mode at once, each the exact root)
against the same alternatives, against every mode by neff, across units of
length and across two threads. Workload 13 times MultiLayer.dispersion over
400 omegas against 400 modes calls and against a loop of neff calls with
finite-difference group indices. Workload 14 times modes() on lossy and
metallic stacks against PyMoosh's guided_modes (fewer starts and one
polarization per stack in the quick run) and checks that every mode PyMoosh
finds is among tavrik's.

Units: omega is the vacuum wavenumber 2 pi / lambda in the reciprocal unit of
the thicknesses; PyMoosh is given the same stack in nm (one unit = 1000 nm).
"""

from __future__ import annotations

import argparse
import cmath
import contextlib
import io
import json
import math
import os
import platform
import re
import statistics
import subprocess
import sys
import time
import timeit
import warnings

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import tavrik  # noqa: E402
from tavrik import Layer, MultiLayer, Polarization  # noqa: E402

try:
    import numpy as np  # noqa: E402

    import numpy_search  # noqa: E402
except ImportError:  # pragma: no cover - reported in the table
    np = None
    numpy_search = None
try:
    from scipy.optimize import brentq  # noqa: E402
except ImportError:  # pragma: no cover
    brentq = None
try:
    import photonoxide  # noqa: E402
except ImportError:  # pragma: no cover
    photonoxide = None
try:
    from PyMoosh.classes import Structure as MooshStructure  # noqa: E402
    from PyMoosh.modes import guided_modes as moosh_guided_modes  # noqa: E402
except ImportError:  # pragma: no cover
    MooshStructure = None

TWO_PI = 2.0 * math.pi
POLS = (("TE", Polarization.TE, 0), ("TM", Polarization.TM, 1))

# ---- the workloads' stacks ----------------------------------------------------

SLAB = [(1.0, 0.0), (1.5, 1.0), (1.0, 0.0)]  # workloads 1 and 6
SOI = [(1.0, 0.0), (3.476, 0.22), (1.444, 0.0)]  # workloads 2 and 4
FILMS = [0.15, 0.4, 0.2, 0.35, 0.25, 0.3, 0.3, 0.25, 0.35, 0.2]
TWELVE = [(1.45, 0.0)] + [(1.9 if j % 2 == 0 else 1.6, d) for j, d in enumerate(FILMS)] + [(1.0, 0.0)]
FIELD_STACK = [(1.45, 3.0), (2.0, 0.5), (1.0, 3.0)]  # workload 5, omega = 4
SWEEP = [1.2 + 0.8 * k / 199 for k in range(200)]  # workload 4 wavelengths


def multilayer(layers):
    return MultiLayer([Layer(n, d) for n, d in layers])


def guided_range(layers):
    """(lower edge, upper edge) of the guided effective indices."""
    return max(layers[0][0], layers[-1][0]), max(n for n, _ in layers)


# ---- machine ------------------------------------------------------------------


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown"


def versions():
    out = {"python": platform.python_version(), "implementation": platform.python_implementation()}
    for name in ("numpy", "scipy", "pymoosh", "photonoxide"):
        try:
            from importlib.metadata import version

            out[name] = version(name)
        except Exception:
            out[name] = None
    return out


# ---- timing -------------------------------------------------------------------


class Timer:
    def __init__(self, quick):
        self.quick = quick

    def median(self, fn, slow=False):
        """Median seconds per call of fn. Fast calls are timed in batches of at
        least a few milliseconds; slow ones (PyMoosh) a fixed few times."""
        if slow:
            reps = 1 if self.quick else 3
            times = []
            for _ in range(reps):
                t0 = time.perf_counter()
                self.last = fn()
                times.append(time.perf_counter() - t0)
            return statistics.median(times)
        t0 = time.perf_counter()
        self.last = fn()  # warm-up, and a first estimate
        first = time.perf_counter() - t0
        batch_target = 0.002 if self.quick else 0.01
        number = max(1, int(batch_target / max(first, 1e-9)))
        total_target = 0.05 if self.quick else 0.6
        batches = max(3 if self.quick else 7, min(41, int(total_target / max(first * number, 1e-9))))
        times = []
        for _ in range(batches):
            t0 = time.perf_counter()
            for _ in range(number):
                fn()
            times.append((time.perf_counter() - t0) / number)
        return statistics.median(times)

    def statements(self, stmts, globals_):
        """Seconds per execution of each statement, timeit-style, the statements
        interleaved round by round so that a change of load on a shared machine
        hits all of them alike. Returns the per-round times of each."""
        timers = [timeit.Timer(stmt, globals=globals_) for stmt in stmts]
        number = 20000 if self.quick else 100000
        rounds = 7 if self.quick else 31
        times = [[] for _ in stmts]
        for _ in range(rounds):
            for timer, out in zip(timers, times):
                out.append(timer.timeit(number) / number)
        return times


# ---- tavrik -------------------------------------------------------------------


def tavrik_modes(ml, omega, pol):
    """Every mode by asking for mode 0, 1, ... until the search reports none."""
    out = []
    while True:
        try:
            out.append(ml.neff(omega, pol, len(out)))
        except Exception:
            return out


def tavrik_count(ml, omega, pol):
    try:
        ml.neff(omega, pol, 4294967295)
    except Exception as e:
        found = re.search(r"Only (\d+) modes", str(e))
        return int(found.group(1)) if found else None
    return None


# ---- the analytic three-layer relation ----------------------------------------


def slab_relation(layers, k0, tm, m):
    """f(N) = kappa d - atan(r_s gamma_s/kappa) - atan(r_c gamma_c/kappa) - m pi,
    zero at mode m of a three-layer slab (r = 1 for TE, n_f^2/n^2 for TM);
    decreasing in N."""
    (n_s, _), (n_f, d), (n_c, _) = layers
    r_s = (n_f * n_f) / (n_s * n_s) if tm else 1.0
    r_c = (n_f * n_f) / (n_c * n_c) if tm else 1.0

    def f(N):
        kappa = k0 * math.sqrt(max(n_f * n_f - N * N, 0.0))
        g_s = k0 * math.sqrt(max(N * N - n_s * n_s, 0.0))
        g_c = k0 * math.sqrt(max(N * N - n_c * n_c, 0.0))
        return kappa * d - math.atan2(r_s * g_s, kappa) - math.atan2(r_c * g_c, kappa) - m * math.pi

    return f


def brentq_modes(layers, k0, tm):
    lo, hi = guided_range(layers)
    out = []
    m = 0
    while True:
        f = slab_relation(layers, k0, tm, m)
        if not f(lo) > 0.0:
            return out
        out.append(brentq(f, lo, hi, xtol=1e-15, rtol=4 * sys.float_info.epsilon, maxiter=200))
        m += 1


# ---- photonoxide ----------------------------------------------------------------


def photonoxide_modes(layers, k0, pol_name):
    """Every mode of one polarization of a three-layer slab, descending."""
    (below, _), (core, d), (above, _) = layers
    modes = photonoxide.slab_modes(below=below, core=core, above=above, thickness_um=d,
                                   polarization=pol_name.lower(), wavelength_um=TWO_PI / k0)
    return [m.effective_index for m in modes]


# ---- PyMoosh ------------------------------------------------------------------


def moosh_structure(layers):
    eps = []
    kinds = []
    for n, _ in layers:
        if n * n not in eps:
            eps.append(n * n)
        kinds.append(eps.index(n * n))
    return MooshStructure(eps, kinds, [1000.0 * d for _, d in layers], verbose=False)


def moosh_modes(structure, layers, wavelength, pol):
    """PyMoosh's guided modes, real and inside the guided range, descending;
    also the raw count it returned."""
    lo, hi = guided_range(layers)
    with contextlib.redirect_stdout(io.StringIO()), warnings.catch_warnings():
        warnings.simplefilter("ignore")
        raw = moosh_guided_modes(structure, 1000.0 * wavelength, pol, lo, hi)
    kept = []
    for z in sorted((complex(z) for z in raw), key=lambda z: -z.real):
        if abs(z.imag) < 1e-9 and lo + 1e-9 < z.real < hi - 1e-9:
            if not kept or abs(kept[-1] - z.real) > 1e-8:
                kept.append(z.real)
    return kept, len(raw)


# ---- agreement ----------------------------------------------------------------


def compare_lists(reference, values):
    """(description, max |difference|) of a mode list against the reference:
    position by position when the counts match, else each value against the
    nearest reference value."""
    if not values and not reference:
        return "0 = 0", 0.0
    if len(values) == len(reference):
        return f"{len(values)} = {len(reference)}", max(abs(a - b) for a, b in zip(values, reference))
    if not values or not reference:
        return f"{len(values)} vs {len(reference)}", math.inf
    worst = max(min(abs(v - r) for r in reference) for v in values)
    return f"{len(values)} vs {len(reference)}", worst


def fmt_time(seconds):
    if seconds is None:
        return "-"
    if seconds < 1e-6:
        return f"{seconds * 1e9:.0f} ns"
    if seconds < 1e-3:
        return f"{seconds * 1e6:.1f} us"
    if seconds < 1.0:
        return f"{seconds * 1e3:.2f} ms"
    return f"{seconds:.2f} s"


def fmt_diff(value):
    if value is None:
        return "-"
    if value == 0.0:
        return "0 (same bits)"
    if math.isinf(value):
        return "inf"
    return f"{value:.1e}"


class Report:
    def __init__(self):
        self.rows = []
        self.targets = []
        self.notes = []

    def row(self, workload, impl, seconds, tavrik_seconds=None, modes=None, vs_tavrik=None,
            vs_analytic=None, note=""):
        ratio = None
        if tavrik_seconds and seconds is not None:
            ratio = seconds / tavrik_seconds
        self.rows.append(dict(workload=workload, implementation=impl, seconds=seconds, ratio=ratio,
                              modes=modes, vs_tavrik=vs_tavrik, vs_analytic=vs_analytic, note=note))
        return ratio

    def target(self, name, figure, goal, met, bound=""):
        self.targets.append(dict(target=name, figure=figure, goal=goal, met=met, bound=bound))


def resolution(omega):
    """One sample of the search's last pass, in effective index."""
    return 1e-9 / omega


def fmt_analytic(diff, omega):
    if diff is None:
        return "-"
    return f"{diff:.1e} ({diff / resolution(omega):.2f} step)"


# ---- workloads 1-4: mode searches ---------------------------------------------


def every_polarization(omegas, want_all, solve):
    """solve(omega, pol) for every omega and every entry of POLS: each list
    whole, or its first mode only."""
    out = []
    for omega in omegas:
        for pol in POLS:
            modes = solve(omega, pol)
            out.append(modes if want_all else modes[:1])
    return out


def mode_search_workload(report, timer, key, title, layers, omegas, wavelengths, want_all,
                         pymoosh_subset=None, analytic=True):
    """One search workload over a list of omegas (one for 1-3, 200 for 4), TE and TM.

    want_all: every mode (loop until the search reports none); else mode 0.
    """
    ml = multilayer(layers)
    # tavrik
    def run_tavrik():
        out = []
        for omega in omegas:
            for _, pol, _ in POLS:
                out.append(tavrik_modes(ml, omega, pol) if want_all else [ml.neff(omega, pol)])
        return out

    t_tavrik = timer.median(run_tavrik)
    ours = timer.last
    flat_ours = [v for modes in ours for v in modes]
    complete = [len(m) for m in ours]
    counts = [tavrik_count(ml, omega, pol) for omega in omegas for _, pol, _ in POLS]
    analytic_diff = None
    if analytic and brentq is not None:
        diffs = []
        cases = [(omega, tm) for omega in omegas for _, _, tm in POLS]
        for (omega, tm), modes in zip(cases, ours):
            exact = brentq_modes(layers, omega, tm)
            diffs.append(compare_lists(exact if want_all else exact[:1], modes)[1])
        analytic_diff = max(diffs)
    worst_omega = min(omegas)
    note = f"{len(flat_ours)} modes; certified count {sum(c or 0 for c in counts)}" if want_all else "mode 0"
    report.row(key, "tavrik", t_tavrik, t_tavrik, modes=str(len(flat_ours)), vs_tavrik="-",
               vs_analytic=fmt_analytic(analytic_diff, worst_omega), note=title + "; " + note)
    ratios = {}
    t_single = None
    if want_all:
        # neff returns one mode per call and keeps nothing between calls, so
        # every mode costs (count + 1) searches; one search per (omega, pol) is
        # what the alternatives' single pass is to be compared with.
        def run_single():
            return [ml.neff(omega, pol) for omega in omegas for _, pol, _ in POLS]

        t_single = timer.median(run_single)
        searches = sum(len(m) + 1 for m in ours)
        report.row(key, "tavrik, mode 0 only", t_single, t_tavrik, modes="-", vs_tavrik="-",
                   note=f"one search per (omega, pol): {len(ours)} searches; the row above makes {searches}")
    # NumPy
    if numpy_search is not None:
        def run_numpy():
            out = []
            for omega in omegas:
                for _, _, p in POLS:
                    modes = numpy_search.mode_list(layers, omega, p)
                    out.append(modes if want_all else modes[:1])
            return out

        t_np = timer.median(run_numpy)
        theirs = timer.last
        worst = 0.0
        short = 0
        for a, b in zip(ours, theirs):
            desc, d = compare_lists(a, b)
            worst = max(worst, d)
            short += len(a) - len(b)
        desc = "all equal counts" if short == 0 else f"search alone misses {short}"
        if short == 0:
            ratios["numpy agreement"] = worst
        if t_single:
            ratios["numpy per search"] = t_np / t_single
            desc += f"; {t_np / t_single:.1f}x tavrik's one search per (omega, pol)"
        ratios["numpy"] = report.row(
            key, "numpy search", t_np, t_tavrik, modes=str(sum(len(b) for b in theirs)),
            vs_tavrik=fmt_diff(worst), note=desc)
    # PyMoosh
    if MooshStructure is not None and pymoosh_subset is not None:
        structure = moosh_structure(layers)
        picks = pymoosh_subset

        def run_moosh():
            out = []
            for k in picks:
                for _, _, p in POLS:
                    out.append(moosh_modes(structure, layers, wavelengths[k], p))
            return out

        t_pm = timer.median(run_moosh, slow=True)
        results = timer.last
        scale = len(omegas) / len(picks)
        worst = 0.0
        counts_pm = []
        raw_total = 0
        for j, k in enumerate(picks):
            for i in range(len(POLS)):
                kept, raw = results[j * len(POLS) + i]
                raw_total += raw
                mine = ours[k * len(POLS) + i]
                kept = kept if want_all else kept[:1]
                desc, d = compare_lists(mine, kept)
                counts_pm.append((len(kept), len(mine)))
                worst = max(worst, d)
        got = sum(a for a, _ in counts_pm)
        expect = sum(b for _, b in counts_pm)
        note = f"raw {raw_total} values, kept {got} (tavrik {expect})"
        if scale != 1:
            note += f"; timed on {len(picks)} of {len(omegas)} wavelengths, scaled x{scale:g}"
        ratios["pymoosh"] = report.row(key, "pymoosh", t_pm * scale, t_tavrik, modes=str(got),
                                       vs_tavrik=fmt_diff(worst), note=note)
    # photonoxide
    if photonoxide is not None and len(layers) == 3:
        t_px = timer.median(lambda: every_polarization(
            omegas, want_all, lambda omega, pol: photonoxide_modes(layers, omega, pol[0])))
        theirs = timer.last
        ratios["photonoxide"] = report.row(
            key, "photonoxide", t_px, t_tavrik, modes=str(sum(len(e) for e in theirs)),
            vs_tavrik=fmt_diff(max(compare_lists(a, b)[1] for a, b in zip(ours, theirs))),
            note="slab_modes, exact three-layer solver")
    # brentq
    if analytic and brentq is not None:
        t_bq = timer.median(lambda: every_polarization(
            omegas, want_all, lambda omega, pol: brentq_modes(layers, omega, pol[2])))
        exact = timer.last
        ratios["brentq"] = report.row(
            key, "scipy brentq", t_bq, t_tavrik, modes=str(sum(len(e) for e in exact)),
            vs_tavrik=fmt_diff(max(compare_lists(a, b)[1] for a, b in zip(ours, exact))),
            vs_analytic="(reference)", note="analytic three-layer relation")
    return ratios, analytic_diff, worst_omega


# ---- workloads 8-12: every mode at once (MultiLayer.modes) ----------------------

SYMMETRIC_SOI = [(1.444, 0.0), (3.476, 0.22), (1.444, 0.0)]
THICK20 = [(1.5, 0.0), (1.6, 20.0), (1.5, 0.0)]
OMEGA_155 = TWO_PI / 1.55


def all_modes_rows(report, timer, key, title, layers, omega):
    """Every TE and TM mode of a three-layer slab: modes, photonoxide, brentq.
    Returns {alternative: its time / modes' time}."""
    ml = multilayer(layers)
    t_modes = timer.median(lambda: [ml.modes(omega, pol) for _, pol, _ in POLS])
    ours = timer.last
    exact = [brentq_modes(layers, omega, tm) for _, _, tm in POLS] if brentq is not None else None
    worst = max(compare_lists(e, o)[1] for e, o in zip(exact, ours)) if exact else None
    report.row(key, "tavrik modes", t_modes, t_modes, modes=str(sum(map(len, ours))), vs_tavrik="-",
               vs_analytic=fmt_diff(worst), note=title + "; TE+TM, every mode")
    ratios = {}
    if photonoxide is not None:
        t_px = timer.median(lambda: [photonoxide_modes(layers, omega, name) for name, _, _ in POLS])
        theirs = timer.last
        ratios["photonoxide"] = report.row(
            key, "photonoxide", t_px, t_modes, modes=str(sum(map(len, theirs))),
            vs_tavrik=fmt_diff(max(compare_lists(a, b)[1] for a, b in zip(ours, theirs))),
            note="slab_modes, TE+TM")
    if brentq is not None:
        t_bq = timer.median(lambda: [brentq_modes(layers, omega, tm) for _, _, tm in POLS])
        ratios["brentq"] = report.row(key, "scipy brentq", t_bq, t_modes, modes=str(sum(map(len, exact))),
                                      vs_tavrik=fmt_diff(worst), vs_analytic="(reference)",
                                      note="analytic three-layer relation, TE+TM")
    return ratios


def modes_vs_neff_rows(report, timer):
    """Workload 11: every mode of the twelve-layer stack, modes against neff."""
    ml = multilayer(TWELVE)
    t_modes = timer.median(lambda: [ml.modes(TWO_PI, pol) for _, pol, _ in POLS])
    ours = timer.last
    t_neff = timer.median(lambda: [tavrik_modes(ml, TWO_PI, pol) for _, pol, _ in POLS], slow=True)
    searched = timer.last
    report.row("11", "tavrik modes", t_modes, t_modes, modes=str(sum(map(len, ours))), vs_tavrik="-",
               note="12 layers of workload 3, TE+TM, every mode")
    worst = max(compare_lists(a, b)[1] for a, b in zip(ours, searched))
    return report.row("11", "tavrik neff, mode by mode", t_neff, t_modes, modes=str(sum(map(len, searched))),
                      vs_tavrik=fmt_diff(worst), note="neff(mode=k) until it raises")


def units_rows(report, timer):
    """Workload 12a: the same stacks in units 1e-3 and 1e3 of the length: the time
    ratio to the plain unit (worst of both stacks and both scales)."""
    worst = 1.0
    for name, layers, omega in (("20-thick slab", THICK20, OMEGA_155), ("twelve layers", TWELVE, TWO_PI)):
        times = {}
        for scale in (1.0, 1e-3, 1e3):
            ml = multilayer([(n, d * scale) for n, d in layers])
            times[scale] = timer.median(lambda: [ml.modes(omega / scale, pol) for _, pol, _ in POLS])
        for scale in (1e-3, 1e3):
            ratio = times[scale] / times[1.0]
            worst = max(worst, ratio, 1.0 / ratio)
            report.row("12", f"modes, lengths x{scale:g}", times[scale], times[1.0], modes="-", vs_tavrik="-",
                       note=f"{name}, omega / {scale:g}; x tavrik = vs the plain unit")
    return worst


def thread_rows(report, quick):
    """Workload 12b: modes over 200 omegas on one thread, then split over two."""
    import threading

    ml = multilayer(TWELVE)
    omegas = [TWO_PI / lam for lam in SWEEP]

    def work(part):
        for omega in part:
            for _, pol, _ in POLS:
                ml.modes(omega, pol)

    def two_threads():
        threads = [threading.Thread(target=work, args=(omegas[k::2],)) for k in range(2)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()

    one, two = [], []
    for _ in range(3 if quick else 9):  # interleaved, so load changes hit both alike
        t0 = time.perf_counter()
        work(omegas)
        one.append(time.perf_counter() - t0)
        t0 = time.perf_counter()
        two_threads()
        two.append(time.perf_counter() - t0)
    t_one, t_two = statistics.median(one), statistics.median(two)
    report.row("12", "modes, 1 thread", t_one, t_one, modes="-", vs_tavrik="-",
               note="12 layers, 200 omegas, TE+TM")
    return report.row("12", "modes, 2 threads", t_two, t_one, modes="-", vs_tavrik="-",
                      note="the same omegas split over two threads; x = vs one thread")


def exact_modes_workloads(report, timer, quick):
    for key, title, layers in (("8", "symmetric SOI 1.444/3.476 (0.22)/1.444, lambda 1.55", SYMMETRIC_SOI),
                               ("9", "air-clad SOI 1.0/3.476 (0.22)/1.444, lambda 1.55", SOI),
                               ("10", "20-thick slab 1.5/1.6/1.5, lambda 1.55", THICK20)):
        ratios = all_modes_rows(report, timer, key, title, layers, OMEGA_155)
        for name, goal in (("photonoxide", 3.0), ("brentq", 10.0)):
            if name in ratios:
                r = ratios[name]
                report.target(f"workload {key}: modes >= {goal:g}x faster than {name}", f"{r:.1f}x",
                              f">= {goal:g}", r >= goal)
    r = modes_vs_neff_rows(report, timer)
    report.target("workload 11: modes >= 50x faster than every mode by neff", f"{r:.0f}x", ">= 50", r >= 50)
    worst = units_rows(report, timer)
    report.target("workload 12: lengths x1e-3 / x1e3 take the same time within 2x", f"worst {worst:.2f}x",
                  "<= 2", worst <= 2.0)
    r = thread_rows(report, quick)
    report.target("workload 12: two threads take <= 0.6 of one thread's time", f"{r:.2f}", "<= 0.6", r <= 0.6,
                  bound=f"{os.cpu_count()} cores on a shared machine")


# ---- workload 5: field and index ------------------------------------------------


def plot_step_for(count, layers):
    """A plot_step whose grid has exactly `count` samples."""
    total = 0.0
    for _, d in layers:
        total += d
    d0 = layers[0][1]
    span = (total - d0) - (-d0)
    step = span / count
    while math.ceil(span / step) > count:
        step = math.nextafter(step, math.inf)
    return step


def power_flow(f):
    """The trapezoid integral of Re(Ex conj(Hy) - Ey conj(Hx)) over the grid."""
    x = f.x
    s = [(ex * hy.conjugate() - ey * hx.conjugate()).real for ex, ey, hx, hy in zip(f.Ex, f.Ey, f.Hx, f.Hy)]
    dx = x[1] - x[0]
    return dx * (sum(s) - 0.5 * (s[0] + s[-1]))


def field_workload(report, timer, count):
    key = f"5 ({count})"
    ml = multilayer(FIELD_STACK)
    ml.plot_step = 0.01 if count == 650 else plot_step_for(count, FIELD_STACK)
    omega = 4.0
    f = ml.field(omega)
    n_samples = len(f.x)

    def field_reads():
        g = ml.field(omega)
        return (g.x, g.Ex, g.Ey, g.Ez, g.Hx, g.Hy, g.Hz)

    def field_index_reads():
        g = ml.field(omega)
        p = ml.index()
        return (g.x, g.Ex, g.Ey, g.Ez, g.Hx, g.Hy, g.Hz, p.x, p.n)

    xs = list(f.x)
    ey = f.Ey
    re_ = [z.real for z in ey]
    im_ = [z.imag for z in ey]

    def baseline():
        return [list(map(float, xs))] + [list(map(complex, re_, im_)) for _ in range(6)]

    t_field = timer.median(field_reads)
    t_both = timer.median(field_index_reads)
    t_base = timer.median(baseline)
    agreement = f"|P| - 1 = {abs(power_flow(f)) - 1:.1e}"
    if count == 650:
        at0 = f.Ey[f.x.index(0.0)] if 0.0 in f.x else None
        peak = max(abs(z) for z in f.Ey)
        agreement = (f"Ey(0) = {at0.real:.5f} (14.43157), max|Ey| = {peak:.5f} (21.54076); "
                     + agreement)
    report.row(key, "tavrik field + 7 reads", t_field, t_field, vs_analytic=agreement,
               note=f"{n_samples} samples, TE mode 0, omega 4")
    report.row(key, "tavrik field+index, 9 reads", t_both, t_field, note="index() and its 2 lists added")
    ratio = report.row(key, "7 lists list(map(complex..))", t_base, t_field,
                       note="x by list(map(float..)), six by list(map(complex, re, im))")
    return ratio, t_field, t_both, t_base, n_samples


# ---- workload 6: a large first pass, and its memory ----------------------------

MEMORY_CHILD = r"""
import sys
import tavrik
from tavrik import Layer, MultiLayer, Polarization
if sys.argv[1] == "work":
    ml = MultiLayer([Layer(1.0, 0.0), Layer(1.5, 1.0), Layer(1.0, 0.0)])
    ml.neff(1000.0, Polarization.TE)
    ml.neff(1000.0, Polarization.TM)
# VmHWM is the peak resident set of this process image; ru_maxrss would also
# count the parent's pages that the child had before its exec.
with open("/proc/self/status") as f:
    print(next(int(line.split()[1]) for line in f if line.startswith("VmHWM:")))
"""


def child_peak_kib(mode):
    env = dict(os.environ)
    module_dir = os.path.dirname(os.path.abspath(tavrik.__file__))
    env["PYTHONPATH"] = module_dir + (os.pathsep + env["PYTHONPATH"] if env.get("PYTHONPATH") else "")
    out = subprocess.run([sys.executable, "-c", MEMORY_CHILD, mode], capture_output=True, text=True,
                         env=env, check=True)
    return int(out.stdout.strip().splitlines()[-1])


def large_pass_workload(report, timer):
    key = "6"
    omega = 1000.0
    ml = multilayer(SLAB)

    def run():
        return [ml.neff(omega, pol) for _, pol, _ in POLS]

    t = timer.median(run)
    ours = run()
    counts = [tavrik_count(ml, omega, pol) for _, pol, _ in POLS]
    exact = [brentq_modes(SLAB, omega, tm)[0] for _, _, tm in POLS] if brentq else None
    diff = max(abs(a - b) for a, b in zip(ours, exact)) if exact else None
    idle = [child_peak_kib("idle") for _ in range(3)]
    work = [child_peak_kib("work") for _ in range(3)]
    delta_mb = (statistics.median(work) - statistics.median(idle)) / 1024.0
    report.row(key, "tavrik", t, t, modes="mode 0", vs_tavrik="-", vs_analytic=fmt_analytic(diff, omega),
               note=f"omega 1000 on workload 1's stack, TE+TM; {counts[0]} TE / {counts[1]} TM modes; "
                    f"peak RSS {statistics.median(work) / 1024:.1f} MB vs idle "
                    f"{statistics.median(idle) / 1024:.1f} MB: +{delta_mb:.2f} MB")
    if numpy_search is not None:
        def run_np():
            return [numpy_search.mode_list(SLAB, omega, p) for _, _, p in POLS]

        t_np = timer.median(run_np, slow=True)
        theirs = timer.last
        d0 = max(abs(a - b[0]) for a, b in zip(ours, theirs))
        note = (f"search alone finds {len(theirs[0])}/{counts[0]} TE, {len(theirs[1])}/{counts[1]} TM; "
                "mode 0 compared")
        report.row(key, "numpy search", t_np, t, modes="mode 0", vs_tavrik=fmt_diff(d0), note=note)
    return delta_mb


# ---- workload 7: call overhead ---------------------------------------------------


def overhead_workload(report, timer):
    key = "7"
    one = MultiLayer([Layer(1.5, 1.0)])
    g = {"one": one, "math": math}
    neff_times, hypot_times, raise_times = timer.statements(
        ["try:\n    one.neff(1.0)\nexcept Exception:\n    pass",
         "math.hypot(3.0, 4.0)",
         "try:\n    math.sqrt(-1.0)\nexcept ValueError:\n    pass"], g)
    t_neff = statistics.median(neff_times)
    t_hypot = statistics.median(hypot_times)
    t_raise = statistics.median(raise_times)
    bare = t_neff - (t_raise - t_hypot)
    # The target's figure: the median over rounds of each round's own ratio.
    per_round = statistics.median((n - (r - h)) / h for n, h, r in zip(neff_times, hypot_times, raise_times))
    report.row(key, "tavrik neff, try/except", t_neff, t_neff, note="one-layer stack: \"Mode 0 not found\"")
    report.row(key, "math.hypot(3.0, 4.0)", t_hypot, t_neff, note="a C call that returns")
    report.row(key, "math.sqrt(-1.0), try/except", t_raise, t_neff,
               note="a C call that raises: the host's own cost of an exception")
    report.row(key, "tavrik bare overhead", bare, t_neff,
               note="neff try/except - (sqrt try/except - hypot): what tavrik adds")
    return t_neff, t_hypot, t_raise, bare, per_round


# ---- workload 13: dispersion sweep -------------------------------------------------------------

DISPERSION_WAVELENGTHS = [1.2 + 0.8 * k / 399 for k in range(400)]  # workload 13


def neff_fd_group_indices(ml, omega, pol, h=1e-6):
    """Today's way: every mode's neff by neff(omega, pol, m) until none is left,
    and n_g = d(neff omega)/d omega by a central difference of two more lists."""
    centre, plus, minus = (tavrik_modes(ml, w, pol) for w in (omega, omega + h, omega - h))
    return [((omega + h) * p - (omega - h) * q) / (2 * h) for p, q in zip(plus, minus)]


def dispersion_workload(report, timer):
    """dispersion() over 400 omegas against 400 modes() calls (the same roots
    without the derivatives, one thread), rounds interleaved; and against a
    loop of neff calls with finite-difference group indices."""
    key = "13"
    ml = multilayer(SOI)
    omegas = [TWO_PI / lam for lam in DISPERSION_WAVELENGTHS]
    pol = Polarization.TE

    def sweep():
        return ml.dispersion(omegas, pol)

    def modes_loop():
        return [ml.modes(w, pol) for w in omegas]

    sweep(), modes_loop()  # warm-up
    rounds = 5 if timer.quick else 15
    t_sweep, t_modes = [], []
    for _ in range(rounds):
        for fn, out in ((sweep, t_sweep), (modes_loop, t_modes)):
            t0 = time.perf_counter()
            fn()
            out.append(time.perf_counter() - t0)
    ratio = statistics.median(s / m for s, m in zip(t_sweep, t_modes))
    t_sweep_med, t_modes_med = statistics.median(t_sweep), statistics.median(t_modes)

    # The finite-difference loop is slow: time a spread subset and scale it.
    subset = omegas[:: 20 if timer.quick else 4]
    t0 = time.perf_counter()
    fd = [neff_fd_group_indices(ml, w, pol) for w in subset]
    t_fd = (time.perf_counter() - t0) * len(omegas) / len(subset)
    table = sweep()
    worst = 0.0
    for w, values in zip(subset, fd):
        i = omegas.index(w)
        for m, n_g in enumerate(values[: len(table.group_index)]):
            worst = max(worst, abs(n_g - table.group_index[m][i]) / table.group_index[m][i])

    note = f"{len(omegas)} omegas, TE, {os.cpu_count()} cores"
    report.row(key, "tavrik dispersion (neff, n_g, gvd)", t_sweep_med, t_sweep_med, note=note)
    report.row(key, "tavrik modes x 400 (neff only)", t_modes_med, t_sweep_med, note="one thread, the same roots")
    report.row(key, "tavrik neff loop, finite-difference n_g", t_fd, t_sweep_med,
               vs_tavrik=f"n_g {worst:.1e} rel",
               note=f"3 mode lists per omega, h 1e-6; timed on {len(subset)} omegas, scaled")
    return ratio, t_fd / t_sweep_med, worst


# ---- the run -------------------------------------------------------------------


# ---- workload 14: lossy and metallic stacks against PyMoosh --------------------

GOLD_EPS = -11.6 + 1.2j  # gold at 632.8 nm
LOSSY = [
    # (name, layers, wavelength, polarizations); a complex n absorbs.
    ("gold | water, 632.8 nm", [(cmath.sqrt(GOLD_EPS), 1.0), (1.33, 1.0)], 0.6328, (1,)),
    ("glass | 30 nm gold | glass, 632.8 nm", [(1.5, 1.0), (cmath.sqrt(GOLD_EPS), 0.03), (1.5, 1.0)], 0.6328, (1,)),
    ("lossy silicon slab, 1.55 um", [(1.444, 1.0), (3.476 + 0.02j, 0.6), (1.444, 1.0)], 1.55, (0, 1)),
]


def moosh_lossy_modes(layers, wavelength, pol, starts):
    """PyMoosh's steepest-descent search from `starts` points between the
    larger cladding index and twice the largest |n|: its complex neffs."""
    eps, kinds = [], []
    for n, _ in layers:
        e = complex(n) ** 2
        if e not in eps:
            eps.append(e)
        kinds.append(eps.index(e))
    structure = MooshStructure(eps, kinds, [1000.0 * d for _, d in layers], verbose=False)
    lo = max(complex(layers[0][0]).real, complex(layers[-1][0]).real)
    hi = 2.0 * max(abs(complex(n)) for n, _ in layers)
    with contextlib.redirect_stdout(io.StringIO()), warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return [complex(z) for z in moosh_guided_modes(structure, 1000.0 * wavelength, pol, lo, hi, starts)]


def lossy_workload(report, timer):
    """Workload 14: every bound mode of lossy and metallic stacks, tavrik's
    certified modes() against PyMoosh's guided_modes. Returns (worst ratio,
    every PyMoosh mode among ours, worst distance of a PyMoosh mode to ours)."""
    if MooshStructure is None:
        return None
    # PyMoosh spends seconds per call; the quick run gives it fewer starts.
    starts = 10 if timer.quick else 40
    ratios, all_found, worst = [], True, 0.0
    for name, layers, wavelength, pols in LOSSY:
        ml = multilayer(layers)
        omega = 2 * math.pi / wavelength
        for pol in pols[:1] if timer.quick else pols:
            polarization = (Polarization.TE, Polarization.TM)[pol]
            t_ours = timer.median(lambda: ml.modes(omega, polarization))
            ours = timer.last
            t_moosh = timer.median(lambda: moosh_lossy_modes(layers, wavelength, pol, starts), slow=True)
            theirs = timer.last
            distances = [min((abs(z - o) / abs(o) for o in ours), default=math.inf) for z in theirs]
            found = all(d < 1e-8 for d in distances)
            all_found = all_found and found
            worst = max([worst] + distances)
            label = f"{name}, {'TM' if pol else 'TE'}"
            report.row("14", "tavrik modes", t_ours, t_ours, modes=str(len(ours)), vs_tavrik="-", note=label)
            ratios.append(report.row(
                "14", "pymoosh guided_modes", t_moosh, t_ours, modes=str(len(theirs)),
                vs_tavrik=fmt_diff(max(distances, default=0.0)),
                note=f"{starts} starts; {'every one among ours' if found else 'NOT all among ours'}"))
    return min(ratios), all_found, worst


def run(quick):
    timer = Timer(quick)
    report = Report()
    t_start = time.perf_counter()
    w1 = mode_search_workload(report, timer, "1", "slab 1.0/1.5 (d 1)/1.0, omega 2pi", SLAB, [TWO_PI], [1.0],
                              want_all=False, pymoosh_subset=[0])
    w2 = mode_search_workload(report, timer, "2", "SOI air/3.476 (0.22)/1.444, lambda 1.55", SOI,
                              [TWO_PI / 1.55], [1.55], want_all=True, pymoosh_subset=[0])
    w3 = mode_search_workload(report, timer, "3", "12 layers, 1.9/1.6 films on 1.45 under air, omega 2pi",
                              TWELVE, [TWO_PI], [1.0], want_all=True, pymoosh_subset=[0], analytic=False)
    subset = [99] if quick else [0, 28, 57, 85, 114, 142, 171, 199]
    w4 = mode_search_workload(report, timer, "4", "SOI at 200 wavelengths 1.2-2.0", SOI,
                              [TWO_PI / lam for lam in SWEEP], SWEEP, want_all=True, pymoosh_subset=subset)
    w5 = [field_workload(report, timer, n) for n in (650, 100000)]
    w6 = large_pass_workload(report, timer)
    w7 = overhead_workload(report, timer)
    exact_modes_workloads(report, timer, quick)
    w13 = dispersion_workload(report, timer)
    w14 = lossy_workload(report, timer)

    for key, (ratios, analytic_diff, omega) in zip("1234", (w1, w2, w3, w4)):
        if "numpy" in ratios:
            r = ratios["numpy"]
            bound = ""
            if "numpy per search" in ratios:
                bound = (f"every mode = (count + 1) neff calls; per search {ratios['numpy per search']:.1f}x")
            report.target(f"workload {key}: >= 10x faster than numpy", f"{r:.1f}x", ">= 10", r >= 10, bound)
        if "numpy agreement" in ratios:
            d = ratios["numpy agreement"]
            report.target(f"workload {key}: numpy search reproduces tavrik's effective indices",
                          f"max |diff| {d:.1e}", "<= 1e-12", d <= 1e-12)
        if "photonoxide" in ratios:
            r = ratios["photonoxide"]
            report.target(f"workload {key}: neff vs photonoxide (not a target)", f"{r:.2f}x", "-", None)
        if "pymoosh" in ratios:
            r = ratios["pymoosh"]
            report.target(f"workload {key}: >= 100x faster than pymoosh", f"{r:.0f}x", ">= 100", r >= 100)
        if analytic_diff is not None:
            steps = analytic_diff / resolution(omega)
            report.target(f"workload {key}: within the search's resolution of the analytic answer",
                          f"{steps:.2f} step", "<= 1 step (1e-9/omega)", steps <= 1.0)
    ratio, t_field, t_both, t_base, n = w5[1]
    report.target(f"workload 5: field + 7 reads ({n} samples) no slower than 7 lists",
                  f"{ratio:.2f}x (field {fmt_time(t_field)}, lists {fmt_time(t_base)})", ">= 1.0", ratio >= 1.0)
    report.target("workload 5: field+index + 9 reads vs 7 lists (not a target)",
                  f"{t_base / t_both:.2f}x", "-", None)
    report.target("workload 6: peak memory within 20 MB of an idle interpreter", f"+{w6:.2f} MB", "<= 20 MB",
                  w6 <= 20.0)
    t_neff, t_hypot, t_raise, bare, per_round = w7
    report.target("workload 7: bare overhead within 3x of math.hypot", f"{per_round:.2f}x", "<= 3",
                  per_round <= 3.0,
                  bound=f"median of per-round ratios; of the medians {bare / t_hypot:.2f}x; with the exception "
                        f"{t_neff / t_hypot:.2f}x hypot, {t_neff / t_raise:.2f}x a raising math.sqrt")
    sweep_ratio, fd_ratio, fd_worst = w13
    report.target("workload 13: dispersion over 400 omegas <= 0.6 of 400 modes calls", f"{sweep_ratio:.2f}x",
                  "<= 0.6", sweep_ratio <= 0.6, bound="median of per-round ratios, rounds interleaved")
    report.target("workload 13: dispersion >= 100x faster than neff with finite differences", f"{fd_ratio:.0f}x",
                  ">= 100", fd_ratio >= 100, bound=f"finite-difference n_g within {fd_worst:.1e} of the exact one")
    if w14 is not None:
        ratio, all_found, worst = w14
        report.target("workload 14: lossy stacks >= 100x faster than pymoosh", f"{ratio:.0f}x (slowest stack)",
                      ">= 100", ratio >= 100)
        report.target("workload 14: every mode pymoosh finds is among tavrik's",
                      f"{'yes' if all_found else 'no'} (worst relative distance {worst:.1e})", "all, to 1e-8",
                      all_found)
    elapsed = time.perf_counter() - t_start
    return report, elapsed


def machine():
    return {"nproc": os.cpu_count(), "cpu": cpu_model(), "platform": platform.platform(),
            "tavrik": os.path.abspath(tavrik.__file__), **versions()}


def print_table(report, info, elapsed, quick):
    print(f"machine: {info['nproc']} x {info['cpu']}; {info['platform']}")
    print(f"python {info['python']} ({info['implementation']}), numpy {info['numpy']}, scipy {info['scipy']}, "
          f"pymoosh {info['pymoosh']}, photonoxide {info['photonoxide']}; tavrik from {info['tavrik']}")
    print(f"mode: {'quick' if quick else 'full'}; run time {elapsed:.1f} s")
    print("x tavrik = the row's time / tavrik's time on the same workload (the field time on workload 5, "
          "the try/except call on 7)")
    print()
    head = ("wl", "implementation", "median", "x tavrik", "modes", "vs tavrik", "vs analytic", "note")
    rows = []
    for r in report.rows:
        rows.append((r["workload"], r["implementation"], fmt_time(r["seconds"]),
                     "-" if r["ratio"] is None else f"{r['ratio']:.2f}",
                     r["modes"] or "-", r["vs_tavrik"] or "-", r["vs_analytic"] or "-", r["note"]))
    widths = [max(len(str(x[i])) for x in rows + [head]) for i in range(len(head) - 1)]
    line = "  ".join(f"{{:<{w}}}" for w in widths) + "  {}"
    print(line.format(*head))
    print(line.format(*("-" * w for w in widths), "-" * 4))
    for r in rows:
        print(line.format(*r))
    print()
    print("targets:")
    for t in report.targets:
        state = "-" if t["met"] is None else ("met" if t["met"] else "MISSED")
        extra = f"  [{t['bound']}]" if t["bound"] else ""
        print(f"  {state:<6} {t['target']}: {t['figure']} (goal {t['goal']}){extra}")


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="a few repetitions (CI)")
    parser.add_argument("--json", action="store_true", help="print the results as JSON")
    args = parser.parse_args(argv)
    missing = [name for name, mod in (("numpy", numpy_search), ("scipy", brentq), ("pymoosh", MooshStructure),
                                      ("photonoxide", photonoxide)) if mod is None]
    if missing:
        print(f"note: not installed, skipped: {', '.join(missing)} (pip install .[bench])", file=sys.stderr)
    report, elapsed = run(args.quick)
    info = machine()
    if args.json:
        json.dump({"machine": info, "quick": args.quick, "seconds": elapsed, "rows": report.rows,
                   "targets": report.targets}, sys.stdout, indent=2, default=str)
        print()
    else:
        print_table(report, info, elapsed, args.quick)
    return 0


if __name__ == "__main__":
    sys.exit(main())
