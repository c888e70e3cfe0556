#!/usr/bin/env bash
# Installs the Debian packages that rowpress needs, without harming the machine it runs on.
#
#   install-deps.sh [--demo] [--dry-run] [PACKAGE...]
#
#   --demo      only what building rowpress and running the demo need
#               (scripts/packages.d/demo.txt); without it, every list in scripts/packages.d/,
#               which adds what the tests need
#   --dry-run   say what would be installed, and whether apt would remove anything for it;
#               change nothing
#   PACKAGE...  further packages to install
#
# Packages already present are left alone; apt-get runs through sudo when not root.
#   - Nothing is ever removed: every install is simulated first (apt-get -s), and when apt
#     would remove a package to make room, nothing is installed and the script fails,
#     naming the package it wanted and the packages that would go.
#   - LibreOffice: an installed LibreOffice Calc is used as it is; where only the office
#     core is installed, the Calc of the same kind joins it; the no-GUI Calc is installed
#     only where there is no LibreOffice at all (it conflicts with the desktop one).
#   - No system-wide server is left running that was not running before: maintainer
#     scripts may start no service during the install (a temporary /usr/sbin/policy-rc.d
#     answering 101), PostgreSQL server packages are installed with Debian's automatic main
#     cluster turned off (create_main_cluster in /etc/postgresql-common/createcluster.conf,
#     put back as it was afterwards), and a MariaDB or PostgreSQL server that runs after the
#     install but did not before is stopped again; under systemd a MariaDB service that the
#     install enabled is disabled again. The tests start private servers of their own.
#   - The system files changed for the time of the install are put back on every way out:
#     at the end, and on SIGINT, SIGTERM and SIGHUP, which stop the install first (apt-get
#     gets SIGTERM) and end the script with 128 + the signal's number. Each changed file
#     holds a mark line, and the file it replaced waits beside it as FILE.rowpress-saved, so
#     that a run killed outright (SIGKILL, a crash) is put right at the next start: a marked
#     file gets its saved original back, or goes when there was none. A file without the mark
#     (the machine's own policy-rc.d, as Debian's container images have) is left alone. One
#     run at a time changes the files (a lock in /run/lock).
#
# ROWPRESS_DEPS_ROOT, when set, is a directory that stands for / in the system files that
# this script reads and changes (for tests of this script).
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
root="${ROWPRESS_DEPS_ROOT:-}"
policy="$root/usr/sbin/policy-rc.d"
createcluster="$root/etc/postgresql-common/createcluster.conf"
# The system files that a run changes for the time of its install, the line that marks them
# as changed, and the lock that a run holds while it changes them.
changed_files=("$policy" "$createcluster")
mark="# rowpress install-deps.sh: changed for the time of its install, put back when it ends"
lock="$root/run/lock/rowpress-install-deps.lock"
mariadb_pidfile="$root/run/mysqld/mysqld.pid"
apt=(apt-get -o DPkg::Lock::Timeout=600)

demo=0
dry_run=0
extra=()
for arg in "$@"; do
  case "$arg" in
    --demo) demo=1 ;;
    --dry-run) dry_run=1 ;;
    -*)
      echo "install-deps.sh: unknown option $arg" >&2
      exit 2
      ;;
    *) extra+=("$arg") ;;
  esac
done

installed() {
  dpkg-query -W -f='${Status}\n' "$1" 2>/dev/null | grep -q " ok installed$"
}

# The LibreOffice Calc to install for the tests that read workbooks back, or nothing when one
# is there. The no-GUI packages conflict with the desktop ones.
spreadsheet_package() {
  if installed libreoffice-calc || installed libreoffice-calc-nogui; then
    return 0
  elif installed libreoffice-core; then
    echo libreoffice-calc
  else
    echo libreoffice-calc-nogui
  fi
}

read_list() {
  local p
  while read -r p _; do
    case "$p" in "" | \#*) ;; *) echo "$p" ;; esac
  done < "$1"
}

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# Whether a changed file or a saved original is there: left by a run that was killed, or by
# one that runs now (the lock tells them apart).
changed_files_there() {
  local file
  for file in "${changed_files[@]}"; do
    grep -qxF "$mark" "$file" 2> /dev/null && return 0
    [ -e "$file.rowpress-saved" ] && return 0
    [ -e "$file.rowpress-new" ] && return 0
  done
  return 1
}

