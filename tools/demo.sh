#!/usr/bin/env bash
# The main job: registers the three DLLs in the project's own Wine prefix and
# runs the demo host, with a robot answering the first-run message box.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/tools/wine-env.sh"
"$root/tools/wine-prefix.sh"
bin=$CARDKEEP_WINBIN
"$root/tools/register.sh" "$bin/KORVEX11.dll" "$bin/KORVEX10.dll" "$bin/cardkeep.dll" >/dev/null
# The server started without a display must be gone before windows are shown.
"$WINESERVER" -w

demo="$root/build/demo"
rm -rf "$demo/root"
mkdir -p "$demo/root"
winpath() { echo "Z:$(realpath "$1" | tr / '\\')"; }
export QZENVSLOCALPRO=$(winpath "$demo/root")
robot_log="$demo/robot.log"
rm -f "$robot_log" "$robot_log.stop"

cat >"$demo/run.sh" <<INNER
set -u
"$WINESERVER" -p </dev/null >/dev/null 2>&1
"$WINE" cmd /c exit </dev/null >/dev/null 2>&1
"$WINE" "$bin/cardkeep-robot.exe" --log "$(winpath "$demo")\\robot.log" --timeout 120 </dev/null >/dev/null 2>&1 &
robot=\$!
"$WINE" cscript //nologo "$(winpath "$root/examples/demo.vbs")" </dev/null
rc=\$?
touch "$robot_log.stop"
wait \$robot 2>/dev/null
"$WINESERVER" -k </dev/null >/dev/null 2>&1 || true
exit \$rc
INNER
echo "== cardkeep demo ($CARDKEEP_BITS-bit build, wallet root $QZENVSLOCALPRO)"
xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" bash "$demo/run.sh" | tr -d '\r'
echo
if [ -s "$robot_log" ]; then
  echo "Message boxes shown (answered automatically):"
  sed 's/^/  /; s/|/ | /g' "$robot_log"
else
  echo "No message box was shown."
fi

# Pictures of the two dialogs, filled with a wallet like the demo's.
echo
"$root/tools/screenshots.sh" && echo "Dialog pictures: build/demo/wallet-dialog.png, build/demo/pocket-dialog.png"
