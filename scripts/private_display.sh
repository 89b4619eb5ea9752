# Sourced by the scripts that drive the programs under X (the demo and the
# program-session tests).
#
# start_private_display WORK_DIR: starts an Xvfb of its own and exports
# DISPLAY for it; sets xvfb_pid (the caller ends the server). Xvfb picks a free
# display itself and writes its number once it accepts connections, so runs
# side by side never share a display. Returns 1 after one line on stderr when
# no server came up within 20 s.
start_private_display() {
  local work=$1 deadline=$((SECONDS + 20)) said
  if ! command -v Xvfb >/dev/null; then
    echo "Xvfb is not installed — run scripts/install-deps" >&2
    return 1
  fi
  Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  until [ -s "$work/display" ]; do
    if ! kill -0 "$xvfb_pid" 2>/dev/null || [ "$SECONDS" -ge "$deadline" ]; then
      said=$(tail -n 1 "$work/xvfb.log")
      echo "Xvfb did not start (it said: ${said:-nothing}) — check that /tmp/.X11-unix is writable" >&2
      return 1
    fi
    sleep 0.05
  done
  export DISPLAY=":$(head -n 1 "$work/display")"
}