# Every changed file as it was before: a marked file gets its saved original back, or goes
# when there was none; a file without the mark stays, and a saved copy beside it goes (the
# run was killed before it changed the file, or another program replaced it since).
put_back() {
  local file
  for file in "${changed_files[@]}"; do
    if grep -qxF "$mark" "$file" 2> /dev/null; then
      if [ -e "$file.rowpress-saved" ]; then
        $sudo mv -f "$file.rowpress-saved" "$file"
      else
        $sudo rm -f "$file"
      fi
    fi
    $sudo rm -f "$file.rowpress-saved" "$file.rowpress-new"
  done
}

# Waits for another run that changes the files to end; held until this one ends.
take_lock() {
  [ -n "${locked:-}" ] && return 0
  if [ ! -e "$lock" ]; then
    $sudo mkdir -p "$(dirname "$lock")"
    $sudo touch "$lock"
  fi
  exec 9< "$lock"
  if ! flock -n 9; then
    echo "install-deps.sh: waiting for another install-deps.sh to end"
    if ! flock -w 900 9; then
      echo "install-deps.sh: another install-deps.sh still holds $lock; nothing was installed" >&2
      exit 1
    fi
  fi
  locked=1
}

# What a killed run left is put right, under the lock: what a run that still goes changed is
# not taken for a leftover.
put_right() {
  take_lock
  changed_files_there || return 0
  echo "install-deps.sh: putting back the system files that a killed run changed"
  put_back
}
if changed_files_there; then
  if [ "$dry_run" -eq 1 ]; then
    echo "Would put back the system files that a killed run of install-deps.sh changed."
  else
    put_right
  fi
fi

wanted=()
if [ "$demo" -eq 1 ]; then
  mapfile -t wanted < <(read_list "$here/packages.d/demo.txt")
else
  for list in "$here"/packages.d/*.txt; do
    [ -f "$list" ] || continue
    mapfile -t -O "${#wanted[@]}" wanted < <(read_list "$list")
  done
fi
wanted+=("${extra[@]}")

missing=()
for p in "${wanted[@]}"; do
  case "$p" in
    libreoffice-calc-nogui) p="$(spreadsheet_package)" ;;
  esac
  [ -n "$p" ] || continue
  installed "$p" && continue
  case " ${missing[*]} " in *" $p "*) continue ;; esac
  missing+=("$p")
done
if [ "${#missing[@]}" -eq 0 ]; then
  [ "$dry_run" -eq 1 ] && echo "Nothing to install."
  exit 0
fi

# The packages that apt would remove to install `$@`, one a line. A simulation that fails
# (an unknown package, broken dependencies) ends the script with apt's own words.
removals() {
  local plan
  if ! plan="$("${apt[@]}" -s install -y -q --no-install-recommends "$@" 2>&1)"; then
    echo "$plan" >&2
    echo "install-deps.sh: apt-get cannot install $*; nothing was installed" >&2
    exit 1
  fi
  sed -n 's/^Remv \([^ ]*\).*/\1/p' <<< "$plan"
}

# Fails, naming each package whose install would remove others, and what it would remove.
refuse_removals() {
  local all gone p named=0
  all="$(removals "${missing[@]}" | tr '\n' ' ')"
  [ -z "$all" ] && return 0
  for p in "${missing[@]}"; do
    gone="$(removals "$p" | tr '\n' ' ')"
    [ -n "$gone" ] || continue
    echo "install-deps.sh: installing $p would remove ${gone% }; nothing was installed" >&2
    named=1
  done
  if [ "$named" -eq 0 ]; then
    echo "install-deps.sh: installing ${missing[*]} would remove ${all% }; nothing was" \
      "installed" >&2
  fi
  echo "install-deps.sh: install it in a way that keeps those packages, or run the tests" \
    "on another machine; the tests that need it fail without it" >&2
  exit 1
}

if [ "$dry_run" -eq 1 ]; then
  echo "Would install: ${missing[*]}"
  refuse_removals
  exit 0
fi

echo "Installing: ${missing[*]}"
$sudo "${apt[@]}" update -q
refuse_removals

