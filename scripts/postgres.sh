#!/usr/bin/env bash
# A private PostgreSQL server in a folder of its own, for the tests and for trying the shared mode:
#   bash scripts/postgres.sh start DIR [--tcp PORT] [--until PID]
#   bash scripts/postgres.sh stop DIR
# start makes the server's files in DIR/data on first use (Debian's postgresql package), starts it
# with its Unix socket in DIR/socket and prints the libpq connection string on stdout:
#   host=DIR/socket port=5432 user=USER dbname=postgres
# Only the socket is trusted; there is no TCP unless --tcp asks for it (127.0.0.1 only, with a
# password kept in DIR/pgpass, named by the printed string's passfile=). With --until PID the
# server is stopped and DIR removed once process PID has ended, so a test process that dies leaves
# no server behind. The server never runs as root: started by root, it runs as the package's user
# `postgres`, and DIR is handed to it. stop stops the server (fast: open transactions are rolled
# back) and does nothing when none runs there.
set -euo pipefail

usage() {
  echo "usage: postgres.sh start DIR [--tcp PORT] [--until PID] | postgres.sh stop DIR" >&2
  exit 2
}
fail() {
  echo "postgres.sh: $*" >&2
  exit 1
}

[ $# -ge 2 ] || usage
command=$1
dir=$2
shift 2
tcp_port=
until_pid=
while [ $# -gt 0 ]; do
  case "$1" in
    --tcp) [ $# -ge 2 ] || usage; tcp_port=$2; shift 2 ;;
    --until) [ $# -ge 2 ] || usage; until_pid=$2; shift 2 ;;
    *) usage ;;
  esac
done
[[ -z "$tcp_port" || "$tcp_port" =~ ^[0-9]+$ ]] || usage
[[ -z "$until_pid" || "$until_pid" =~ ^[0-9]+$ ]] || usage

# The newest server the package installed; its programs are not on PATH.
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -n "$bin" ] && [ -x "$bin/pg_ctl" ] || fail "no PostgreSQL server under /usr/lib/postgresql (bash scripts/deps.sh test)"

# The server refuses to run as root, so root runs it as the package's user.
as_server=()
server_user=$(id -un)
if [ "$(id -u)" -eq 0 ]; then
  server_user=postgres
  id -u "$server_user" >/dev/null 2>&1 || fail "no user $server_user (Debian's postgresql package makes it)"
  as_server=(runuser -u "$server_user" --)
fi

case "$command" in
  start) mkdir -p "$dir" ;;
  stop) [ -d "$dir" ] || exit 0 ;;
  *) usage ;;
esac
dir=$(cd "$dir" && pwd -P)
data=$dir/data
socket=$dir/socket
port=${tcp_port:-5432}

running() {
  [ -f "$data/PG_VERSION" ] && "${as_server[@]}" "$bin/pg_ctl" -D "$data" status >/dev/null 2>&1
}

if [ "$command" = stop ]; then
  if running; then
    "${as_server[@]}" "$bin/pg_ctl" -D "$data" -m fast -w -t 60 stop >/dev/null
  fi
  exit 0
fi

# A Unix socket's path is limited to 107 bytes.
[ ${#socket} -le 90 ] || fail "the folder's path is too long for a socket: $dir"

# The folder is the server's and its runner's alone: the socket in it trusts whoever reaches it.
if [ "$(id -u)" -eq 0 ]; then
  chown "$server_user": "$dir"
  "${as_server[@]}" test -w "$dir" || fail "$server_user cannot reach $dir (a folder above it is closed to others)"
fi
chmod 0700 "$dir"

if [ ! -f "$data/PG_VERSION" ]; then
  # UTF-8 with the C collation: text is ordered by its bytes, as the embedded database orders it.
  initdb_args=(-D "$data" -U "$server_user" -E UTF8 --locale=C --no-sync --auth-local=trust)
  pwfile=
  if [ -z "$tcp_port" ]; then
    initdb_args+=(--auth-host=reject)
  else
    # A password for TCP only, in libpq's own password file: never in a connection string.
    password=$(od -An -N18 -tx1 /dev/urandom | tr -d ' \n')
    pwfile=$dir/initdb-password
    (umask 077; printf '%s\n' "$password" >"$pwfile")
    [ "$(id -u)" -ne 0 ] || chown "$server_user": "$pwfile"
    initdb_args+=(--auth-host=scram-sha-256 --pwfile="$pwfile")
    (umask 077; printf '127.0.0.1:*:*:%s:%s\n' "$server_user" "$password" >"$dir/pgpass")
  fi
  if ! "${as_server[@]}" "$bin/initdb" "${initdb_args[@]}" >"$dir/initdb.log" 2>&1; then
    [ -z "$pwfile" ] || rm -f "$pwfile"
    cat "$dir/initdb.log" >&2
    fail "initdb failed in $data"
  fi
  [ -z "$pwfile" ] || rm -f "$pwfile"
  "${as_server[@]}" mkdir -p "$socket"
  # A test server: losing its data in a crash of the machine costs nothing, waiting for the disk
  # costs every test.
  "${as_server[@]}" tee -a "$data/postgresql.conf" >/dev/null <<EOF

# scripts/postgres.sh
unix_socket_directories = '$socket'
fsync = off
synchronous_commit = off
full_page_writes = off
EOF
fi

listen=
if [ -n "$tcp_port" ]; then
  [ -f "$dir/pgpass" ] || fail "the server in $data was made without --tcp: it has no password for TCP"
  listen=127.0.0.1
fi
if ! running; then
  if ! "${as_server[@]}" "$bin/pg_ctl" -D "$data" -l "$dir/server.log" -w -t 60 \
      -o "-c listen_addresses='$listen' -p $port" start >/dev/null; then
    tail -n 20 "$dir/server.log" >&2 || true
    fail "the server in $data did not start"
  fi
fi

if [ -n "$until_pid" ]; then
  # Watches the given process from outside this script's session, so that neither the script's
  # end nor a signal to the test's process group ends the watch.
  setsid bash -c '
    while kill -0 "$1" 2>/dev/null; do sleep 1; done
    bash "$2" stop "$3" >/dev/null 2>&1
    rm -rf "$3"
  ' postgres-watch "$until_pid" "$(cd "$(dirname "$0")" && pwd -P)/$(basename "$0")" "$dir" \
    </dev/null >/dev/null 2>&1 &
fi

if [ -n "$tcp_port" ]; then
  echo "host=127.0.0.1 port=$port user=$server_user dbname=postgres passfile=$dir/pgpass"
else
  echo "host=$socket port=$port user=$server_user dbname=postgres"
fi
