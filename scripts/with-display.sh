#!/usr/bin/env bash
# Runs a command with one private X display shared by every Wine process it starts,
# then stops that prefix's Wine processes and the display.
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${BUILD_DIR:-$ROOT/build}"
export WINEPREFIX="${SV_WINEPREFIX:-$BUILD/wineprefix}"
source "$ROOT/scripts/xvfb.sh"
# Ctrl+C goes to the command; this script waits for it to end and then cleans up.
trap : INT TERM
trap stop_xvfb EXIT
start_xvfb
"$@"
rc=$?
wineserver -k >/dev/null 2>&1 || true
stop_xvfb
exit $rc
