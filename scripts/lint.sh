#!/usr/bin/env bash
# Checks the tree's house rules without building: every source file formatted
# as .clang-format says, and every include pointing down a layer
# (docs/architecture.md). Prints each offence; exit 1 when there is one.
#
#   bash scripts/lint.sh          check
#   bash scripts/lint.sh --fix    format the files in place, then check
set -euo pipefail
cd "$(dirname "$0")/.."
status=0

mapfile -t sources < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then clang-format -i "${sources[@]}"; fi
unformatted=()
for f in "${sources[@]}"; do
  clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || unformatted+=("$f")
done
if [ ${#unformatted[@]} -gt 0 ]; then
  echo "lint: not formatted as .clang-format says (bash scripts/lint.sh --fix):"
  printf '  %s\n' "${unformatted[@]}"
  status=1
fi

# What each room may include, lowest layer first. A room includes its own
# headers and those of the rooms below it; tests, fuzz targets, benchmarks
# and the program entry may include anything.
allowed() {
  case "$1" in
    platform/*) echo "platform" ;;
    text/*) echo "platform text" ;;
    data/engine/*) echo "platform data/engine" ;;
    data/paradox/*) echo "platform data/engine data/paradox" ;;
    data/sql/*) echo "platform data/engine data/sql" ;;
    data/journal/*) echo "platform text data/engine data/sql data/journal" ;;
    sample/*) echo "platform text data/engine data/paradox data/sql sample" ;;
    ui/*) echo "platform data/engine ui" ;;
    ops/*) echo "platform text data/engine data/paradox data/sql data/journal ui ops" ;;
    app/form/*) echo "platform text data/engine data/paradox data/sql data/journal ui ops app/form" ;;
    app/cli/*) echo "platform text data/engine data/paradox data/sql data/journal ui ops app/form app/cli" ;;
    app/qt/*) echo "platform text data/engine data/paradox data/sql data/journal ui ops app/form app/qt" ;;
    *) echo "*" ;;
  esac
}
while IFS=: read -r file line text; do
  rooms=$(allowed "$file")
  [ "$rooms" = "*" ] && continue
  target=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]+"([^"]+)".*/\1/' <<<"$text")
  ok=0
  for room in $rooms; do
    case "$target" in "$room"/*) ok=1 ;; esac
  done
  if [ $ok = 0 ]; then
    echo "lint: $file:$line includes \"$target\", which is not below it"
    status=1
  fi
done < <(git grep -n -E '^[[:space:]]*#[[:space:]]*include[[:space:]]+"' -- '*.cpp' '*.h')
exit $status
