#!/usr/bin/env bash
# Installs what the tests need, builds the module and the C++ core tests, and
# runs every test (CTest, then pytest). Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

PY=${PYTHON:-python3}

need_apt=()
[ -f /usr/include/gtest/gtest.h ] || need_apt+=(libgtest-dev)
if [ ${#need_apt[@]} -gt 0 ]; then
  echo "== installing Debian packages: ${need_apt[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need_apt[@]}"
fi

echo "== installing build and test dependencies"
"$PY" -m pip install -q --disable-pip-version-check "scikit-build-core>=0.10" "pytest>=7" "hypothesis>=6" "mpmath>=1.2"

echo "== C++ core tests"
cmake -S . -B build/core-tests -DTAVRIK_BUILD_EXTENSION=OFF -DTAVRIK_BUILD_TESTS=ON >/dev/null
cmake --build build/core-tests -j 2
if ! ctest --test-dir build/core-tests --output-on-failure -j 2 > build/core-tests/ctest.log 2>&1; then
  cat build/core-tests/ctest.log
  exit 1
fi
tail -n 3 build/core-tests/ctest.log

echo "== building and installing the module"
"$PY" -m pip install -q --disable-pip-version-check --no-build-isolation .

echo "== Python tests"
cd tests/python   # import the installed module, never a stray build in the tree
"$PY" -m pytest -q -p no:cacheprovider "$@"
