#!/usr/bin/env bash
# Starts the database servers that the server tests talk to: one PostgreSQL and one MariaDB,
# each throwaway, listening on 127.0.0.1 and a socket under /tmp only. Their connection facts
# and the ODBC driver libraries go to OUT_DIR/servers.env (KEY=VALUE lines).
#
#   start.sh OUT_DIR
#
# Servers that an earlier run left behind for OUT_DIR are stopped first. When a server
# cannot be started, whatever did start is stopped again and the script fails. Servers that
# no stop.sh ends are stopped by a watchdog after ROWPRESS_SERVERS_LIFETIME seconds.
set -euo pipefail

out="${1:?usage: start.sh OUT_DIR}"
here="$(cd "$(dirname "$0")" && pwd)"
mkdir -p "$out"
bash "$here/stop.sh" "$out"

driver="$here/../../scripts/odbc-driver.sh"
pg_ansi="$("$driver" psqlodbca.so)"
pg_unicode="$("$driver" psqlodbcw.so)"
mariadb_odbc="$("$driver" libmaodbc.so)"

root="$(mktemp -d /tmp/rowpress-servers-XXXXXX)"
chmod 755 "$root"  # the servers run as their own users and must reach their directories
# The root is known to stop.sh from here on, so that it can clean up whatever happens next.
echo "ROWPRESS_SERVERS_ROOT=$root" > "$out/servers.env.part"
mv "$out/servers.env.part" "$out/servers.root"

failed() {
  echo "start.sh: a database server did not start; stopping what did" >&2
  bash "$here/stop.sh" "$out"
}
trap failed ERR

begin=$(date +%s%N)
# Both servers start side by side.
bash "$here/postgres.sh" start "$root/postgres" &
postgres_started=$!
bash "$here/mariadb.sh" start "$root/mariadb" &
mariadb_started=$!
# Both are waited for before judging, so that the cleanup never races a server still starting.
started=1
wait "$postgres_started" || started=0
wait "$mariadb_started" || started=0
if [ "$started" -eq 0 ]; then
  failed
  exit 1
fi

{
  echo "ROWPRESS_SERVERS_ROOT=$root"
  echo "ROWPRESS_SERVER_SCRIPTS=$here"
  echo "PSQLODBC_ANSI=$pg_ansi"
  echo "PSQLODBC_UNICODE=$pg_unicode"
  echo "MARIADB_ODBC=$mariadb_odbc"
  cat "$root/postgres/postgres.env" "$root/mariadb/mariadb.env"
} > "$out/servers.env.part"
mv "$out/servers.env.part" "$out/servers.env"
trap - ERR

# Should the test run be killed before its cleanup, the servers still go after a while
# (ROWPRESS_SERVERS_LIFETIME seconds, 45 minutes unless set). stop.sh ends this watchdog.
lifetime="${ROWPRESS_SERVERS_LIFETIME:-2700}"
setsid bash -c "sleep $lifetime; exec bash '$here/stop.sh' '$out'" < /dev/null > /dev/null 2>&1 &
echo $! > "$root/watchdog.pid"
elapsed_ms=$((($(date +%s%N) - begin) / 1000000))
echo "PostgreSQL on 127.0.0.1:$(sed -n 's/^PG_PORT=//p' "$out/servers.env")" \
  "and MariaDB on 127.0.0.1:$(sed -n 's/^MARIADB_PORT=//p' "$out/servers.env")" \
  "started in ${elapsed_ms} ms ($root)"
