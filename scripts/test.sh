#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite: a short
# fuzz of the parsers, the suite under AddressSanitizer and
# UndefinedBehaviorSanitizer (build-asan), then the suite on the Release
# build. The last line is CTest's summary of the Release run; a failure of an
# earlier stage ends the script there, with that stage's output last.
set -euo pipefail
cd "$(dirname "$0")/.."
export CCACHE_BASEDIR="$PWD"
bash scripts/install-deps.sh
bash scripts/build.sh
# The server tests go through a private Firebird server on 127.0.0.1 (see
# docs/server.md), started here and stopped at the end whatever the outcome.
export CG_FB_PORT="${CG_FB_PORT:-3057}"
trap "bash '$PWD/scripts/fbserver.sh' stop >/dev/null 2>&1" EXIT
bash scripts/fbserver.sh start
# When a run fails, what each failing test printed comes before CTest's
# summary, so that the end of the output says why and not only which.
failure_report() {
  grep -E -B3 -A30 'Failure$|\[  FAILED  \]|what\(\)|exception|ERROR: AddressSanitizer|runtime error' "$1" |
    grep -v -E '^\[  FAILED  \] [0-9]+ tests?, listed below|^ ?[0-9]+ FAILED TESTS?$' | head -150 || true
  echo "----"
  tail -20 "$1"
}
# Tests run on the offscreen Qt platform; each makes its own temporary folders.
export QT_QPA_PLATFORM=offscreen

# A short run of every fuzz target (clang's libFuzzer, build-fuzz); a longer
# one is described in docs/reliability.md.
bash scripts/fuzz.sh "${CG_FUZZ_SECONDS:-10}"

# The same suite under the sanitizers. Leaks that the Firebird client keeps
# for the life of the process are suppressed (tests/sanitizer/lsan.supp);
# any undefined behaviour stops the process. The crash sweep runs with fewer
# points here: the Release run below makes the full one.
# -O1: the usual level for AddressSanitizer, and a shorter build. GCC's
# maybe-uninitialized analysis gives false alarms inside the standard library
# (<regex>, std::function) under the sanitizers' instrumentation; it stays on
# in the Release build.
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Release -DCG_SANITIZE=ON "-DCMAKE_CXX_FLAGS_RELEASE=-O1 -DNDEBUG" \
  -DCMAKE_CXX_FLAGS=-Wno-maybe-uninitialized >/dev/null
cmake --build build-asan -j "$(nproc)" >build-asan/build.log 2>&1 || {
  tail -50 build-asan/build.log
  exit 1
}
echo "sanitizers: ctest in build-asan"
(
  cd build-asan
  export LSAN_OPTIONS="suppressions=$PWD/../tests/sanitizer/lsan.supp:print_suppressions=0"
  export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
  export ASAN_OPTIONS="detect_leaks=1"
  export CG_FAULT_POINTS=4 CG_FAULT_SERVER_POINTS=2
  ctest --output-on-failure -j 2 --timeout 900 >../build-asan/ctest.log 2>&1 || {
    failure_report ../build-asan/ctest.log
    exit 1
  }
  grep -E '^[0-9]+% tests passed' ../build-asan/ctest.log | sed 's/^/sanitizers: /'
)

cd "${BUILD_DIR:-build}"
ctest --output-on-failure -j 2 --timeout 600 >ctest.log 2>&1 || {
  failure_report ctest.log
  exit 1
}
tail -4 ctest.log
