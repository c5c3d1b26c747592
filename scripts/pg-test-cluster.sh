#!/usr/bin/env bash
# A throwaway PostgreSQL cluster for tests and benchmarks: its data and its Unix socket live
# in one folder, it listens on no TCP port, and it is removed when stopped.
#
#   scripts/pg-test-cluster.sh start DIR [WATCH_PID]   create DIR, initdb, start the server
#   scripts/pg-test-cluster.sh stop DIR                stop the server, remove DIR
#   scripts/pg-test-cluster.sh halt DIR                stop the server, keep DIR
#   scripts/pg-test-cluster.sh resume DIR              start a halted server again
#   scripts/pg-test-cluster.sh restart DIR             stop and start (clients lose their link)
#
# Roles: tvadmin (superuser, trusted on the socket; initdb's bootstrap user) and tvreader
# (LOGIN, password "tv-reader-pw", password checked). Database: tvtest. Connect with
# "host=DIR dbname=tvtest user=tvadmin".
#
# When started, a watchdog stops the server and removes DIR as soon as WATCH_PID (default:
# the caller, e.g. ctest or a test binary) is gone, so a killed test run leaves no server.
# Run as root, the server runs as the user postgres (runuser); else as the caller.
set -euo pipefail

cmd=${1:-}
dir=${2:-}
if [ -z "$cmd" ] || [ -z "$dir" ]; then
  sed -n '2,16p' "$0" >&2
  exit 1
fi

bindir=""
if command -v pg_config >/dev/null 2>&1 && [ -x "$(pg_config --bindir)/initdb" ]; then
  bindir=$(pg_config --bindir)
else
  for d in /usr/lib/postgresql/*/bin; do
    [ -x "$d/initdb" ] && bindir=$d
  done
fi
if [ -z "$bindir" ]; then
  echo "pg-test-cluster: initdb not found (Debian packages postgresql and libpq-dev)" >&2
  exit 1
fi

as_server() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

data="$dir/data"
log="$dir/server.log"

pg_ctl_() {
  as_server "$bindir/pg_ctl" -D "$data" -l "$log" -w -t 60 "$@"
}

stop_server() {
  if [ -f "$data/postmaster.pid" ]; then
    pg_ctl_ stop -m immediate >/dev/null 2>&1 || true
  fi
}

remove_dir() {
  stop_server
  rm -rf -- "$dir"
}

case "$cmd" in
start)
  # A folder left by a killed run is cleared first.
  [ -e "$dir" ] && remove_dir
  mkdir -p -- "$dir"
  dir=$(cd "$dir" && pwd)
  data="$dir/data"
  log="$dir/server.log"
  trap 'remove_dir' ERR
  [ "$(id -u)" -eq 0 ] && chown postgres: "$dir"
  as_server "$bindir/initdb" -D "$data" -U tvadmin -A trust -E UTF8 --locale=C.UTF-8 \
    --no-instructions >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; false; }
  cat >>"$data/postgresql.conf" <<EOF
listen_addresses = ''
unix_socket_directories = '$dir'
fsync = off
synchronous_commit = off
full_page_writes = off
shared_buffers = 256MB
max_wal_size = 2GB
log_min_messages = warning
EOF
  cat >"$data/pg_hba.conf" <<EOF
local all tvadmin trust
local all all scram-sha-256
EOF
  pg_ctl_ start >/dev/null || { cat "$log" >&2; false; }
  psql_() { "$bindir/psql" -X -q -v ON_ERROR_STOP=1 -h "$dir" -U tvadmin "$@"; }
  psql_ -d postgres -c "CREATE DATABASE tvtest" \
    -c "CREATE ROLE tvreader LOGIN PASSWORD 'tv-reader-pw'"
  trap - ERR
  # The watchdog: detached, it outlives this script and watches the caller.
  watch=${3:-$PPID}
  setsid bash -c '
    while kill -0 "$1" 2>/dev/null && [ -d "$2" ]; do sleep 1; done
    [ -d "$2" ] && exec "$3" stop "$2"' watchdog "$watch" "$dir" "$(cd "$(dirname "$0")" && pwd)/$(basename "$0")" \
    </dev/null >/dev/null 2>&1 &
  ;;
stop)
  remove_dir
  ;;
halt)
  stop_server
  ;;
resume)
  pg_ctl_ start >/dev/null || { cat "$log" >&2; exit 1; }
  ;;
restart)
  pg_ctl_ restart -m fast >/dev/null || { cat "$log" >&2; exit 1; }
  ;;
*)
  echo "pg-test-cluster: unknown command $cmd" >&2
  exit 1
  ;;
esac
