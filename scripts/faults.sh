#!/usr/bin/env bash
# The long crash sweep: the program killed at many points of every local
# repair (default 60 per repair) and of every server repair through the
# embedded engine and through the test server (default 20 per repair and
# transport). The test command runs the same tests with fewer points.
#
#   scripts/faults.sh [LOCAL_POINTS [SERVER_POINTS]]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh >/dev/null
export CG_FB_PORT="${CG_FB_PORT:-3057}"
trap "bash '$PWD/scripts/fbserver.sh' stop >/dev/null 2>&1" EXIT
bash scripts/fbserver.sh start
export QT_QPA_PLATFORM=offscreen
export CG_FAULT_POINTS="${1:-60}" CG_FAULT_SERVER_POINTS="${2:-20}"
dir="${BUILD_DIR:-build}"
log="$dir/faults.log"
status=0
"$dir/tests/test_reliability" --gtest_filter='*QuedaLocal*:*QuedaServidor*' >"$log" 2>&1 || status=$?
grep -E 'kill points|Failure|^\[ +(OK|FAILED) +\]|^\[ +PASSED +\]|FAILED TEST' "$log" || true
echo "faults: $([ $status -eq 0 ] && echo 'all held' || echo "FAILED, see $log")"
exit $status
