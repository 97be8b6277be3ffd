#!/usr/bin/env bash
# Runs one test script with the prefix's cscript. A script passes only when
# it ran to its last line, counted its checks and failed none: cscript under
# Wine reports neither a syntax error nor an unhandled run-time error, so its
# exit code alone would let a broken script pass.
# Usage: run-script.sh SCRIPT [ENV=VALUE...]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/tools/wine-env.sh"
script=${1:-}
if [ -z "$script" ] || [ ! -f "$script" ]; then
  echo "run-script: no such script: '$script'"
  exit 2
fi
shift
ext=${script##*.}
name=$(basename "$script" ".$ext")
work="$root/build/scripts/$CARDKEEP_BITS/$name"
rm -rf "$work"
mkdir -p "$work/data"
# The checking helpers come first and the tally last, in one file.
cat "$root/tests/scripts/lib/prelude.$ext" "$script" "$root/tests/scripts/lib/epilogue.$ext" >"$work/$name.$ext"

winpath() { echo "Z:$(realpath "$1" | tr / '\\')"; }
export CK_TESTDIR=$(winpath "$work/data")
export CK_BINDIR=$(winpath "$CARDKEEP_WINBIN")
for assignment in "$@"; do export "$assignment"; done

output=$("$WINE" cscript //nologo "$(winpath "$work/$name.$ext")" </dev/null 2>&1)
rc=$?
printf '%s\n' "$output"
tally=$(printf '%s\n' "$output" | tr -d '\r' | grep -E '^checks: [0-9]+ passed, [0-9]+ failed$' | tail -n 1)
if [ -z "$tally" ]; then
  echo "run-script: $name stopped before its end (a script error?)"
  exit 1
fi
passed=$(echo "$tally" | sed -E 's/^checks: ([0-9]+) passed.*/\1/')
failed=$(echo "$tally" | sed -E 's/.* ([0-9]+) failed$/\1/')
if [ "$failed" -ne 0 ] || [ "$passed" -eq 0 ] || [ $rc -ne 0 ]; then
  echo "run-script: $name failed ($passed passed, $failed failed, exit $rc)"
  exit 1
fi
exit 0
