#!/usr/bin/env bash
# Installs what is missing, builds, creates the sample installation on first
# run, and starts the program on it. Without a screen the program says so,
# writes a picture of the window and shows a short run without a window.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
DRIVE_C=${DRIVE_C:-$HOME/.local/share/consistgeral/drive_c}
if [ ! -d "$DRIVE_C/VITRALON" ]; then
  echo "run: criando a instalação de exemplo em $DRIVE_C" >&2
  ./build/consistgeral --drive-c "$DRIVE_C" --create-sample
fi
exec ./build/consistgeral --drive-c "$DRIVE_C" "$@"
