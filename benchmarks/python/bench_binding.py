"""Cost of the Python binding itself: two builds of the module, side by side.

    python benchmarks/python/bench_binding.py BASE_DIR CANDIDATE_DIR [--rounds N]

Each directory holds a built `tavrik` extension (a CMake build directory or a
site-packages). Every case is timed in a fresh interpreter with that directory
first on the path, alternating between the two builds round after round; the
best time per call of each build is kept, and the ratio candidate / base is
printed. The cases exercise only the binding: argument fitting and conversion,
raising the search's failure, and building result lists. The search itself is
kept trivial (a stack with equal indices has an empty scan range), so the
ratios are not diluted by the numerics, which are the same code in both builds.
"""

import argparse
import json
import os
import subprocess
import sys

CASES = r"""
import json, sys, timeit
import tavrik
from tavrik import Layer, MultiLayer, Polarization

flat = MultiLayer([Layer(1.0, 1.0), Layer(1.0, 1.0)])       # empty scan range: no mode
slab = MultiLayer([Layer(1.444, 2.0), Layer(3.476, 0.22), Layer(1.0, 2.0)])
slab.plot_step = 0.0005                                     # 8440 samples
field = slab.field(2 * 3.141592653589793 / 1.55)
profile = slab.index()
TE = Polarization.TE

def neff_call():
    try:
        flat.neff(1.0, polarization=TE, mode=0)
    except Exception:
        pass

cases = {
    "Layer(n, d) construction": (lambda: Layer(1.5, 0.22), 20000),
    "neff(omega, polarization=, mode=) to its failure": (neff_call, 20000),
    "FieldData.Ey (8440 complex)": (lambda: field.Ey, 200),
    "FieldData.x (8440 float)": (lambda: field.x, 200),
    "IndexData.n (8440 float)": (lambda: profile.n, 200),
}
best = {}
for name, (body, number) in cases.items():
    body()
    best[name] = min(timeit.repeat(body, number=number, repeat=5)) / number * 1e9
print(json.dumps({"module": tavrik.__file__, "ns": best}))
"""


def run(directory):
    env = dict(os.environ, PYTHONPATH=os.path.abspath(directory))
    out = subprocess.run([sys.executable, "-c", CASES], env=env, check=True, capture_output=True, text=True)
    return json.loads(out.stdout)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("base")
    parser.add_argument("candidate")
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()

    best = {"base": {}, "candidate": {}}
    modules = {}
    for _ in range(args.rounds):
        for key in ("base", "candidate"):
            result = run(getattr(args, key))
            modules[key] = result["module"]
            for name, ns in result["ns"].items():
                best[key][name] = min(ns, best[key].get(name, float("inf")))

    print(f"python     {sys.version.split()[0]}")
    print(f"base       {modules['base']}")
    print(f"candidate  {modules['candidate']}")
    width = max(len(name) for name in best["base"])
    print(f"{'case':<{width}}  {'base ns':>10}  {'cand. ns':>10}  {'ratio':>6}")
    for name, base_ns in best["base"].items():
        cand_ns = best["candidate"][name]
        print(f"{name:<{width}}  {base_ns:>10.1f}  {cand_ns:>10.1f}  {cand_ns / base_ns:>6.3f}")


if __name__ == "__main__":
    main()
