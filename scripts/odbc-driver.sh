#!/usr/bin/env bash
# Prints the full path of an ODBC driver library that rowpress is tested with, as its Debian
# package installed it for this machine's architecture (under /usr/lib/<multiarch>/odbc/).
# Every script, test and the benchmark find their drivers here and nowhere else.
#
#   odbc-driver.sh LIBRARY
#
#   libsqlite3odbc.so   SQLite3 (libsqliteodbc)
#   psqlodbcw.so        PostgreSQL Unicode (odbc-postgresql)
#   psqlodbca.so        PostgreSQL ANSI (odbc-postgresql)
#   libmaodbc.so        MariaDB Unicode (odbc-mariadb)
#
# Fails with a message naming the package to install when the driver is not there.
set -euo pipefail

library="${1:?usage: odbc-driver.sh LIBRARY (libsqlite3odbc.so, psqlodbcw.so, psqlodbca.so, libmaodbc.so)}"
case "$library" in
  libsqlite3odbc.so) package=libsqliteodbc ;;
  psqlodbcw.so | psqlodbca.so) package=odbc-postgresql ;;
  libmaodbc.so) package=odbc-mariadb ;;
  *)
    echo "odbc-driver.sh: unknown ODBC driver library $library" >&2
    exit 2
    ;;
esac

# The package of the machine's own architecture: a driver of another one would not load.
path=$(dpkg -L "$package:$(dpkg --print-architecture)" 2> /dev/null |
  grep -m 1 "/odbc/$library\$" || true)
if [ -z "$path" ] || [ ! -f "$path" ]; then
  echo "odbc-driver.sh: the ODBC driver $library is missing (install $package)" >&2
  exit 1
fi
echo "$path"
