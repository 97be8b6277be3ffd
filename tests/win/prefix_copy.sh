# Sourced by the tests that change machine-wide state (registration,
# installation) or need a prefix without it: they run in a copy of the test
# prefix, or a fresh one, with a server of its own, removed when the test
# ends, and share the checking helpers.
# Usage: source prefix_copy.sh NAME [fresh]
# With "fresh" the prefix is made new instead (tools/wine-prefix.sh), so that
# nothing of ours has ever been registered in it.
source "$(dirname "${BASH_SOURCE[0]}")/../../tools/wine-env.sh"
bin=$CARDKEEP_WINBIN
copy="$CARDKEEP_ROOT/build/prefix-$1-$CARDKEEP_BITS"
rm -rf "$copy"
if [ "${2:-}" = fresh ]; then
  WINEPREFIX=$copy CARDKEEP_PREFIX_BITS=$CARDKEEP_BITS "$CARDKEEP_ROOT/tools/wine-prefix.sh" </dev/null >/dev/null 2>&1 ||
    { echo "FAIL: a fresh prefix cannot be made in $copy"; rm -rf "$copy"; exit 1; }
else
  cp -a "$WINEPREFIX" "$copy"
fi
export WINEPREFIX=$copy
"$WINESERVER" -p </dev/null >/dev/null 2>&1
# A fresh prefix's first program starts its services, which would keep the
# output of the program that started them open: one that prints nothing does.
[ "${2:-}" = fresh ] && "$WINE" cmd /c exit </dev/null >/dev/null 2>&1
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
