#!/usr/bin/env bash
# Runs a command with one private X display shared by every Wine process it starts,
# then stops the display, and the prefix's Wine processes when no other run uses it.
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${BUILD_DIR:-$ROOT/build}"
export WINEPREFIX="${SV_WINEPREFIX:-$BUILD/wineprefix}"
source "$ROOT/scripts/xvfb.sh"
# Ctrl+C goes to the command; this script waits for it to end and then cleans up.
trap : INT TERM
trap stop_xvfb EXIT
start_xvfb
# Every run in this prefix holds a shared lock on it while its command runs. Ending the
# prefix's Wine processes would also end those of another run (a second `make run`, which
# only says "already running", would end the first one's host), so only a run that finds
# itself the last one ends them. An ending run holds the lock alone, so a run starting
# meanwhile waits for it rather than meeting a Wine server on its way out; the kill's own
# wait is bounded (about 10 s), so this wait has a bound too.
mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>>"$WINEPREFIX.runs"
if ! flock -s -w 60 9; then
  echo "with-display: another run has been ending the Wine processes of $WINEPREFIX for 60 s; end them with: WINEPREFIX=$WINEPREFIX wineserver -k" >&2
  exit 1
fi
# The command and what it starts (the Wine server among them) must not hold the lock.
"$@" 9>&-
rc=$?
if flock -x -n 9; then
  wineserver -k >/dev/null 2>&1 9>&- || true
fi
exec 9>&-
stop_xvfb
exit $rc