# What runs before the install, to leave exactly that running afterwards.
systemd=0
[ -d "$root/run/systemd/system" ] && systemd=1
unit_state() { # UNIT: "active enabled" and the like
  echo "$(systemctl is-active "$1" 2>/dev/null || true) $(systemctl is-enabled "$1" 2>/dev/null || true)"
}
mariadb_running() { # by the pid file of Debian's MariaDB service
  local pid
  pid="$(cat "$mariadb_pidfile" 2>/dev/null || true)"
  [ -n "$pid" ] && [ -d "/proc/$pid" ]
}
online_clusters() {
  command -v pg_lsclusters > /dev/null || return 0
  pg_lsclusters -h 2>/dev/null | awk '$4 == "online" { print $1 "/" $2 }'
}
mariadb_before=0
mariadb_running && mariadb_before=1
clusters_before="$(online_clusters)"
mariadb_unit_before=""
[ "$systemd" -eq 1 ] && mariadb_unit_before="$(unit_state mariadb)"

# The system files changed for the time of the install are put back on every way out. A
# signal stops the install that runs (apt-get gets SIGTERM, and the files stay changed until
# it has ended) and ends the script with 128 + its number.
put_right
job=""
stop() { # STATUS
  trap '' INT TERM HUP
  if [ -n "$job" ]; then
    kill -TERM "$job" 2> /dev/null || true
    wait "$job" || true
  fi
  exit "$1"
}
trap put_back EXIT
trap 'stop 130' INT
trap 'stop 143' TERM
trap 'stop 129' HUP

# FILE MODE: standard input, which holds the mark line, replaces FILE in one rename; the file
# it replaces is kept beside it as FILE.rowpress-saved until put_back.
change_file() {
  local file="$1"
  $sudo mkdir -p "$(dirname "$file")"
  [ -e "$file" ] && $sudo cp -p "$file" "$file.rowpress-saved"
  $sudo tee "$file.rowpress-new" > /dev/null
  $sudo chmod "$2" "$file.rowpress-new"
  $sudo mv -f "$file.rowpress-new" "$file"
}

# No maintainer script starts a service while packages are installed.
printf '#!/bin/sh\n%s\nexit 101\n' "$mark" | change_file "$policy" 755

# apt-get runs as a job of its own that the script waits for, so that a signal reaches the
# script at once, and through it apt-get. It keeps the standard input and not the lock, which
# no program that the install starts may hold on to.
install() {
  local status=0
  DEBIAN_FRONTEND=noninteractive $sudo "${apt[@]}" install -y -q --no-install-recommends \
    "$@" <&0 9<&- &
  job=$!
  wait "$job" || status=$?
  job=""
  return "$status"
}

servers=()
rest=()
for p in "${missing[@]}"; do
  case "$p" in
    postgresql-[0-9]*[0-9] | postgresql) servers+=("$p") ;;
    *) rest+=("$p") ;;
  esac
done
if [ "${#servers[@]}" -gt 0 ]; then
  # postgresql-common owns the file that says whether a server package creates the main
  # cluster; it is installed on its own first, so that the file is its own when changed.
  installed postgresql-common || install postgresql-common
  {
    grep -v '^[[:space:]]*#*[[:space:]]*create_main_cluster[[:space:]]*=' "$createcluster" \
      2>/dev/null || true
    echo "$mark"
    echo "create_main_cluster = false"
  } | change_file "$createcluster" 644
fi
install "${rest[@]}" "${servers[@]}"
put_back
trap - EXIT

# A server that runs now but did not before goes again.
if [ "$mariadb_before" -eq 0 ] && mariadb_running; then
  echo "install-deps.sh: stopping the MariaDB server that the install started"
  if [ "$systemd" -eq 1 ]; then
    $sudo systemctl stop mariadb
  else
    $sudo service mariadb stop
  fi
fi
if [ "$systemd" -eq 1 ] && [ -n "$mariadb_unit_before" ]; then
  now="$(unit_state mariadb)"
  if [ "${now% *}" = active ] && [ "${mariadb_unit_before% *}" != active ]; then
    $sudo systemctl stop mariadb
  fi
  if [ "${now#* }" = enabled ] && [ "${mariadb_unit_before#* }" != enabled ]; then
    echo "install-deps.sh: disabling the MariaDB service that the install enabled"
    $sudo systemctl disable mariadb
  fi
fi
for cluster in $(online_clusters); do
  grep -qxF "$cluster" <<< "$clusters_before" && continue
  echo "install-deps.sh: stopping the PostgreSQL cluster $cluster that the install started"
  $sudo pg_ctlcluster "${cluster%/*}" "${cluster#*/}" stop
done
if [ "$mariadb_before" -eq 0 ]; then
  for _ in $(seq 1 300); do
    mariadb_running || exit 0
    sleep 0.1
  done
  echo "install-deps.sh: the MariaDB server that the install started still runs" >&2
  exit 1
fi
