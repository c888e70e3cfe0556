#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running rowpress need. Packages
# already present are left alone; apt-get runs through sudo when not root.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  unixodbc unixodbc-dev libsqliteodbc odbc-postgresql
  qt6-base-dev libgtest-dev libgmock-dev
  sqlite3 libxml2-utils python3
)
# Parts of the project that need more list their packages in scripts/packages.d/*.txt.
for list in "$(dirname "$0")"/packages.d/*.txt; do
  [ -f "$list" ] || continue
  while read -r p _; do
    case "$p" in ""|\#*) ;; *) packages+=("$p") ;; esac
  done < "$list"
done
if [ "$#" -gt 0 ]; then packages+=("$@"); fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ "${#missing[@]}" -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
