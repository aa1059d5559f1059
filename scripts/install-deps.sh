#!/usr/bin/env bash
# Installs the Debian packages the program needs to run, to be built, and to
# be tested and measured. Non-interactive; packages already installed are
# skipped.
#
#   bash scripts/install-deps.sh            everything (runtime, build, test)
#   bash scripts/install-deps.sh runtime    only what the installed program needs
#   bash scripts/install-deps.sh runtime build   to build it as well
set -euo pipefail

# What the program loads or starts when it runs (the Debian package declares
# the same): Qt's widgets and platform plugins, its SVG plugins that draw the
# window's icon, SQLite and its shell (the command files FormatCli.bat and
# FormatMed.bat call it), the Firebird client and its embedded engine, the
# faces that stand for Arial.
RUNTIME=(
  libqt6widgets6 qt6-qpa-plugins qt6-translations-l10n libqt6svg6
  libsqlite3-0 sqlite3
  libfbclient2 firebird3.0-server-core
  fonts-liberation fonts-dejavu-core
)
# To build it, check its format, and make the Debian package.
BUILD=(
  build-essential cmake ccache pkg-config dpkg-dev
  qt6-base-dev libqt6sql6-sqlite
  libsqlite3-dev firebird-dev
  clang-format
)
# To test and measure it: the test server, a virtual X server for pictures,
# GoogleTest, the sanitizers and fuzzers, timing tools, the Debian package's
# checker (the install test runs it).
TEST=(
  firebird3.0-server firebird3.0-utils
  xvfb xauth x11-apps imagemagick
  googletest libgtest-dev
  clang libclang-rt-14-dev
  time procps
  lintian
)

groups=("$@")
[ ${#groups[@]} -eq 0 ] && groups=(runtime build test)
PACKAGES=()
for g in "${groups[@]}"; do
  case "$g" in
    runtime) PACKAGES+=("${RUNTIME[@]}") ;;
    build) PACKAGES+=("${BUILD[@]}") ;;
    test) PACKAGES+=("${TEST[@]}") ;;
    *) echo "install-deps: unknown group $g (runtime, build, test)" >&2; exit 2 ;;
  esac
done

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
