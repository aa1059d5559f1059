#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
cd build
# Tests run on the offscreen Qt platform; each makes its own temporary folders.
export QT_QPA_PLATFORM=offscreen
ctest --output-on-failure -j 2 --timeout 600
