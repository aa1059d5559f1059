#!/usr/bin/env bash
# The longer check of the simulations: every repair simulated on the
# quarter-size sample, through the embedded engine and through the test
# server, compared row for row with a real run on a copy, every file and
# server row as before afterwards. About nine minutes on two cores; the
# test command runs the same check on the small sample.
#
#   scripts/simulation-check.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh >/dev/null
export CG_FB_PORT="${CG_FB_PORT:-3057}"
trap "bash '$PWD/scripts/fbserver.sh' stop >/dev/null 2>&1" EXIT
bash scripts/fbserver.sh start
export QT_QPA_PLATFORM=offscreen
dir="${BUILD_DIR:-build}"
cd "$dir"
status=0
ctest -j 2 --timeout 1800 -R 'SimulacaoQuarto' >simulation-check.log 2>&1 || status=$?
grep -E 'tests passed|\*\*\*Failed|Timeout' simulation-check.log || true
exit $status
