#!/usr/bin/env bash
# install_test.sh BUILD_DIR VERSION: installs the build into a temporary
# prefix and runs the installed program from there: --version, then a script
# on a sample installation it creates. Then makes the Debian package of the
# build (CPack, into a folder of its own) and checks it: what it depends on,
# the files it holds, the program stripped with its symbols in the dbgsym
# package, and no error from lintian.
set -euo pipefail
BUILD=$1 VERSION=$2
SOURCE=$(cd "$(dirname "$0")/../.." && pwd)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/consistgeral-install-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
fail() { echo "install test: $*" >&2; exit 1; }

cmake --install "$BUILD" --prefix "$WORK/prefix" >"$WORK/install.log" || { cat "$WORK/install.log"; fail "install failed"; }
BIN=$WORK/prefix/bin/consistgeral
[ -x "$BIN" ] || fail "no program in bin/"
docs=(share/doc/consistgeral/README.md share/doc/consistgeral/copyright share/doc/consistgeral/changelog.Debian.gz)
for page in "$SOURCE"/docs/*.md; do docs+=("share/doc/consistgeral/$(basename "$page")"); done
for f in share/applications/consistgeral.desktop share/icons/hicolor/scalable/apps/consistgeral.svg \
         share/man/man1/consistgeral.1.gz "${docs[@]}"; do
  [ -s "$WORK/prefix/$f" ] || fail "missing $f"
done
# The manual page names every option that --help lists.
MAN=$WORK/prefix/share/man/man1/consistgeral.1.gz
gzip -t "$MAN" || fail "manual page: not gzip"
# In its source a hyphen is "\-"; "--sim" is not found in "--simular".
zcat "$MAN" >"$WORK/man.txt"
for option in $("$WORK/prefix/bin/consistgeral" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
  grep -qE -- "${option//-/\\\\-}([^a-z\\]|$)" "$WORK/man.txt" || fail "manual page: no $option"
done
zcat "$MAN" | grep -q "^\.TH CONSISTGERAL 1 .*\"consistgeral $VERSION\"" || fail "manual page: not for $VERSION"
head -1 "$WORK/prefix/share/doc/consistgeral/copyright" |
  grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' || fail "copyright: format"
zcat "$WORK/prefix/share/doc/consistgeral/changelog.Debian.gz" | head -1 | grep -q "^consistgeral ($VERSION-" ||
  fail "changelog: $(zcat "$WORK/prefix/share/doc/consistgeral/changelog.Debian.gz" | head -1)"
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

# The Debian package of the same build.
cpack -G DEB --config "$BUILD/CPackConfig.cmake" -B "$WORK/pkg" >"$WORK/cpack.log" 2>&1 ||
  { tail -30 "$WORK/cpack.log"; fail "cpack failed"; }
ARCH=$(dpkg --print-architecture)
DEB=$WORK/pkg/consistgeral_$VERSION-1_$ARCH.deb
DBGSYM=$WORK/pkg/consistgeral-dbgsym_$VERSION-1_$ARCH.ddeb
[ -s "$DEB" ] || fail "no package $(basename "$DEB"): $(ls "$WORK/pkg")"
[ -s "$DBGSYM" ] || fail "no symbols package $(basename "$DBGSYM"): $(ls "$WORK/pkg")"
field() { dpkg-deb -f "$DEB" "$1"; }
depends=", $(field Depends),"
for needed in sqlite3 firebird3.0-server-core; do
  [[ $depends == *", $needed,"* || $depends == *", $needed ("* ]] || fail "Depends lacks $needed: $(field Depends)"
done
if [ -s "$WORK/prefix/share/applications/consistgeral.desktop" ]; then
  [[ $depends == *", libqt6svg6,"* ]] || fail "Depends lacks libqt6svg6 (the window's icon): $(field Depends)"
fi
[ "$(field Maintainer)" = "Consistência Geral BD <suporte@consistgeral.com.br>" ] || fail "Maintainer: $(field Maintainer)"
[ "$(field Version)" = "$VERSION-1" ] || fail "Version: $(field Version)"
dpkg-deb -x "$DEB" "$WORK/root"
for f in bin/consistgeral share/applications/consistgeral.desktop share/man/man1/consistgeral.1.gz "${docs[@]}"; do
  [ -e "$WORK/root/usr/$f" ] || fail "package: missing /usr/$f"
  [ -e "$WORK/prefix/$f" ] || fail "package: /usr/$f is not installed by cmake --install"
done
# Stripped, naming its symbols by build id and debug link; the symbols are in
# the dbgsym package, where a debugger looks for them.
PROGRAM=$WORK/root/usr/bin/consistgeral
sections=$(readelf -SW "$PROGRAM")
grep -qE ' \.symtab | \.debug_' <<<"$sections" && fail "the packaged program is not stripped"
grep -q ' \.gnu_debuglink ' <<<"$sections" || fail "the packaged program has no debug link"
build_id=$(readelf -n "$PROGRAM" | sed -n 's/^ *Build ID: *//p')
[ -n "$build_id" ] || fail "the packaged program has no build id"
dpkg-deb -x "$DBGSYM" "$WORK/dbgsym"
SYMBOLS=$WORK/dbgsym/usr/lib/debug/.build-id/${build_id:0:2}/${build_id:2}.debug
[ -s "$SYMBOLS" ] || fail "no symbols for build id $build_id"
readelf -SW "$SYMBOLS" | grep -q ' \.symtab ' || fail "the symbols file has no symbol table"
[ "$("$PROGRAM" --version)" = "consistgeral $VERSION" ] || fail "packaged program: --version"
# lintian: no error on either package.
command -v lintian >/dev/null || fail "lintian is not installed (bash scripts/install-deps.sh test)"
lintian "$DEB" "$DBGSYM" >"$WORK/lintian.txt" 2>&1 || true
if grep -q '^E: ' "$WORK/lintian.txt"; then
  grep '^E: ' "$WORK/lintian.txt" >&2
  fail "lintian found errors"
fi
echo "install test: passed"
