#!/usr/bin/env bash
# Checks the typed API: mypy's stubtest compares src/python/tavrik.pyi (installed
# beside the module) with the built module, and mypy type-checks the examples.
# Works in a venv of its own under build/stubtest (or $STUBTEST_DIR), made from
# $PYTHON (default python3), with the module and the examples extra installed.
set -euo pipefail
cd "$(dirname "$0")/.."
PY=${PYTHON:-python3}
DIR=${STUBTEST_DIR:-build/stubtest}
PIP=(-m pip install -q --disable-pip-version-check)

if [ ! -x "$DIR/venv/bin/python" ] || ! "$DIR/venv/bin/python" -c '' 2>/dev/null; then
  rm -rf "$DIR/venv"
  "$PY" -m venv "$DIR/venv"
fi
VPY=$DIR/venv/bin/python

echo "== installing mypy and the module"
"$VPY" "${PIP[@]}" "scikit-build-core>=0.10" "mypy>=1.10"
"$VPY" "${PIP[@]}" --no-build-isolation --config-settings="build-dir=$DIR/cmake" ".[examples]"

echo "== stubtest"
# Run outside the tree so that the installed module and stub are the ones
# checked. No allowlist: every difference is reported.
(cd "$DIR" && "$PWD/venv/bin/python" -m mypy.stubtest tavrik)
cmp "$("$VPY" -c 'import sysconfig; print(sysconfig.get_paths()["platlib"])')/tavrik.pyi" src/python/tavrik.pyi

echo "== mypy examples/"
"$VPY" -m mypy --strict --no-incremental examples/
