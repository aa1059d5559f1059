#!/usr/bin/env bash
# Configures and builds into build/ (Release, ccache when present).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
# Paths relative to the checkout in ccache's keys, so that another clone of
# the project (CI makes a fresh one) reuses the compiled objects.
export CCACHE_BASEDIR="$PWD"
# The tests are built unless CG_BUILD_TESTS=OFF (the run command builds only
# the program: a machine set up to run it has no GoogleTest). Said every time,
# so that one folder serves both commands.
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-Release} -DCG_BUILD_TESTS=${CG_BUILD_TESTS:-ON} \
  ${CMAKE_EXTRA_ARGS:-} >/dev/null
cmake --build "$BUILD_DIR" -j "$(nproc)"
