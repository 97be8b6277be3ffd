# Sourced by the tests that change machine-wide state (registration,
# installation): they run in a copy of the test prefix with a server of its
# own, removed when the test ends, and share the checking helpers.
# Usage: source prefix_copy.sh NAME
source "$(dirname "${BASH_SOURCE[0]}")/../../tools/wine-env.sh"
bin=$CARDKEEP_WINBIN
copy="$CARDKEEP_ROOT/build/prefix-$1-$CARDKEEP_BITS"
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
    grep -iE "cardkeep|KORVEX|$(identity_guids | paste -sd '|')" || true
}
