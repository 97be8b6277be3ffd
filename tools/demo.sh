#!/usr/bin/env bash
# The main job: registers the three DLLs in the project's own Wine prefix and
# runs the demo host, with a robot answering the first-run message box; then
# photographs the two dialogs (tools/screenshots.sh).
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
demo=$CARDKEEP_ROOT/build/demo
robot_log=$demo/robot.log

# The part that shows windows: tools/on-display.sh runs this script again
# with --shown. The robot is stopped however the demo ends.
if [ "${1:-}" = --shown ]; then
  set +e
  "$WINE" "$CARDKEEP_WINBIN/cardkeep-robot.exe" --log "$(winpath "$demo")\\robot.log" --timeout 120 \
    </dev/null >/dev/null 2>&1 &
  robot=$!
  "$WINE" cscript //nologo "$(winpath "$CARDKEEP_ROOT/examples/demo.vbs")" </dev/null
  rc=$?
  touch "$robot_log.stop"
  wait $robot 2>/dev/null
  exit $rc
fi

ready_prefix
rm -rf "$demo/root"
mkdir -p "$demo/root"
export QZENVSLOCALPRO=$(winpath "$demo/root")
rm -f "$robot_log" "$robot_log.stop"
echo "== cardkeep demo ($CARDKEEP_BITS-bit build, wallet root $QZENVSLOCALPRO)"
"$CARDKEEP_ROOT/tools/on-display.sh" "$0" --shown | tr -d '\r'
echo
if [ -s "$robot_log" ]; then
  echo "Message boxes shown (answered automatically):"
  sed 's/^/  /; s/|/ | /g' "$robot_log"
else
  echo "No message box was shown."
fi

# Pictures of the two dialogs, filled with a wallet like the demo's.
echo
"$CARDKEEP_ROOT/tools/screenshots.sh"
