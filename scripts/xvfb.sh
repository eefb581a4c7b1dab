# Sourced by the scripts that need a private X display.
# start_xvfb: starts Xvfb on a free display, exports DISPLAY, sets XVFB_PID.
# stop_xvfb: stops it again.
start_xvfb() {
  local fdfile
  fdfile=$(mktemp)
  exec 8>"$fdfile"
  # A session of its own: Ctrl+C in the terminal reaches the programs on the display,
  # never the display itself, so they end cleanly before stop_xvfb takes it away.
  setsid Xvfb -displayfd 8 -screen 0 "${SV_SCREEN:-1280x720x24}" -nolisten tcp -noreset >/dev/null 2>&1 &
  XVFB_PID=$!
  for _ in $(seq 1 100); do
    [ -s "$fdfile" ] && break
    sleep 0.05
  done
  exec 8>&-
  export DISPLAY=":$(tr -d '[:space:]' < "$fdfile")"
  rm -f "$fdfile"
}

stop_xvfb() {
  if [ -n "${XVFB_PID:-}" ]; then
    kill "$XVFB_PID" 2>/dev/null || true
    wait "$XVFB_PID" 2>/dev/null || true
    XVFB_PID=""
  fi
}
