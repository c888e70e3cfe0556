#!/usr/bin/env bash
# Stops every database server that start.sh OUT_DIR started, and every private server that a
# test started under the same root, by their pid files; then removes their directories and
# the connection facts. Running it again, or with nothing started, does nothing.
#
#   stop.sh OUT_DIR
set -uo pipefail

out="${1:?usage: stop.sh OUT_DIR}"
here="$(cd "$(dirname "$0")" && pwd)"

roots=()
for facts in "$out/servers.root" "$out/servers.env"; do
  [ -f "$facts" ] || continue
  root="$(sed -n 's/^ROWPRESS_SERVERS_ROOT=//p' "$facts" | head -n 1)"
  # Only a directory that start.sh made is ever removed.
  case "$root" in /tmp/rowpress-servers-??????) roots+=("$root") ;; esac
done

for root in $(printf '%s\n' "${roots[@]}" | sort -u); do
  [ -d "$root" ] || continue
  # The watchdog that start.sh left, unless this is the watchdog itself.
  watchdog="$(cat "$root/watchdog.pid" 2>/dev/null || true)"
  if [ -n "$watchdog" ] && [ "$watchdog" != "$$" ] && [ "$watchdog" != "$PPID" ]; then
    kill -TERM -- "-$watchdog" 2>/dev/null || true
  fi
  # The servers shut down side by side; each script waits for its own server to be gone.
  while IFS= read -r pidfile; do
    bash "$here/postgres.sh" stop "$(dirname "$(dirname "$pidfile")")" &
  done < <(find "$root" -path '*/data/postmaster.pid' 2>/dev/null)
  while IFS= read -r pidfile; do
    bash "$here/mariadb.sh" stop "$(dirname "$pidfile")" &
  done < <(find "$root" -name mariadbd.pid 2>/dev/null)
  wait
  rm -rf "$root"
done
rm -f "$out/servers.env" "$out/servers.root" "$out/servers.env.part"
exit 0
