#!/usr/bin/env bash
# Runs one host example of the guide as it stands, with a fresh wallet root
# and the robot answering the first-run message box, and checks its output.
# Usage: run_example.sh EXAMPLE EXPECTED-LINE...
set -uo pipefail
source "$(dirname "$0")/../../tools/wine-env.sh"
example=$1; shift
name=$(basename "$example")
work="$CARDKEEP_ROOT/build/examples/$CARDKEEP_BITS/$name"
rm -rf "$work"
mkdir -p "$work/root"
export QZENVSLOCALPRO=$(winpath "$work/root")

"$WINE" "$CARDKEEP_WINBIN/cardkeep-robot.exe" --log "$(winpath "$work")\\robot.log" --timeout 120 \
  </dev/null >/dev/null 2>&1 &
robot=$!
for _ in $(seq 100); do [ -e "$work/robot.log" ] && break; sleep 0.05; done
case "$example" in
  *.vbs | *.js) output=$("$WINE" cscript //nologo "$(winpath "$example")" </dev/null 2>&1) ;;
  *) output=$("$WINE" "$example" </dev/null 2>&1) ;;
esac
rc=$?
touch "$work/robot.log.stop"
wait $robot 2>/dev/null
output=$(printf '%s\n' "$output" | tr -d '\r')
printf '%s\n' "$output"
failures=0
[ $rc -eq 0 ] || { echo "FAIL: exit code $rc"; failures=1; }
for line in "$@"; do
  if ! grep -qxF -- "$line" <<<"$output"; then echo "FAIL: no line '$line'"; failures=1; fi
done
tr -d '\r' <"$work/robot.log" | grep -qx 'Invalid Wallet|Wallet file does not exists on this computer|OK' ||
  { echo "FAIL: the first-run message box was not shown"; failures=1; }
exit $failures
