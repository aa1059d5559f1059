#!/usr/bin/env bash
# A private Firebird 3 server on 127.0.0.1 for the tests, run as the current
# user without systemd:
#
#   scripts/fbserver.sh start    # prepares the folder, sets SYSDBA's password, starts, waits
#   scripts/fbserver.sh stop     # SIGTERM to the recorded process id
#   scripts/fbserver.sh status   # exit 0 when it answers
#   scripts/fbserver.sh kill     # SIGKILL, for tests of a server that dies
#
# Environment:
#   CG_FB_PORT  the port it listens on (default 3057, so that a system
#               server on 3050 is neither needed nor disturbed)
#   CG_FB_DIR   its private folder (default $TMPDIR/consistgeral-fbserver-UID-PORT,
#               so that servers on two ports never share one):
#               firebird.conf, databases.conf, its own security database, the
#               process id and the log
#   FIREBIRD_LOCK  the lock folder; by default the same private folder the
#               program's embedded engine uses, so that an embedded process
#               and this server see each other's locks on a file
set -euo pipefail

PORT="${CG_FB_PORT:-3057}"
TMP="${TMPDIR:-/tmp}"
DIR="${CG_FB_DIR:-$TMP/consistgeral-fbserver-$(id -u)-$PORT}"
LOCK="${FIREBIRD_LOCK:-$TMP/consistgeral-fblock-$(id -u)}"
PASSWORD=corvidane
SERVER=/usr/sbin/firebird
SYSROOT=/usr/lib/x86_64-linux-gnu/firebird/3.0
PIDFILE="$DIR/firebird.pid"

answers() {
  FIREBIRD="$DIR" FIREBIRD_LOCK="$LOCK" fbsvcmgr "127.0.0.1/$PORT:service_mgr" \
    -user SYSDBA -password "$PASSWORD" -info_server_version >/dev/null 2>&1
}

running_pid() {
  [[ -f "$PIDFILE" ]] || return 1
  local pid
  pid="$(cat "$PIDFILE")"
  [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null && echo "$pid"
}

prepare() {
  mkdir -p "$DIR" "$LOCK"
  chmod 700 "$LOCK"
  # Plugins, character sets and messages come from the installed server.
  for entry in plugins UDF firebird.msg plugins.conf fbtrace.conf; do
    if [[ -e "$SYSROOT/$entry" && ! -e "$DIR/$entry" ]]; then ln -s "$SYSROOT/$entry" "$DIR/$entry"; fi
  done
  # The character set module is copied: reached through a link, the server
  # loads it but then knows none of its character sets (WIN1252 included).
  [[ -L "$DIR/intl" ]] && rm -f "$DIR/intl"
  mkdir -p "$DIR/intl"
  cp -p "$SYSROOT"/intl/* "$DIR/intl/"
  cat >"$DIR/firebird.conf" <<EOF
# Private test server of Consistencia Geral BD (scripts/fbserver.sh).
RemoteServicePort = $PORT
RemoteBindAddress = 127.0.0.1
ServerMode = Super
SecurityDatabase = $DIR/security3.fdb
AuthServer = Srp
UserManager = Srp
DatabaseAccess = Full
EOF
  cat >"$DIR/databases.conf" <<EOF
security.db = $DIR/security3.fdb
{
	RemoteAccess = false
}
EOF
  # A security database of its own, made by the embedded engine; the Srp
  # user manager creates its table when the first user is written.
  if [[ ! -f "$DIR/security3.fdb" ]]; then
    echo "CREATE DATABASE '$DIR/security3.fdb' DEFAULT CHARACTER SET UTF8;" |
      FIREBIRD="$DIR" FIREBIRD_LOCK="$LOCK" isql-fb -q -user SYSDBA >/dev/null
  fi
  printf "CREATE OR ALTER USER SYSDBA PASSWORD '%s' USING PLUGIN Srp;\nCOMMIT;\n" "$PASSWORD" |
    FIREBIRD="$DIR" FIREBIRD_LOCK="$LOCK" isql-fb -q -user SYSDBA "$DIR/security3.fdb" >/dev/null
}

start() {
  if pid="$(running_pid)" && answers; then
    echo "fbserver: already running (pid $pid, port $PORT)"
    return 0
  fi
  if answers; then
    echo "fbserver: another server already answers on 127.0.0.1/$PORT" >&2
    return 1
  fi
  prepare
  FIREBIRD="$DIR" FIREBIRD_LOCK="$LOCK" "$SERVER" >"$DIR/server.log" 2>&1 &
  echo $! >"$PIDFILE"
  for _ in $(seq 1 150); do
    if answers; then
      echo "fbserver: running (pid $(cat "$PIDFILE"), port $PORT)"
      return 0
    fi
    if ! kill -0 "$(cat "$PIDFILE")" 2>/dev/null; then break; fi
    sleep 0.2
  done
  echo "fbserver: the server did not answer on 127.0.0.1/$PORT" >&2
  cat "$DIR/server.log" >&2 || true
  stop
  return 1
}

stop() {
  local pid signal="${1:-TERM}"
  if ! pid="$(running_pid)"; then
    rm -f "$PIDFILE"
    echo "fbserver: not running"
    return 0
  fi
  kill "-$signal" "$pid"
  for _ in $(seq 1 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then kill -KILL "$pid"; fi
  rm -f "$PIDFILE"
  echo "fbserver: stopped (pid $pid)"
}

status() {
  if pid="$(running_pid)" && answers; then
    echo "fbserver: running (pid $pid, port $PORT)"
    return 0
  fi
  echo "fbserver: not running"
  return 1
}

case "${1:-}" in
  start) start ;;
  stop) stop ;;
  kill) stop KILL ;;
  status) status ;;
  *)
    echo "usage: $0 start|stop|status|kill" >&2
    exit 2
    ;;
esac
