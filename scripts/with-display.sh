#!/usr/bin/env bash
# Runs a command with one private X display shared by every Wine process it starts,
# then stops that prefix's Wine processes and the display.
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${BUILD_DIR:-$ROOT/build}"
export WINEPREFIX="${SV_WINEPREFIX:-$BUILD/wineprefix}"
fdfile=$(mktemp)
exec 8>"$fdfile"
Xvfb -displayfd 8 -screen 0 "${SV_SCREEN:-1280x720x24}" -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 100); do
  [ -s "$fdfile" ] && break
  sleep 0.05
done
exec 8>&-
export DISPLAY=":$(tr -d '[:space:]' < "$fdfile")"
rm -f "$fdfile"
"$@"
rc=$?
wineserver -k >/dev/null 2>&1 || true
kill "$xvfb_pid" 2>/dev/null || true
wait "$xvfb_pid" 2>/dev/null || true
exit $rc
