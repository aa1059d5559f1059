#!/usr/bin/env bash
# Takes a picture of the real window under a virtual X server (Xvfb): builds
# if needed, creates the sample installation on first use, then writes the
# window, after its first activation, to a PNG (default build/janela.png).
set -euo pipefail
cd "$(dirname "$0")/.."
OUT=${1:-build/janela.png}
BUILD_DIR=${BUILD_DIR:-build}
DRIVE_C=${DRIVE_C:-$HOME/.local/share/consistgeral/drive_c}
[ -x "$BUILD_DIR/consistgeral" ] || bash scripts/build.sh
if [ ! -d "$DRIVE_C/VITRALON" ]; then
  "$BUILD_DIR/consistgeral" --drive-c "$DRIVE_C" --create-sample
fi
unset QT_QPA_PLATFORM
xvfb-run -a -s "-screen 0 1024x768x24" "$BUILD_DIR/consistgeral" --drive-c "$DRIVE_C" --screenshot "$OUT"
