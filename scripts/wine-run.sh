#!/usr/bin/env bash
# Runs a Windows executable under Wine in the project's own prefix, with a
# private X display so that screen, window and input code has something real.
# Used by CTest as the cross-compiling emulator and by the end-to-end tests.
#   SV_WINEPREFIX   prefix to use (default: <build>/wineprefix)
#   SV_NO_DISPLAY=1 run without a display
#   SV_SCREEN       Xvfb screen geometry (default 1280x720x24)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${BUILD_DIR:-$ROOT/build}"
export WINEPREFIX="${SV_WINEPREFIX:-$BUILD/wineprefix}"
export WINEDEBUG=-all
# Wine names files in the character set of the caller's locale: without UTF-8 (LANG unset,
# as on a bare Debian) every file name outside ASCII fails to be made or found. C.UTF-8 is
# in every Debian's C library.
if [ "$(locale charmap 2>/dev/null)" != UTF-8 ]; then
  export LC_ALL=C.UTF-8
fi
export WINEARCH=win64
# No Mono or Gecko installers: they would ask the network and block.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
WINE=/usr/lib/wine/wine64
[ -x "$WINE" ] || WINE=wine

mkdir -p "$(dirname "$WINEPREFIX")"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      DISPLAY= "$WINE" wineboot -i >/dev/null 2>&1 || true
      WINEPREFIX="$WINEPREFIX" wineserver -w || true
    fi
  ) 9>"$WINEPREFIX.lock"
fi

source "$ROOT/scripts/xvfb.sh"
trap stop_xvfb EXIT
if [ "${SV_NO_DISPLAY:-0}" != 1 ] && [ -z "${DISPLAY:-}" ]; then
  start_xvfb
elif [ "${SV_NO_DISPLAY:-0}" = 1 ]; then
  unset DISPLAY
fi
set +e
"$WINE" "$@"
rc=$?
exit $rc
