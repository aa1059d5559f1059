#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer and runs each for the given
# number of seconds (default 10). A crash fails the script and leaves the
# input that caused it in build-fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-10}
CXX=clang++ cmake -S . -B build-fuzz -DCG_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j 2 >/dev/null
mkdir -p build-fuzz/artifacts
for target in text_fuzz datetime_fuzz script_fuzz cursor_fuzz paradox_fuzz; do
  corpus=build-fuzz/corpus/$target
  mkdir -p "$corpus"
  cp -n fuzz/seeds/$target/* "$corpus"/ 2>/dev/null || true
  out=$(./build-fuzz/fuzz/$target -max_total_time="$SECONDS_EACH" -artifact_prefix=build-fuzz/artifacts/ "$corpus" 2>&1) || {
    echo "$out" | tail -30
    echo "fuzz: $target failed" >&2
    exit 1
  }
  echo "fuzz: $target $(echo "$out" | grep -E '^Done [0-9]+ runs' | tail -1)"
done
