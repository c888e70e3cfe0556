#!/usr/bin/env bash
# Starts the database servers that the server tests talk to: one PostgreSQL and one MariaDB,
# each throwaway, listening on 127.0.0.1 and a socket under /tmp only. Their connection facts
# and the ODBC driver libraries go to OUT_DIR/servers.env (KEY=VALUE lines).
#
#   start.sh OUT_DIR
#
# Servers that an earlier run left behind for OUT_DIR are stopped first. When a server
# cannot be started, whatever did start is stopped again and the script fails.
set -euo pipefail

out="${1:?usage: start.sh OUT_DIR}"
here="$(cd "$(dirname "$0")" && pwd)"
mkdir -p "$out"
bash "$here/stop.sh" "$out"

find_library() {
  local found
  found="$(ls /usr/lib/*/odbc/"$1" 2>/dev/null | head -n 1)"
  if [ -z "$found" ]; then
    echo "start.sh: ODBC driver $1 is missing (install $2)" >&2
    return 1
  fi
  echo "$found"
}
pg_ansi="$(find_library psqlodbca.so odbc-postgresql)"
pg_unicode="$(find_library psqlodbcw.so odbc-postgresql)"
mariadb_odbc="$(find_library libmaodbc.so odbc-mariadb)"

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
wait "$postgres_started"
wait "$mariadb_started"

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
elapsed_ms=$((($(date +%s%N) - begin) / 1000000))
echo "PostgreSQL on 127.0.0.1:$(sed -n 's/^PG_PORT=//p' "$out/servers.env")" \
  "and MariaDB on 127.0.0.1:$(sed -n 's/^MARIADB_PORT=//p' "$out/servers.env")" \
  "started in ${elapsed_ms} ms ($root)"
