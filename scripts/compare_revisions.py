#!/usr/bin/env python3
"""Compare the tavrik module of a git revision with the working tree's, bit for bit.

Both modules are built into venvs of their own under build/compare/ (the
revision from `git archive`, so the working tree is never touched), then each
one evaluates the same cases in a worker process: neff of every mode (TE and
TM, until the "Mode ... not found" message), index() and, for a share of the
stacks, field() of the first modes. Floats are compared by their bits
(float.hex), errors by exception type and message. The cases are thousands of
random stacks of 1 to 30 layers (a few with hostile values: zero, negative
and non-finite indices and thicknesses, odd omegas) plus the worked examples.

    python scripts/compare_revisions.py                    # against cbe2a37
    python scripts/compare_revisions.py --reference main --stacks 500

Exits 0 when every result agrees, 1 on the first differing case (printed).
The Python comparison covers the default Transfer backend; the scattering
backend byte is settable from the core tests only.
"""

import argparse
import json
import math
import os
import random
import subprocess
import sys
import tempfile
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
DEFAULT_REFERENCE = "cbe2a37"

WORKED = [
    # (layers, omega): the slabs of the tests and the README's first use.
    ([(1.0, 0.0), (1.5, 1.0), (1.0, 0.0)], 2 * math.pi),
    ([(1.0, 0.0), (2.0, 0.5), (1.45, 0.0)], 2 * math.pi),
    ([(1.0, 1.0), (3.476, 0.22), (1.444, 1.0)], 2 * math.pi / 1.55),
]

HOSTILE_N = [0.0, -1.5, float("nan"), float("inf"), 1e300, 5e-324]
HOSTILE_D = [-0.5, float("nan"), float("inf"), 0.0, 1e-12]
HOSTILE_OMEGA = [0.0, -2.0, float("nan"), float("inf"), 1e-6]


def random_cases(count, seed):
    rng = random.Random(seed)
    cases = [{"layers": layers, "omega": omega, "plot_step": 0.01, "field": True}
             for layers, omega in WORKED]
    for k in range(count):
        size = rng.randint(1, 30)
        n_max = rng.uniform(1.05, 3.6 if size < 8 else 2.2)
        layers = [(rng.uniform(1.0, n_max), rng.uniform(0.0, 1.2 if size < 10 else 0.4))
                  for _ in range(size)]
        # Claddings mostly below the films, so that most stacks guide.
        for j in (0, size - 1):
            if rng.random() < 0.8:
                layers[j] = (rng.uniform(1.0, 1.0 + 0.4 * (n_max - 1.0)), layers[j][1])
        omega = rng.uniform(0.5, 8.0 if size < 10 else 4.0)
        if k % 25 == 0:  # hostile values
            j = rng.randrange(size)
            if rng.random() < 0.5:
                layers[j] = (rng.choice(HOSTILE_N), layers[j][1])
            else:
                layers[j] = (layers[j][0], rng.choice(HOSTILE_D))
        if k % 40 == 1:
            omega = rng.choice(HOSTILE_OMEGA)
        cases.append({"layers": layers, "omega": omega,
                      "plot_step": rng.choice([0.005, 0.01, 0.02]),
                      "field": k % 5 == 0})
    return cases


# Runs inside each venv: reads cases as JSON on stdin, writes one JSON line of
# results per case. Floats travel as float.hex() so that every bit is kept.
WORKER = r'''
import json, math, sys
import tavrik

def h(x):
    return float(x).hex()

def outcome(call):
    try:
        return ["ok", call()]
    except KeyboardInterrupt:
        raise
    except BaseException as error:
        return ["error", type(error).__name__, str(error)]

def grid_size(layers, step):
    total = sum(d for _, d in layers)
    return total / step if step > 0 else math.inf

def run(case):
    layers = [tavrik.Layer(n, d) for n, d in case["layers"]]
    stack = tavrik.MultiLayer(layers)
    stack.plot_step = case["plot_step"]
    omega = case["omega"]
    out = {}
    for pol in (tavrik.Polarization.TE, tavrik.Polarization.TM):
        neffs = []
        for mode in range(200):
            r = outcome(lambda: h(stack.neff(omega, pol, mode)))
            neffs.append(r)
            if r[0] != "ok":
                break
        out["neff %d" % int(pol)] = neffs
        if case["field"]:
            # Grids of more than a few hundred thousand samples are not worth
            # the time (and a hostile thickness may ask for far more).
            size = grid_size(case["layers"], case["plot_step"])
            if not (size < 3e5):
                continue
            fields = []
            for mode in range(min(len(neffs), 3)):
                def f():
                    fd = stack.field(omega, pol, mode)
                    parts = [[h(x) for x in fd.x]]
                    for name in ("Ex", "Ey", "Ez", "Hx", "Hy", "Hz"):
                        parts.append([h(c.real) + "," + h(c.imag) for c in getattr(fd, name)])
                    return parts
                fields.append(outcome(f))
            out["field %d" % int(pol)] = fields
    if grid_size(case["layers"], case["plot_step"]) < 3e5:
        out["index"] = outcome(lambda: [[h(v) for v in p] for p in
                                        (stack.index().x, stack.index().n)])
    return out

for line in sys.stdin:
    print(json.dumps(run(json.loads(line))), flush=True)
'''


