#!/usr/bin/env bash
# A throw-away PostgreSQL cluster for the run history's server tests.
#
#   pg-test-cluster.sh start STATE_FILE   makes a cluster in a new temporary folder and starts it
#   pg-test-cluster.sh stop STATE_FILE    stops the server (the cluster stays; start-again restarts it)
#   pg-test-cluster.sh start-again STATE_FILE
#   pg-test-cluster.sh destroy STATE_FILE stops it and removes the folder and STATE_FILE
#
# The server listens on a Unix socket in its own folder only (no TCP port, so parallel builds never
# collide). STATE_FILE gets the lines "socket=DIR", "port=N", "superuser=NAME" the tests connect with,
# or, when no server could be made (PostgreSQL not installed, initdb failed), one line "skip=REASON"
# and `start` still ends with status 0: the tests then skip with that reason, which CI does not allow.
# PostgreSQL refuses to run as root, so under root the cluster belongs to user nobody.
set -uo pipefail

cmd=${1:-}
state=${2:-}
if [ -z "$cmd" ] || [ -z "$state" ]; then
  echo "usage: $0 start|stop|start-again|destroy STATE_FILE" >&2
  exit 2
fi

bindir=""
for d in /usr/lib/postgresql/*/bin; do
  [ -x "$d/initdb" ] && bindir=$d
done
if [ -z "$bindir" ] && command -v pg_config >/dev/null 2>&1; then
  bindir=$(pg_config --bindir)
fi

port=5432
superuser=postgres

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    setpriv --reuid=nobody --regid=nogroup --clear-groups -- "$@"
  else
    "$@"
  fi
}

folder_of() { sed -n 's/^folder=//p' "$state" 2>/dev/null; }

skip() {
  echo "skip=$1" >"$state"
  echo "pg-test-cluster: no server: $1" >&2
  exit 0
}

case "$cmd" in
start)
  if [ -f "$state" ] && [ -n "$(folder_of)" ]; then "$0" destroy "$state"; fi
  [ -n "$bindir" ] && [ -x "$bindir/initdb" ] || skip "PostgreSQL's initdb not found (install the postgresql package)"
  folder=$(mktemp -d /tmp/quarn-pg.XXXXXX) || skip "cannot make a temporary folder"
  chmod 755 "$folder"
  mkdir "$folder/data" "$folder/run"
  if [ "$(id -u)" -eq 0 ]; then chown -R nobody:nogroup "$folder"; fi
  if ! as_owner "$bindir/initdb" -D "$folder/data" -U "$superuser" --auth=trust -E UTF8 --locale=C.UTF-8 \
    >"$folder/initdb.log" 2>&1; then
    reason="initdb failed: $(tail -n 1 "$folder/initdb.log")"
    rm -rf "$folder"
    skip "$reason"
  fi
  # Passwords are asked of the login roles the tests make; the superuser comes in over the socket.
  cat >"$folder/data/pg_hba.conf" <<HBA
local all $superuser trust
local all all scram-sha-256
HBA
  {
    echo "listen_addresses = ''"
    echo "unix_socket_directories = '$folder/run'"
    echo "port = $port"
    echo "fsync = off"
    echo "full_page_writes = off"
    echo "max_connections = 40"
  } >>"$folder/data/postgresql.conf"
  if [ "$(id -u)" -eq 0 ]; then chown nobody:nogroup "$folder/data/pg_hba.conf"; fi
  printf 'folder=%s\nsocket=%s\nport=%s\nsuperuser=%s\n' "$folder" "$folder/run" "$port" "$superuser" >"$state"
  if ! as_owner "$bindir/pg_ctl" -D "$folder/data" -l "$folder/server.log" -w -t 30 start >/dev/null; then
    reason="the server did not start: $(tail -n 1 "$folder/server.log" 2>/dev/null)"
    rm -rf "$folder"
    skip "$reason"
  fi
  echo "pg-test-cluster: started in $folder"
  ;;
stop)
  folder=$(folder_of)
  [ -n "$folder" ] || exit 0
  as_owner "$bindir/pg_ctl" -D "$folder/data" -m immediate -w stop >/dev/null 2>&1 || true
  ;;
start-again)
  folder=$(folder_of)
  [ -n "$folder" ] || exit 1
  as_owner "$bindir/pg_ctl" -D "$folder/data" -l "$folder/server.log" -w -t 30 start >/dev/null
  ;;
destroy)
  folder=$(folder_of)
  if [ -n "$folder" ] && [ -d "$folder" ]; then
    as_owner "$bindir/pg_ctl" -D "$folder/data" -m immediate -w stop >/dev/null 2>&1 || true
    case "$folder" in /tmp/quarn-pg.*) rm -rf "$folder" ;; esac
  fi
  rm -f "$state"
  ;;
*)
  echo "usage: $0 start|stop|start-again|destroy STATE_FILE" >&2
  exit 2
  ;;
esac
