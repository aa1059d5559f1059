#!/usr/bin/env bash
# Benchmarks every repair on a large pharmacy against the set-based SQL a
# database administrator would write (or its lower bound), on the same data.
#
#   bash scripts/bench.sh [NAME...]                 all repairs, or only those named
#   bash scripts/bench.sh --scale huge [NAME...]    the same on the huge sample
#
# The large and the quarter-size sample installations are made once and kept
# under build-bench/ (CG_BENCH_DIR); with --scale huge, the huge one (ten
# times the large) and the large one, and every repair, local or server, is
# also timed on the large sample for the growth of its time (about 10 when
# it grows linearly). For each repair and each run: a fresh
# copy of the tables the repair touches, the repair through the headless
# runner, timed as a whole process with its peak resident memory; then
# another fresh copy and the set-based statements through sqlite3 or isql-fb;
# both copies must end with the same data where the two are equivalent.
# Runs alternate (repair, baseline, repair, ...); the table shows medians.
#
# Environment: CG_BENCH_RUNS (3), CG_BENCH_DIR (build-bench), BUILD_DIR
# (build; built first unless CG_BENCH_NO_BUILD=1), CG_BENCH_NO_QUARTER=1 to
# skip the scaling runs. CG_BENCH_SIMULATE=1 also times each repair run as a
# simulation (the same script after `simulate on`, on a fresh copy) and checks
# that the simulated copy ends as it began; a second table compares the times.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD_DIR=${BUILD_DIR:-build}
case "$BUILD_DIR" in /*) ;; *) BUILD_DIR=$ROOT/$BUILD_DIR ;; esac
WORK=${CG_BENCH_DIR:-$ROOT/build-bench}
SCALE=large
if [ "${1:-}" = --scale ]; then
  SCALE=${2:?bench: --scale large|huge}
  shift 2
fi
case "$SCALE" in
  large) SMALLER=quarter FACTOR=4 ;;
  huge) SMALLER=large FACTOR=10 ;;
  *) echo "bench: --scale large or huge" >&2; exit 2 ;;
esac
# A huge run takes hours with three runs of each: one by default.
if [ "$SCALE" = huge ]; then RUNS=${CG_BENCH_RUNS:-1}; else RUNS=${CG_BENCH_RUNS:-3}; fi
SIMULATE=${CG_BENCH_SIMULATE:-0}
SQL=$ROOT/bench/sql
PROGRAM=$BUILD_DIR/consistgeral

if [ "${CG_BENCH_NO_BUILD:-0}" != 1 ]; then
  bash scripts/install-deps.sh >/dev/null
  BUILD_DIR=$BUILD_DIR bash scripts/build.sh >/dev/null
fi
for tool in sqlite3 isql-fb /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing (apt-get install sqlite3 firebird3.0-utils time)" >&2; exit 1; }
done
mkdir -p "$WORK"
# The embedded Firebird engine's lock folder, shared with the program.
export FIREBIRD_LOCK=${FIREBIRD_LOCK:-${TMPDIR:-/tmp}/consistgeral-fblock-$(id -u)}
mkdir -p "$FIREBIRD_LOCK" && chmod 700 "$FIREBIRD_LOCK"
export QT_QPA_PLATFORM=offscreen

# ------------------------------------------------------------------ samples

sample() {  # sample SCALE -> folder standing for drive C, made once
  local dir=$WORK/$1
  if [ ! -f "$dir/.complete" ]; then
    echo "bench: creating the $1 sample in $dir" >&2
    "$PROGRAM" --drive-c "$dir" --create-sample --scale "$1" --force >/dev/null
    touch "$dir/.complete"
  fi
  echo "$dir"
}

# fresh SCALE FILE... -> a new folder with platform.ini, Config.DB, the
# command files and copies of the given files (paths under VITRALON/).
fresh() {
  local src=$WORK/$1 dst=$WORK/run
  shift
  rm -rf "$dst"
  mkdir -p "$dst/VITRALON/DADOS" "$dst/VITRALON/INTER" "$dst/VITRALON/ARQMORTO"
  cp "$src/platform.ini" "$dst/"
  cp "$src"/VITRALON/Config.DB "$src"/VITRALON/*.bat "$dst/VITRALON/"
  local f
  for f in "$@"; do cp "$src/VITRALON/$f" "$dst/VITRALON/$f"; done
  echo "$dst"
}

# timed OUT CMD... : runs CMD, appends "seconds kilobytes" to OUT.
timed() {
  local out=$1
  shift
  local t
  t=$(mktemp)
  if ! /usr/bin/time -f "%e %M" -o "$t" "$@" >"$WORK/last.out" 2>"$WORK/last.err"; then
    echo "bench: failed: $*" >&2
    cat "$WORK/last.err" >&2
    rm -f "$t"
    exit 1
  fi
  tail -n 1 "$t" >>"$out"
  rm -f "$t"
}

# Content of local tables (DIR/FILE.DB:TABLE ...), as one checksum.
local_digest() {
  local dir=$1 item
  shift
  for item in "$@"; do
    sqlite3 "$dir/VITRALON/${item%%:*}" "SELECT * FROM \"${item##*:}\" ORDER BY rowid"
  done | md5sum | cut -d' ' -f1
}

# What a checksum query (bench/sql/*.check.sql) answers on the server database.
server_digest() {  # server_digest DIR CHECK.sql
  { echo 'SET HEADING OFF;'; cat "$SQL/$2"; } |
    isql-fb -user sysdba -ch WIN1252 -q "$1/VITRALON/DADOS/vitralon.bd" | tr -s ' \n' ' '
}

median() { sort -n | awk '{a[NR]=$1} END {if (NR == 0) print "nan"; else if (NR % 2) print a[(NR+1)/2]; else printf "%.2f\n", (a[NR/2]+a[NR/2+1])/2}'; }

# ------------------------------------------------------------------ repairs
#
# One line per repair, fields separated by '|':
#   name | runner script (\n between lines) | files copied (under VITRALON/)
#   | baseline: sqlite:DIR:MAIN.DB:FILE.sql or fb:FILE.sql, or several of
#     them joined by '+'
#   | compared: sqlite DIR/FILE.DB:TABLE ..., fbq CHECK.sql (a checksum query), or - (lower bound)
#   | rows walked: an SQL count on the large sample (sqlite:DIR/FILE.DB:SQL or fb:SQL)
#   | local (scaling run on the quarter sample) or server
REPAIRS=(
  "orfas|invoke BotFormulaOrfan|DADOS/Pedidos.DB DADOS/PEDIFORM.DB DADOS/COMPEDID.DB|sqlite:DADOS:PEDIFORM.DB:orfas.sql|sqlite DADOS/PEDIFORM.DB:PEDIFORM DADOS/COMPEDID.DB:COMPEDID|sqlite:DADOS/PEDIFORM.DB:ATTACH 'COMPEDID.DB' AS i; SELECT 2*(SELECT count(*) FROM PEDIFORM) + (SELECT count(*) FROM i.COMPEDID)|local"
  "orfas_arq|invoke BotFormulaOrfanArqQM|ARQMORTO/pedidos.DB ARQMORTO/pediform.DB ARQMORTO/Compedid.DB|sqlite:ARQMORTO:pediform.DB:orfas_arq.sql|sqlite ARQMORTO/pediform.DB:pediform ARQMORTO/Compedid.DB:Compedid|sqlite:ARQMORTO/pediform.DB:ATTACH 'Compedid.DB' AS i; SELECT 2*(SELECT count(*) FROM pediform) + (SELECT count(*) FROM i.Compedid)|local"
  "sinonimos|invoke BotAcertaGrupoSinon|DADOS/Sinonimo.DB DADOS/Componen.DB|sqlite:DADOS:Sinonimo.DB:sinonimos.sql|sqlite DADOS/Sinonimo.DB:Sinonimo|sqlite:DADOS/Sinonimo.DB:SELECT count(*) FROM Sinonimo|local"
  "parametros|invoke BotAjusta|DADOS/Componen.DB|sqlite:DADOS:Componen.DB:parametros.sql|sqlite DADOS/Componen.DB:Componen|sqlite:DADOS/Componen.DB:SELECT count(*) FROM Componen|local"
  "custofixo|invoke BitBtn6|DADOS/Componen.DB|sqlite:DADOS:Componen.DB:custofixo.sql|sqlite DADOS/Componen.DB:Componen|sqlite:DADOS/Componen.DB:SELECT count(*) FROM Componen WHERE Grupo IN ('CAP','EMB','EXC')|local"
  "crm|invoke BotCorrigeCadMed|DADOS/Medicos.DB DADOS/Pedidos.DB|sqlite:DADOS:Pedidos.DB:crm.sql|sqlite DADOS/Pedidos.DB:Pedidos|sqlite:DADOS/Pedidos.DB:ATTACH 'Medicos.DB' AS m; SELECT (SELECT count(*) FROM Pedidos) + (SELECT count(*) FROM m.Medicos)|local"
  "abrevia_cli|invoke BotAbreviaNomeCli|DADOS/Clientes.DB INTER/Clientes.DB|sqlite:INTER:Clientes.DB:abrevia_cli.sql|-|sqlite:DADOS/Clientes.DB:SELECT count(*) FROM Clientes|local"
  "abrevia_med|invoke BotAbreviaNomeMed|DADOS/Medicos.DB INTER/Medicos.DB|sqlite:INTER:Medicos.DB:abrevia_med.sql|-|sqlite:DADOS/Medicos.DB:SELECT count(*) FROM Medicos|local"
)
if [ -f "$SQL/server.list" ]; then
  while IFS= read -r line; do
    case "$line" in ''|'#'*) ;; *) REPAIRS+=("$line") ;; esac
  done <"$SQL/server.list"
fi

selected() {
  [ $# -le 1 ] && return 0
  local n
  for n in "${@:2}"; do [ "$n" = "$1" ] && return 0; done
  return 1
}

rows_walked() {  # rows_walked ITEM on the sample benchmarked
  local item=$1 dir
  dir=$(sample "$SCALE")
  case "$item" in
    sqlite:*)
      item=${item#sqlite:}
      (cd "$dir/VITRALON/$(dirname "${item%%:*}")" && sqlite3 "$(basename "${item%%:*}")" "${item#*:}" | tail -n 1)
      ;;
    fb:*)
      printf 'SET HEADING OFF;\n%s;\n' "${item#fb:}" |
        isql-fb -user sysdba -q "$dir/VITRALON/DADOS/vitralon.bd" | awk 'NF {print $1; exit}'
      ;;
  esac
}

run_repair() {  # run_repair SCALE NAME SCRIPT FILES COMPARED OUT -> digest
  local scale=$1 name=$2 script=$3 files=$4 compared=$5 out=$6 dir
  # shellcheck disable=SC2086
  dir=$(fresh "$scale" $files)
  printf '%b\n' "$script" >"$WORK/script.txt"
  timed "$out" "$PROGRAM" --drive-c "$dir" --script "$WORK/script.txt"
  if grep -q '"event":"error"' "$WORK/last.out"; then
    echo "bench: $name reported an error:" >&2
    grep '"event":"error"' "$WORK/last.out" | head -n 3 >&2
    echo error
    return
  fi
  digest "$dir" "$compared"
}

run_baseline() {  # run_baseline SCALE BASELINE FILES COMPARED OUT -> digest
  local scale=$1 baseline=$2 files=$3 compared=$4 out=$5 dir part parts
  # shellcheck disable=SC2086
  dir=$(fresh "$scale" $files)
  # A baseline of several parts (joined by '+') is timed part by part: the
  # times add up, the peak memory is the largest.
  local each=$WORK/baseline.parts
  : >"$each"
  IFS='+' read -r -a parts <<<"$baseline"
  for part in "${parts[@]}"; do
    case "$part" in
      sqlite:*)
        local item=${part#sqlite:}
        local where=${item%%:*} rest=${item#*:}
        local main=${rest%%:*} file=${rest#*:}
        (cd "$dir/VITRALON/$where" && timed "$each" sh -c "sqlite3 '$main' < '$SQL/$file' >/dev/null")
        ;;
      fb:*)
        timed "$each" isql-fb -user sysdba -ch WIN1252 -q -b -i "$SQL/${part#fb:}" "$dir/VITRALON/DADOS/vitralon.bd"
        ;;
    esac
  done
  awk '{t += $1; if ($2 > m) m = $2} END {printf "%.2f %d\n", t, m}' "$each" >>"$out"
  digest "$dir" "$compared"
}

digest() {  # digest DIR COMPARED
  local dir=$1 compared=$2
  case "$compared" in
    -) echo - ;;
    sqlite\ *) # shellcheck disable=SC2086
      local_digest "$dir" ${compared#sqlite } ;;
    fbq\ *) server_digest "$dir" "${compared#fbq }" ;;
  esac
}

# ------------------------------------------------------------------ the run

sample "$SCALE" >/dev/null
[ "${CG_BENCH_NO_QUARTER:-0}" = 1 ] || sample "$SMALLER" >/dev/null

results=$WORK/results.txt
: >"$results"
simulated=$WORK/simulated.txt
: >"$simulated"
for entry in "${REPAIRS[@]}"; do
  IFS='|' read -r name script files baseline compared walked kind <<<"$entry"
  selected "$name" "$@" || continue
  echo "bench: $name" >&2
  rm -f "$WORK/$name".*
  check=same
  for ((i = 1; i <= RUNS; i++)); do
    a=$(run_repair "$SCALE" "$name" "$script" "$files" "$compared" "$WORK/$name.repair")
    b=$(run_baseline "$SCALE" "$baseline" "$files" "$compared" "$WORK/$name.baseline")
    if [ "$a" = error ]; then
      check="ERROR"
    elif [ "$compared" = - ]; then
      [ "$check" = ERROR ] || check="bound"
    elif [ "$a" != "$b" ]; then
      [ "$check" = ERROR ] || check="DIFFERENT"
    fi
  done
  scaling=-
  if { [ "$kind" = local ] || [ "$SCALE" = huge ]; } && [ "${CG_BENCH_NO_QUARTER:-0}" != 1 ]; then
    for ((i = 1; i <= RUNS; i++)); do
      run_repair "$SMALLER" "$name" "$script" "$files" - "$WORK/$name.quarter" >/dev/null
    done
    scaling=$(awk -v l="$(cut -d' ' -f1 "$WORK/$name.repair" | median)" \
      -v q="$(cut -d' ' -f1 "$WORK/$name.quarter" | median)" 'BEGIN {printf "%.1f", (q > 0 ? l / q : 0)}')
  fi
  if [ "$SIMULATE" = 1 ]; then
    # The digest of an untouched copy: what the simulated copy must still give.
    untouched=$(digest "$(fresh "$SCALE" $files)" "$compared")
    simcheck=unchanged
    for ((i = 1; i <= RUNS; i++)); do
      s=$(run_repair "$SCALE" "$name" "simulate on\n$script" "$files" "$compared" "$WORK/$name.simulated")
      if [ "$s" = error ]; then
        simcheck=ERROR
      elif [ "$compared" != - ] && [ "$s" != "$untouched" ]; then
        [ "$simcheck" = ERROR ] || simcheck=WRITTEN
      fi
    done
    echo "$name $(cut -d' ' -f1 "$WORK/$name.repair" | median) $(cut -d' ' -f1 "$WORK/$name.simulated" | median) $(cut -d' ' -f2 "$WORK/$name.simulated" | median) $simcheck" >>"$simulated"
  fi
  t=$(cut -d' ' -f1 "$WORK/$name.repair" | median)
  tb=$(cut -d' ' -f1 "$WORK/$name.baseline" | median)
  mem=$(cut -d' ' -f2 "$WORK/$name.repair" | median)
  echo "$name $(rows_walked "$walked") $t $tb $mem $scaling $check" >>"$results"
done
rm -rf "$WORK/run"

echo
printf '%-12s %10s %9s %9s %7s %9s %10s %s\n' repair rows time baseline ratio "peak MiB" "x$FACTOR data" data
awk '{ratio = ($4 > 0 ? $3 / $4 : 0)
      printf "%-12s %10s %8.2fs %8.2fs %6.1fx %9.0f %10s %s\n", $1, $2, $3, $4, ratio, $5 / 1024, $6, $7}' "$results"
echo
echo "time, baseline: medians of $RUNS runs, whole processes; peak MiB: the repair's peak resident memory;"
echo "x$FACTOR data: time on the $SCALE sample over time on the $SMALLER one (linear: about $FACTOR);"
echo "data: same = both copies end equal, bound = the baseline is a lower bound, not an equivalent,"
echo "      DIFFERENT = they should be equal and are not, ERROR = the repair reported an error."
if [ "$SIMULATE" = 1 ]; then
  echo
  printf '%-12s %9s %9s %7s %9s %s\n' repair real simulated ratio "peak MiB" data
  awk '{ratio = ($2 > 0 ? $3 / $2 : 0)
        printf "%-12s %8.2fs %8.2fs %6.2fx %9.0f %s\n", $1, $2, $3, ratio, $4 / 1024, $5}' "$simulated"
  echo
  echo "real, simulated: medians of $RUNS runs of the repair and of its simulation, whole processes;"
  echo "data: unchanged = the simulated copy ends as it began, WRITTEN = it does not, ERROR = an error."
fi
