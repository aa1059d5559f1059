#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
# The server tests go through a private Firebird server on 127.0.0.1 (see
# docs/server.md), started here and stopped at the end whatever the outcome.
export CG_FB_PORT="${CG_FB_PORT:-3057}"
trap "bash '$PWD/scripts/fbserver.sh' stop" EXIT
bash scripts/fbserver.sh start
cd build
# Tests run on the offscreen Qt platform; each makes its own temporary folders.
export QT_QPA_PLATFORM=offscreen
ctest --output-on-failure -j 2 --timeout 600
