#!/bin/sh
# expect_status.sh EXPECTED COMMAND [ARGS...]
# Passes when COMMAND, run with a fresh TMPDIR, exits with EXPECTED and leaves
# nothing behind in that TMPDIR (board-emulator removes its test bed).
expected=$1
shift
TMPDIR=$(mktemp -d) || exit 1
export TMPDIR
"$@"
status=$?
leftover=$(ls -A "$TMPDIR")
rm -rf "$TMPDIR"
[ "$status" -eq "$expected" ] || { echo "exit status $status, expected $expected: $*"; exit 1; }
[ -z "$leftover" ] || { echo "left behind in TMPDIR: $leftover"; exit 1; }
