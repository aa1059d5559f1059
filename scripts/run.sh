#!/usr/bin/env bash
# Installs what is missing, builds, creates the sample installation on first
# run, and starts the program on it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
DRIVE_C=${DRIVE_C:-$HOME/.local/share/consistgeral/drive_c}
exec ./build/consistgeral --drive-c "$DRIVE_C" "$@"
