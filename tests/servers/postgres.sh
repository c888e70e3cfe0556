#!/usr/bin/env bash
# A throwaway PostgreSQL server for the server tests, kept entirely in one directory.
#
#   postgres.sh start DIR      initdb in DIR/data, start on a free 127.0.0.1 port with its
#                              socket in DIR/sock, create the login role "rowpress" with a
#                              random password and its database "rowpress"; the connection
#                              facts go to DIR/postgres.env
#   postgres.sh stop DIR       stop it (fast shutdown, then SIGKILL); nothing running is fine
#   postgres.sh crash DIR      stop it the hard way (immediate shutdown, as pg_ctl -m immediate:
#                              every backend ends at once, no checkpoint)
#
# As root the server runs as the user postgres; otherwise as the current user.
set -euo pipefail

action="${1:?usage: postgres.sh start|stop|crash DIR}"
dir="${2:?usage: postgres.sh start|stop|crash DIR}"
here="$(cd "$(dirname "$0")" && pwd)"
PATH="$PATH:/usr/sbin:/sbin"  # runuser and mariadbd live there

bin="$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)"
if [ -z "$bin" ] || [ ! -x "$bin/postgres" ]; then
  echo "postgres.sh: no PostgreSQL server under /usr/lib/postgresql (install postgresql-15)" >&2
  exit 1
fi

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

# The postmaster's process id, from its own pid file; empty when it is not running.
server_pid() {
  local pid
  [ -f "$dir/data/postmaster.pid" ] || return 0
  pid="$(head -n 1 "$dir/data/postmaster.pid")"
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then echo "$pid"; fi
}

wait_gone() {
  local pid="$1" i
  for i in $(seq 1 100); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  return 1
}

case "$action" in
  start)
    mkdir -p "$dir/sock"
    [ "$(id -u)" -eq 0 ] && chown -R postgres: "$dir"
    as_owner "$bin/initdb" -D "$dir/data" -U postgres --auth-local=trust \
      --auth-host=scram-sha-256 --encoding=UTF8 --locale=C.UTF-8 > "$dir/initdb.log" 2>&1 || {
      cat "$dir/initdb.log" >&2
      exit 1
    }
    started=""
    for attempt in 1 2 3; do
      port="$(python3 "$here/free_port.py")"
      if as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/log" -w -t 60 \
        -o "-p $port -k $dir/sock -c listen_addresses=127.0.0.1 -c fsync=off" start \
        > /dev/null; then
        started=1
        break
      fi
    done
    if [ -z "$started" ]; then
      cat "$dir/log" >&2
      exit 1
    fi
    password="pw$(head -c 12 /dev/urandom | od -An -tx1 | tr -d ' \n')"
    "$bin/psql" -X -q -v ON_ERROR_STOP=1 -h "$dir/sock" -p "$port" -U postgres -d postgres <<SQL
create role rowpress login createdb createrole password '$password';
create database rowpress owner rowpress encoding 'UTF8';
SQL
    cat > "$dir/postgres.env" <<ENV
PG_BIN=$bin
PG_DIR=$dir
PG_PORT=$port
PG_SOCKET_DIR=$dir/sock
PG_SUPERUSER=postgres
PG_USER=rowpress
PG_PASSWORD=$password
PG_DATABASE=rowpress
ENV
    ;;
  stop)
    pid="$(server_pid)"
    [ -n "$pid" ] || exit 0
    kill -INT "$pid" 2>/dev/null || true  # fast shutdown
    if ! wait_gone "$pid"; then
      kill -KILL "$pid" 2>/dev/null || true
      wait_gone "$pid" || true
    fi
    ;;
  crash)
    pid="$(server_pid)"
    [ -n "$pid" ] || exit 0
    kill -QUIT "$pid" 2>/dev/null || true  # immediate shutdown: no checkpoint
    wait_gone "$pid" || kill -KILL "$pid" 2>/dev/null || true
    ;;
  *)
    echo "postgres.sh: unknown action $action" >&2
    exit 2
    ;;
esac
