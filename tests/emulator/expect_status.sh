#!/bin/sh
# expect_status.sh EXPECTED COMMAND [ARGS...]
# Runs COMMAND with a fresh TMPDIR and passes when it exits with EXPECTED and
# leaves nothing behind in that TMPDIR (board-emulator removes its test bed).
expected=$1
shift
TMPDIR=$(mktemp -d) || exit 1
export TMPDIR
"$@"
status=$?
leftover=$(ls -A "$TMPDIR")
rm -rf "$TMPDIR"
if [ "$status" -ne "$expected" ]; then
    echo "exit status $status, expected $expected: $*"
    exit 1
fi
if [ -n "$leftover" ]; then
    echo "left behind in TMPDIR: $leftover"
    exit 1
fi
exit 0
