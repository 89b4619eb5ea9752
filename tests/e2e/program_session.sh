#!/usr/bin/env bash
# Runs one program on the emulated board under a private Xvfb and drives it
# with the keyboard, as an operator would. Every step waits for what it can
# see on the X server (windows mapped, the keyboard focus), never for a while.
#   program_session.sh EMULATOR PROGRAM works       window opens; File, Exit ends it with 0
#   program_session.sh EMULATOR PROGRAM no-board    warning box; OK ends it with 1 and the
#                                                   library's one-line reason on stderr
#   program_session.sh EMULATOR PROGRAM read-fails  every read stalls: Alt+R shows the error box,
#                                                   and after OK Alt+R reaches the window again
#   program_session.sh EMULATOR PROGRAM renumerating  as works, with firmware that re-enumerates
set -euo pipefail
emulator=$1 program=$2 mode=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/session.XXXXXX")
cleanup() {
  [ -n "${program_pid:-}" ] && kill "$program_pid" 2>/dev/null || true
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  if [ -s "$work/stderr" ]; then echo "the program's stderr:" >&2; cat "$work/stderr" >&2; fi
  exit 1
}

# await WHAT COMMAND...: runs COMMAND until it succeeds; after 20 s fails with WHAT.
await() {
  local what=$1 deadline=$((SECONDS + 20))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || fail "$what"
    sleep 0.05
  done
}
# The program's mapped windows: the main window, a box, an open menu.
program_windows() { xdotool search --onlyvisible --pid "$window_pid" 2>/dev/null; }
program_windows_are() { [ "$(program_windows | wc -l)" -eq "$1" ]; }
focus_is_on() { [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ]; }
box_has_focus() {   # a window of the program other than the main one has the keyboard
  local focused
  focused=$(xdotool getwindowfocus 2>/dev/null) && [ "$focused" != "$window" ] &&
    program_windows | grep -qx "$focused"
}

source "$(dirname "$0")/../../scripts/private_display.sh"
start_private_display "$work" || exit 1   # its one line says why
unset QT_QPA_PLATFORM
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"

emulator_options=()
[ "$mode" = no-board ] && emulator_options=(--no-board)
[ "$mode" = read-fails ] && emulator_options=(--stall 0xDA)
[ "$mode" = renumerating ] && emulator_options=(--renumerate) && mode=works
"$emulator" "${emulator_options[@]}" -- "$program" 2>"$work/stderr" &
program_pid=$!

# In no-board mode this is the warning box: the main window is never shown.
window=$(timeout 60 xdotool search --sync --onlyvisible --limit 1 --name '^Tarnel Evaluation Software$') ||
  fail "no window titled 'Tarnel Evaluation Software' appeared"
window_pid=$(xdotool getwindowpid "$window")
await "the first window did not get the keyboard" focus_is_on "$window"

case $mode in
  works)
    xdotool key --clearmodifiers alt+f
    await "Alt+F did not open the File menu" program_windows_are 2
    xdotool key x ;;
  no-board)
    xdotool key --clearmodifiers Return ;;
  read-fails)
    for attempt in first second; do
      xdotool key --clearmodifiers alt+r
      await "the $attempt Alt+R did not show the error box" program_windows_are 2
      await "the error box did not get the keyboard" box_has_focus
      xdotool key Return
      await "the main window did not get the keyboard back after OK" focus_is_on "$window"
    done
    xdotool key --clearmodifiers alt+f
    await "Alt+F did not open the File menu after the error boxes" program_windows_are 2
    xdotool key x ;;
esac

status=0
timeout 30 tail --pid="$program_pid" -f /dev/null || fail "program did not end"
wait "$program_pid" || status=$?
program_pid=

case $mode in
  works | read-fails)
    [ "$status" -eq 0 ] || fail "File, Exit ended the program with $status, not 0" ;;
  no-board)
    [ "$status" -eq 1 ] || fail "the refused start-up ended the program with $status, not 1"
    grep -q "no board" "$work/stderr" || fail "the library did not say that no board was found" ;;
esac
echo "$mode: ok"
