#!/usr/bin/env bash
# Builds the wheel with `pip wheel .` into build/wheels, checks what it holds,
# installs it with its test and examples extras into a fresh venv under
# build/wheel-check (or $WHEEL_CHECK_DIR) and runs the Python suite there.
# $PYTHON (default python3) builds and hosts the venv. WHEEL_ABI3=1 builds the
# abi3 wheel for CPython 3.10+ instead of the version-specific one.
set -euo pipefail
cd "$(dirname "$0")/.."
PY=${PYTHON:-python3}
DIR=${WHEEL_CHECK_DIR:-build/wheel-check}
PIP=(-m pip --disable-pip-version-check)

settings=(--config-settings="build-dir=$DIR/cmake")
[ "${WHEEL_ABI3:-0}" = 1 ] && settings+=(--config-settings=wheel.py-api=cp310)

echo "== pip wheel ."
rm -rf build/wheels
"$PY" "${PIP[@]}" wheel -q --no-deps "${settings[@]}" -w build/wheels .
wheels=(build/wheels/tavrik-*.whl)
[ ${#wheels[@]} -eq 1 ] || { echo "expected one tavrik wheel, found: ${wheels[*]}"; exit 1; }
wheel=${wheels[0]}
echo "   $(basename "$wheel")"

echo "== wheel contents and metadata"
"$PY" - "$wheel" <<'EOF'
import sys, zipfile

with zipfile.ZipFile(sys.argv[1]) as whl:
    names = whl.namelist()
    metadata = next(whl.read(n).decode() for n in names if n.endswith(".dist-info/METADATA"))
modules = [n for n in names if n.startswith("tavrik.") and n.endswith(".so")]
problems = []
if len(modules) != 1:
    problems.append(f"expected one extension module at the top level, found {modules}")
for stub in ("tavrik.pyi", "tavrik-stubs/__init__.pyi"):
    if stub not in names:
        problems.append(f"missing {stub}")
for field in ("Name: tavrik", "Version: ", "Summary: ", "License: ", "Requires-Python: >=3.9",
              "Provides-Extra: test", "Provides-Extra: examples", "Classifier: Typing :: Typed"):
    if field not in metadata:
        problems.append(f"metadata lacks {field!r}")
for problem in problems:
    print("   " + problem)
if problems:
    sys.exit(1)
print("   " + ", ".join(sorted(n for n in names if ".dist-info/" not in n)))
EOF

echo "== fresh venv with the wheel and its extras"
rm -rf "$DIR/venv"
"$PY" -m venv "$DIR/venv"
VPY=$(cd "$DIR/venv/bin" && pwd)/python
"$VPY" "${PIP[@]}" install -q "$wheel[test,examples]"

echo "== Python tests against the installed wheel"
cd tests/python
"$VPY" -m pytest -q -p no:cacheprovider "$@"
