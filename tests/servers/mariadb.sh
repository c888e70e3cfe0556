#!/usr/bin/env bash
# A throwaway MariaDB server for the server tests, kept entirely in one directory.
#
#   mariadb.sh start DIR   create the system tables in DIR/data, start mariadbd on a free
#                          127.0.0.1 port with its socket in DIR/sock, create the user
#                          "rowpress" (random password, reachable over TCP only) and its
#                          database "rowpress", and load the time zones the tests name
#                          (ZONES below) from the system's zone files; the connection facts
#                          go to DIR/mariadb.env
#   mariadb.sh stop DIR    stop it (SIGTERM, then SIGKILL); nothing running is fine
#
# Grant tables are in force: a wrong password is refused. root can log in only through the
# socket. As root the server runs as the user mysql; otherwise as the current user.
set -euo pipefail

action="${1:?usage: mariadb.sh start|stop DIR}"
dir="${2:?usage: mariadb.sh start|stop DIR}"
here="$(cd "$(dirname "$0")" && pwd)"
PATH="$PATH:/usr/sbin:/sbin"  # runuser and mariadbd live there
# The time zones a test may set by name. A fresh server knows only offsets; loading all of
# the system's zones takes seconds, these few take nothing.
ZONES="Europe/Berlin America/New_York"

server_pid() {
  local pid
  [ -f "$dir/mariadbd.pid" ] || return 0
  pid="$(cat "$dir/mariadbd.pid")"
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then echo "$pid"; fi
}

wait_gone() {
  local pid="$1" i
  for i in $(seq 1 200); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  return 1
}

case "$action" in
  start)
    for tool in mariadb-install-db mariadbd mariadb mariadb-admin mariadb-tzinfo-to-sql; do
      if ! command -v "$tool" > /dev/null; then
        echo "mariadb.sh: $tool is missing (install mariadb-server)" >&2
        exit 1
      fi
    done
    for zone in $ZONES; do
      if [ ! -f "/usr/share/zoneinfo/$zone" ]; then
        echo "mariadb.sh: /usr/share/zoneinfo/$zone is missing (install tzdata)" >&2
        exit 1
      fi
    done
    user="$(id -un)"
    [ "$(id -u)" -eq 0 ] && user=mysql
    mkdir -p "$dir/sock"
    [ "$(id -u)" -eq 0 ] && chown -R "$user": "$dir"
    mariadb-install-db --no-defaults --datadir="$dir/data" --user="$user" \
      --auth-root-authentication-method=normal --skip-test-db > "$dir/install.log" 2>&1 || {
      cat "$dir/install.log" >&2
      exit 1
    }
    socket="$dir/sock/mysqld.sock"
    started=""
    for attempt in 1 2 3; do
      port="$(python3 "$here/free_port.py")"
      setsid mariadbd --no-defaults --datadir="$dir/data" --socket="$socket" --port="$port" \
        --bind-address=127.0.0.1 --pid-file="$dir/mariadbd.pid" --user="$user" \
        --log-error="$dir/mariadb.err" --skip-name-resolve --innodb-buffer-pool-size=32M \
        < /dev/null > /dev/null 2>&1 &
      pid=$!
      for i in $(seq 1 300); do
        if mariadb-admin --no-defaults -S "$socket" -u root ping > /dev/null 2>&1; then
          started=1
          break
        fi
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
      done
      [ -n "$started" ] && break
      kill -KILL "$pid" 2>/dev/null || true
    done
    if [ -z "$started" ]; then
      cat "$dir/mariadb.err" >&2 || true
      exit 1
    fi
    password="pw$(head -c 12 /dev/urandom | od -An -tx1 | tr -d ' \n')"
    mariadb --no-defaults -S "$socket" -u root <<SQL
delete from mysql.global_priv where user = 'root' and host <> 'localhost';
flush privileges;
create database rowpress character set utf8mb4;
create user 'rowpress'@'127.0.0.1' identified by '$password';
grant all on *.* to 'rowpress'@'127.0.0.1';
SQL
    for zone in $ZONES; do
      mariadb-tzinfo-to-sql "/usr/share/zoneinfo/$zone" "$zone"
    done | mariadb --no-defaults -S "$socket" -u root mysql
    cat > "$dir/mariadb.env" <<ENV
MARIADB_DIR=$dir
MARIADB_PORT=$port
MARIADB_SOCKET=$socket
MARIADB_USER=rowpress
MARIADB_PASSWORD=$password
MARIADB_DATABASE=rowpress
ENV
    ;;
  stop)
    pid="$(server_pid)"
    [ -n "$pid" ] || exit 0
    kill -TERM "$pid" 2>/dev/null || true
    if ! wait_gone "$pid"; then
      kill -KILL "$pid" 2>/dev/null || true
      wait_gone "$pid" || true
    fi
    ;;
  *)
    echo "mariadb.sh: unknown action $action" >&2
    exit 2
    ;;
esac
