#!/usr/bin/env bash
# Installs what is missing, builds, creates the sample installation on first
# run, and starts the program on it. Without a screen nothing runs on drive
# C: the demonstration runs instead, on a sample installation of its own in a
# temporary folder (consistgeral --demo).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh runtime build
CG_BUILD_TESTS=OFF bash scripts/build.sh
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ] && [ $# -eq 0 ]; then
  echo "run: sem tela; demonstração numa instalação de exemplo temporária (consistgeral --demo)" >&2
  exec ./build/consistgeral --demo
fi
DRIVE_C=${DRIVE_C:-$HOME/.local/share/consistgeral/drive_c}
if [ ! -d "$DRIVE_C/VITRALON" ]; then
  echo "run: criando a instalação de exemplo em $DRIVE_C" >&2
  ./build/consistgeral --drive-c "$DRIVE_C" --create-sample
fi
exec ./build/consistgeral --drive-c "$DRIVE_C" "$@"
