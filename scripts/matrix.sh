#!/usr/bin/env bash
# Runs the Python test suite on every CPython that pyenv offers from 3.9 up and
# on Debian's PyPy 3: one venv per interpreter under build/matrix (or
# $MATRIX_DIR), the module built and installed into each. A CPython version that
# pyenv does not offer is skipped with a message. Exits non-zero when any
# interpreter fails to build the module or to pass the suite.
#
#   bash scripts/matrix.sh            every interpreter
#   bash scripts/matrix.sh 3.12 pypy  only those
#   bash scripts/matrix.sh --which 3.12   print pyenv's CPython 3.12 (status 1 if none)
set -uo pipefail
cd "$(dirname "$0")/.."
MATRIX_DIR=${MATRIX_DIR:-build/matrix}
CPYTHONS=(3.9 3.10 3.11 3.12 3.13)
PIP=(-m pip install -q --disable-pip-version-check)

wanted=("$@")
[ ${#wanted[@]} -gt 0 ] || wanted=("${CPYTHONS[@]}" pypy)

results=()
failed=0

note() { echo "== $*"; }

# Newest pyenv installation of one minor version (3.12 -> 3.12.1), or nothing.
pyenv_python() {
  command -v pyenv >/dev/null 2>&1 || return 1
  local version
  version=$(pyenv versions --bare 2>/dev/null | grep -E "^${1//./\\.}\.[0-9]+$" | sort -t. -k3,3n | tail -n 1)
  [ -n "$version" ] || return 1
  local python
  python="$(pyenv root)/versions/$version/bin/python"
  [ -x "$python" ] || return 1
  echo "$python"
}

if [ "${1:-}" = --which ]; then
  pyenv_python "${2:?a version such as 3.12}"
  exit
fi

# Debian's PyPy 3 with its venv and headers, installed when missing.
pypy_ready() {
  command -v pypy3 >/dev/null 2>&1 &&
    pypy3 -c 'import ensurepip, os, sysconfig, sys
sys.exit(not os.path.exists(os.path.join(sysconfig.get_paths()["include"], "Python.h")))' 2>/dev/null
}
pypy_python() {
  if ! pypy_ready; then
    note "installing Debian's pypy3, pypy3-dev and pypy3-venv" >&2
    { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq pypy3 pypy3-dev pypy3-venv; } >&2 || return 1
  fi
  command -v pypy3
}

# Builds and installs the module into a venv of `python`, then runs the suite.
run_one() {
  local name=$1 python=$2
  local venv="$MATRIX_DIR/venvs/$name"
  note "$name: $("$python" -c 'import sys; print(sys.version.split()[0], sys.implementation.name)')"
  if [ ! -x "$venv/bin/python" ] || ! "$venv/bin/python" -c '' 2>/dev/null; then
    rm -rf "$venv"
    "$python" -m venv "$venv" || return 1
  fi
  local vpy
  vpy="$(cd "$venv/bin" && pwd)/python"
  "$vpy" "${PIP[@]}" "scikit-build-core>=0.10" || return 1
  cmake --version >/dev/null 2>&1 || "$vpy" "${PIP[@]}" "cmake>=3.20" || return 1
  # The test extra brings pytest and hypothesis; a build directory of its own
  # keeps each interpreter's CMake cache apart.
  "$vpy" "${PIP[@]}" --no-build-isolation --config-settings="build-dir=$MATRIX_DIR/cmake/$name" ".[test]" || return 1
  (cd tests/python && "$vpy" -m pytest -q -p no:cacheprovider -rs)
}

for want in "${wanted[@]}"; do
  if [ "$want" = pypy ]; then
    python=$(pypy_python) || { note "pypy: not available, skipped"; results+=("pypy: SKIPPED (not available)"); continue; }
    name=pypy3
  else
    python=$(pyenv_python "$want") || { note "CPython $want: not offered by pyenv, skipped"; results+=("cpython-$want: SKIPPED (not offered by pyenv)"); continue; }
    name=cpython-$want
  fi
  start=$SECONDS
  if run_one "$name" "$python"; then
    results+=("$name: passed ($((SECONDS - start)) s)")
  else
    results+=("$name: FAILED ($((SECONDS - start)) s)")
    failed=1
  fi
done

note "interpreter matrix"
printf '   %s\n' "${results[@]}"
exit $failed
