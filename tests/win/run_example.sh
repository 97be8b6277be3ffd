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

start_robot "$work/robot.log" "$work/robot.out" --timeout 120 || { echo "FAIL: no robot"; exit 1; }
case "$example" in
  *.vbs | *.js) run_host cscript //nologo "$(winpath "$example")" ;;
  *) run_host "$example" ;;
esac
touch "$work/robot.log.stop"
wait "$robot_pid" 2>/dev/null
output=$(printf '%s\n' "$host_output" | tr -d '\r')
printf '%s\n' "$output"
failures=0
[ $host_rc -eq 0 ] || { echo "FAIL: exit code $host_rc"; failures=1; }
for line in "$@"; do
  if ! grep -qxF -- "$line" <<<"$output"; then echo "FAIL: no line '$line'"; failures=1; fi
done
[ $failures -eq 0 ] || host_failed "$name"
tr -d '\r' <"$work/robot.log" | grep -qx 'Invalid Wallet|Wallet file does not exists on this computer|OK' ||
  { echo "FAIL: the first-run message box was not shown"; failures=1; }
exit $failures
