#!/usr/bin/env bash
# Reference leaks on Debian's debug interpreter (python3-dbg): builds the
# extension against its headers and runs the whole pytest suite with it,
# tests/python/test_refleaks.py included (skipped on a release interpreter).
#
#   bash scripts/refleaks.sh [pytest args...]
#
# Environment: DBG_PYTHON (default /usr/bin/python3-dbg), DBG_BUILD_DIR
# (default build-dbg).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

PY=${DBG_PYTHON:-/usr/bin/python3-dbg}
build=${DBG_BUILD_DIR:-build-dbg}
case $build in /*) ;; *) build=$root/$build ;; esac

if ! { [ -x "$PY" ] && "$PY" -c "import pytest, hypothesis, mpmath" 2>/dev/null; }; then
  echo "== installing the debug interpreter, its headers, pytest, hypothesis and mpmath"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq python3-dbg python3-dev \
    python3-pytest python3-hypothesis python3-mpmath
fi
"$PY" -c "import sys; sys.gettotalrefcount()" || { echo "$PY is not a debug interpreter"; exit 1; }

echo "== extension built against $("$PY" -c 'import sysconfig; print(sysconfig.get_paths()["include"])')"
# Debian's debug include directory holds symbolic links into the release one;
# with system-header canonicalisation GCC would follow them and find the
# release pyconfig.h (no Py_DEBUG), and the module's reference counting would
# then be invisible to sys.gettotalrefcount().
cmake -S . -B "$build" -DPython_EXECUTABLE="$PY" -DTAVRIK_BUILD_TESTS=OFF \
  -DCMAKE_CXX_FLAGS=-fno-canonical-system-headers >/dev/null
cmake --build "$build" -j 2
so=$(ls "$build"/tavrik*.so)
symbols=$(nm -D "$so")
if ! grep -q '_Py_RefTotal\|_Py_IncRef' <<<"$symbols"; then
  echo "$so was not compiled with the debug interpreter's reference counting"
  exit 1
fi

cd tests/python
loaded=$(PYTHONPATH="$build" "$PY" -c "import tavrik; print(tavrik.__file__)")
[ "$(realpath "$loaded")" = "$(realpath "$so")" ] || { echo "imported $loaded instead"; exit 1; }
PYTHONPATH="$build" "$PY" -m pytest -q -p no:cacheprovider "$@"
