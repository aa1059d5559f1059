#!/usr/bin/env bash
# The libraries link one way: no symbol that the lower library needs is
# defined only in the upper one (for example cg_ops needing something of
# cg_form, which would make the repairs unusable without the window).
#
#   bash scripts/link-check.sh LOWER.a UPPER.a
set -euo pipefail
lower=$1 upper=$2
needed=$(nm -u --format=posix "$lower" 2>/dev/null | awk 'NF >= 2 {print $1}' | sort -u)
defined=$(nm --defined-only --format=posix "$upper" 2>/dev/null | awk '$2 ~ /^[TDBRVWu]$/ {print $1}' | sort -u)
up=$(comm -12 <(echo "$needed") <(echo "$defined") || true)
if [ -n "$up" ]; then
  echo "link-check: $(basename "$lower") needs symbols defined in $(basename "$upper"):"
  echo "$up" | c++filt | sed 's/^/  /' | head -20
  exit 1
fi
echo "link-check: $(basename "$lower") needs nothing of $(basename "$upper")"
