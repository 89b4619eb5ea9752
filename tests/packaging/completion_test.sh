#!/usr/bin/env bash
# tarnelctl's bash completion against the tarnelctl it completes: every
# command and option its --help names is offered, the --library and --mode
# values are the ones the program accepts, and --csv/--plot complete file names.
# usage: completion_test.sh COMPLETION_FILE TARNELCTL
set -euo pipefail
completion=$(realpath "$1") tarnelctl=$(realpath "$2")
[ -f /usr/share/bash-completion/bash_completion ] ||
  { echo "bash-completion is not installed — run scripts/install-deps" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/completion.XXXXXX")
trap 'rm -rf "$work"' EXIT
touch "$work/sweep.csv" "$work/sweep.png" "$work/sweep.svg" "$work/sweep.pdf" "$work/notes.txt"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# complete WORDS...: what bash offers for the last word.
complete_line() {
  (cd "$work" && bash -c 'source /usr/share/bash-completion/bash_completion; source "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
    _tarnelctl "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf "%s\n" "${COMPREPLY[@]}" | sort' _ "$completion" "$@")
}
expect() {   # expect "WANTED" WORDS...
  local wanted=$1 got
  shift
  got=$(complete_line "$@" | tr '\n' ' ' | sed 's/ $//')
  [ "$got" = "$wanted" ] || fail "'$*' completes to '$got', not '$wanted'"
}

help=$("$tarnelctl" --help)
commands=$(sed -n '/^Commands:/,/^$/s/^  \([a-z][a-z-]*\).*/\1/p' <<<"$help" | sort | tr '\n' ' ' | sed 's/ $//')
options=$(grep -o -- '--[a-z][a-z-]*' <<<"$help" | sort -u | tr '\n' ' ' | sed 's/ $//')
[ -n "$commands" ] && [ -n "$options" ] || fail "no commands or options found in tarnelctl --help"

cases=(
  # wanted completions             | the words typed
  "sweep"                          "$tarnelctl sw"
  "$commands"                      "$tarnelctl "
  "$options"                       "$tarnelctl read --"
  "newer older"                    "$tarnelctl --library "
  "100k 1k hiz normal"             "$tarnelctl code 1 --mode "
  "crlf lf"                        "$tarnelctl meter /dev/ttyS0 --eol "
  "sweep.csv"                      "$tarnelctl sweep --csv sw"
  "sweep.pdf sweep.png sweep.svg"  "$tarnelctl sweep --plot sw"
  "sweep.pdf"                      "$tarnelctl characterize --report sw"
  ""                               "$tarnelctl read re"
  "auto auto:2000"                 "$tarnelctl characterize --settle "
  ""                               "$tarnelctl sweep --settle "
  ""                               "$tarnelctl characterize --drift "
  ""                               "$tarnelctl characterize --repeat "
)
for ((i = 0; i < ${#cases[@]}; i += 2)); do
  read -r -a words <<<"${cases[i + 1]}"
  [[ ${cases[i + 1]} == *" " ]] && words+=("")
  expect "${cases[i]}" "${words[@]}"
done

# The values offered are the values tarnelctl takes: none is refused as bad
# usage (2). --vmax 0 keeps the word from being written: at most the board is
# looked for.
for mode in 100k 1k hiz normal; do
  status=0
  "$tarnelctl" --vmax 0 code 1 --mode "$mode" >/dev/null 2>&1 || status=$?
  [ "$status" -ne 2 ] || fail "tarnelctl refuses --mode $mode"
done
for eol in crlf lf; do
  status=0
  "$tarnelctl" meter /dev/null/none --eol "$eol" >/dev/null 2>&1 || status=$?
  [ "$status" -ne 2 ] || fail "tarnelctl refuses --eol $eol"
done
for library in newer older; do
  "$tarnelctl" --library "$library" --help >/dev/null || fail "tarnelctl refuses --library $library"
done

[ "$failures" -eq 0 ] && echo "completion: ok"
exit "$failures"
