#!/usr/bin/env bash
# Runs one program on the emulated board under a private Xvfb and drives it
# with the keyboard, as an operator would.
#   program_session.sh EMULATOR PROGRAM works     window opens; File, Exit ends it with 0
#   program_session.sh EMULATOR PROGRAM no-board  warning box; OK ends it with 1 and the
#                                                 library's one-line reason on stderr
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
fail() { echo "FAIL: $*" >&2; cat "$work/stderr" >&2 || true; exit 1; }

display_number=$((500 + RANDOM % 3000))
Xvfb ":$display_number" -screen 0 800x600x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY=":$display_number"
unset QT_QPA_PLATFORM
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

emulator_options=()
[ "$mode" = no-board ] && emulator_options=(--no-board)
[ "$mode" = renumerating ] && emulator_options=(--renumerate) && mode=works
"$emulator" "${emulator_options[@]}" -- "$program" 2>"$work/stderr" &
program_pid=$!

window=$(timeout 60 xdotool search --sync --limit 1 --name '^Tarnel Evaluation Software$') ||
  fail "no window titled 'Tarnel Evaluation Software' appeared"
sleep 0.5
xdotool windowfocus --sync "$window"

case $mode in
  works)
    xdotool key --clearmodifiers alt+f; sleep 0.3; xdotool key x ;;
  no-board)
    # The warning box is the only window: the main window is never shown.
    xdotool key --clearmodifiers Return ;;
esac

status=0
timeout 30 tail --pid="$program_pid" -f /dev/null || fail "program did not end"
wait "$program_pid" || status=$?
program_pid=

case $mode in
  works)
    [ "$status" -eq 0 ] || fail "File, Exit ended the program with $status, not 0" ;;
  no-board)
    [ "$status" -eq 1 ] || fail "the refused start-up ended the program with $status, not 1"
    grep -q "no board" "$work/stderr" || fail "the library did not say that no board was found" ;;
esac
echo "$mode: ok"
