#!/usr/bin/env bash
# install_test.sh BUILD_DIR VERSION: installs the build into a temporary
# prefix and runs the installed program from there: --version, then a script
# on a sample installation it creates.
set -euo pipefail
BUILD=$1 VERSION=$2
WORK=$(mktemp -d "${TMPDIR:-/tmp}/consistgeral-install-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
fail() { echo "install test: $*" >&2; exit 1; }

cmake --install "$BUILD" --prefix "$WORK/prefix" >"$WORK/install.log" || { cat "$WORK/install.log"; fail "install failed"; }
BIN=$WORK/prefix/bin/consistgeral
[ -x "$BIN" ] || fail "no program in bin/"
for f in share/applications/consistgeral.desktop share/icons/hicolor/scalable/apps/consistgeral.svg \
         share/doc/consistgeral/README.md share/doc/consistgeral/runner.md; do
  [ -s "$WORK/prefix/$f" ] || fail "missing $f"
done
grep -qx 'Exec=consistgeral' "$WORK/prefix/share/applications/consistgeral.desktop" || fail "desktop entry: Exec"
grep -qx 'Icon=consistgeral' "$WORK/prefix/share/applications/consistgeral.desktop" || fail "desktop entry: Icon"

# The installed program, from somewhere else than the build tree.
cd "$WORK"
[ "$("$BIN" --version)" = "consistgeral $VERSION" ] || fail "--version: $("$BIN" --version)"
"$BIN" --drive-c "$WORK/c" --create-sample >/dev/null || fail "sample not created"
printf 'click BitBtn7\nclick BotSair\n' | "$BIN" --drive-c "$WORK/c" --script - >"$WORK/t.jsonl" \
  || fail "script run failed: $(cat "$WORK/t.jsonl")"
expected='{"event":"message","text":"Procedimento concluído. 22 CNPJs foram corrigidos."}
{"event":"closed"}'
[ "$(cat "$WORK/t.jsonl")" = "$expected" ] || fail "transcript: $(cat "$WORK/t.jsonl")"
# Without a screen the installed program refuses to start, and says why.
set +e
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$BIN" --drive-c "$WORK/c" 2>"$WORK/err.txt"
rc=$?
set -e
[ $rc -eq 1 ] || fail "start without a screen: exit $rc"
grep -q -- '--script' "$WORK/err.txt" || fail "start without a screen: $(cat "$WORK/err.txt")"
echo "install test: passed"
