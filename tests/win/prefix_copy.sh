# Sourced by the tests that change machine-wide state (registration,
# installation): they run in a copy of the test prefix with a server of its
# own, removed when the test ends, and share the checking helpers.
# Usage: source prefix_copy.sh NAME
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
source "$root/tools/wine-env.sh"
bin=$CARDKEEP_WINBIN
copy="$root/build/prefix-$1-$CARDKEEP_BITS"
rm -rf "$copy"
cp -a "$WINEPREFIX" "$copy"
export WINEPREFIX=$copy
"$WINESERVER" -p </dev/null >/dev/null 2>&1
trap '"$WINESERVER" -k </dev/null >/dev/null 2>&1; rm -rf "$copy"' EXIT

failures=0
check() { # description, command...
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}
ours() { # prints every registry line of ours under a root key
  "$WINE" reg query "$1" /s </dev/null 2>/dev/null | tr -d '\r' |
    grep -iE 'cardkeep|KORVEX|716DC6BE|882AFD46|5E1C3617|89EC6600|CAC86727|23F3DF47|21694C0D|66204B70|063E9C33|6A3403B6|4F346DD0' || true
}
winpath() { echo "Z:$(realpath "$1" | tr / '\\')"; }
