#!/usr/bin/env bash
# Installs the Debian packages the program, its tests and its benchmarks need.
# Non-interactive; packages already installed are skipped.
set -euo pipefail

PACKAGES=(
  build-essential cmake ccache pkg-config
  qt6-base-dev libqt6sql6-sqlite
  qt6-translations-l10n
  libsqlite3-dev sqlite3
  firebird3.0-server firebird3.0-server-core firebird3.0-utils libfbclient2 firebird-dev
  fonts-liberation fonts-dejavu-core
  xvfb xauth x11-apps imagemagick
  googletest libgtest-dev
  clang libclang-rt-14-dev clang-format
  time procps
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]}" >&2
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
# The Firebird server package asks for a SYSDBA password through debconf; answer it
# in advance and keep the package from starting a system service we do not use.
echo "firebird3.0-server shared/firebird/enabled boolean false" | $SUDO debconf-set-selections || true
echo "firebird3.0-server shared/firebird/sysdba_password/first_install password corvidane" | $SUDO debconf-set-selections || true
$SUDO apt-get update -qq </dev/null >&2
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null >&2