def sh(*args, **kw):
    subprocess.run(args, check=True, **kw)


def build(source, name, python):
    """Install the module from `source` into build/compare/<name>/venv."""
    base = ROOT / "build" / "compare" / name
    venv = base / "venv"
    vpy = venv / "bin" / "python"
    if not vpy.exists():
        sh(python, "-m", "venv", str(venv))
        sh(str(vpy), "-m", "pip", "install", "-q", "--disable-pip-version-check",
           "scikit-build-core>=0.10")
    print(f"== building {name} from {source}", flush=True)
    sh(str(vpy), "-m", "pip", "install", "-q", "--disable-pip-version-check",
       "--no-build-isolation", "--force-reinstall", "--no-deps",
       f"--config-settings=build-dir={base / 'cmake'}", str(source))
    return vpy


def export_revision(rev):
    commit = subprocess.run(["git", "-C", str(ROOT), "rev-parse", "--short", rev],
                            check=True, capture_output=True, text=True).stdout.strip()
    target = ROOT / "build" / "compare" / f"rev-{commit}" / "src"
    if not target.exists():
        target.mkdir(parents=True)
        archive = subprocess.run(["git", "-C", str(ROOT), "archive", commit],
                                 check=True, capture_output=True).stdout
        subprocess.run(["tar", "-x", "-C", str(target)], input=archive, check=True)
    return commit, target


def evaluate(vpy, cases):
    with tempfile.TemporaryFile("w+") as errors:
        proc = subprocess.run([str(vpy), "-c", WORKER], input="".join(json.dumps(c) + "\n" for c in cases),
                              capture_output=False, stdout=subprocess.PIPE, stderr=errors,
                              text=True, cwd=tempfile.gettempdir())
    if proc.returncode != 0:
        sys.exit(f"worker {vpy} failed with status {proc.returncode}")
    return [json.loads(line) for line in proc.stdout.splitlines()]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--reference", default=DEFAULT_REFERENCE, help="git revision to compare with")
    parser.add_argument("--stacks", type=int, default=3000, help="random stacks (default 3000)")
    parser.add_argument("--seed", type=int, default=12)
    parser.add_argument("--python", default=sys.executable, help="interpreter that hosts the venvs")
    parser.add_argument("--no-field", action="store_true",
                        help="compare neff, messages and index only (for revisions whose field differs on purpose)")
    args = parser.parse_args()

    commit, source = export_revision(args.reference)
    cases = random_cases(args.stacks, args.seed)
    if args.no_field:
        for case in cases:
            case["field"] = False
    reference_py = build(source, f"rev-{commit}", args.python)
    candidate_py = build(ROOT, "worktree", args.python)

    print(f"== evaluating {len(cases)} stacks in both modules", flush=True)
    chunks = [cases[i::2] for i in range(2)]
    with ThreadPoolExecutor(2) as pool:
        ref = pool.map(lambda c: evaluate(reference_py, c), chunks)
        cand = pool.map(lambda c: evaluate(candidate_py, c), chunks)
        ref, cand = list(ref), list(cand)
    ordered = [c for chunk in chunks for c in chunk]
    ref = [r for chunk in ref for r in chunk]
    cand = [r for chunk in cand for r in chunk]

    counts = {"neff": 0, "errors": 0, "field": 0, "index": 0}
    for case, a, b in zip(ordered, ref, cand):
        if a != b:
            print(f"DIFFERENT for {json.dumps(case)}")
            for key in sorted(set(a) | set(b)):
                if a.get(key) != b.get(key):
                    print(f"  {key}: {str(a.get(key))[:300]}\n  vs {str(b.get(key))[:300]}")
            return 1
        for key, value in a.items():
            if key.startswith("neff"):
                counts["neff"] += sum(r[0] == "ok" for r in value)
                counts["errors"] += sum(r[0] == "error" for r in value)
            elif key.startswith("field"):
                counts["field"] += len(value)
            else:
                counts["index"] += 1
    if len(ref) != len(cases) or len(cand) != len(cases):
        sys.exit("a worker returned fewer results than cases")
    print(f"identical: {len(cases)} stacks ({len(WORKED)} worked examples), "
          f"{counts['neff']} neff values, {counts['errors']} errors and messages, "
          f"{counts['field']} field calls, {counts['index']} index profiles; reference {commit}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
