#!/usr/bin/env bash
# AddressSanitizer + UndefinedBehaviorSanitizer: builds the C++ core tests and
# the extension with both, runs the core tests with leak detection on, then the
# whole pytest suite against the sanitized extension. Fails on any report.
#
#   bash scripts/sanitize.sh [pytest args...]
#
# Environment: PYTHON (default python3), ASAN_BUILD_DIR (default build-asan),
# TAVRIK_HOSTILE_EXAMPLES (hypothesis examples per hostile-input test, default 250).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

PY=${PYTHON:-python3}
build=${ASAN_BUILD_DIR:-build-asan}
case $build in /*) ;; *) build=$root/$build ;; esac

if [ ! -f /usr/include/gtest/gtest.h ]; then
  echo "== installing libgtest-dev"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq libgtest-dev
fi
if ! "$PY" -c "import pytest, hypothesis, mpmath" 2>/dev/null; then
  echo "== installing pytest, hypothesis and mpmath"
  "$PY" -m pip install -q --disable-pip-version-check "pytest>=7" "hypothesis>=6" "mpmath>=1.2"
fi

echo "== sanitized build in $build"
# float-cast-overflow is not part of -fsanitize=undefined: a double that does not
# fit the integer it is converted to (a sample or mode count) is undefined too.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRIK_SANITIZE=ON \
  -DTAVRIK_BUILD_TESTS=ON -DTAVRIK_BUILD_EXTENSION=ON \
  -DPython_EXECUTABLE="$(command -v "$PY")" \
  -DCMAKE_CXX_FLAGS="-fsanitize=float-cast-overflow -fno-sanitize-recover=all" >/dev/null
cmake --build "$build" -j 2

# Every report goes to a file of its own (one per process, subprocesses
# included) as well as ending the process; the run fails if any file appears.
reports=$build/sanitizer-reports
rm -rf "$reports"
mkdir -p "$reports"
common="halt_on_error=1:abort_on_error=0:exitcode=86:print_stacktrace=1:log_path=$reports/report"
export UBSAN_OPTIONS="$common:report_error_type=1"

fail_on_reports() {
  if compgen -G "$reports/report*" >/dev/null; then
    echo "!! sanitizer reports:"
    cat "$reports"/report*
    exit 1
  fi
}

echo "== C++ core tests (ASan + UBSan, leak detection on)"
# Run the binary directly: one process for all tests keeps the run short.
ASAN_OPTIONS="$common:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1" \
  "$build/core_tests" --gtest_brief=1 > "$build/core_tests.log" 2>&1 || {
  cat "$build/core_tests.log"
  fail_on_reports
  exit 1
}
tail -n 3 "$build/core_tests.log"
fail_on_reports

echo "== Python tests against the sanitized extension"
libasan=$(g++ -print-file-name=libasan.so)
libubsan=$(g++ -print-file-name=libubsan.so)
[ -f "$libasan" ] && [ -f "$libubsan" ] || { echo "sanitizer runtimes not found"; exit 1; }
so=$(ls "$build"/tavrik*.so)
echo "   module: $so"
cd tests/python
# The interpreter is not instrumented: its own allocations at exit are not
# leaks of ours, so leak detection is off; PYTHONMALLOC=malloc sends every
# object through the sanitizer's allocator. The quarantine of freed blocks (what
# catches a use after free) is kept at 8 MB: at the default 256 MB it keeps
# growing the process through the tests that check that memory stays flat.
run_sanitized() {
  LD_PRELOAD="$libasan:$libubsan" PYTHONMALLOC=malloc ASAN_OPTIONS="$common:detect_leaks=0:quarantine_size_mb=8" \
    PYTHONPATH="$build" TAVRIK_HOSTILE_EXAMPLES=${TAVRIK_HOSTILE_EXAMPLES:-250} "$PY" "$@"
}
loaded=$(run_sanitized -c "import tavrik; print(tavrik.__file__)")
[ "$(realpath "$loaded")" = "$(realpath "$so")" ] || { echo "imported $loaded instead"; exit 1; }
status=0
run_sanitized -m pytest -q -p no:cacheprovider "$@" || status=$?
fail_on_reports
exit $status
