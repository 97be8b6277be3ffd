#!/usr/bin/env bash
# Photographs the two dialogs on a filled wallet: build/demo/wallet-dialog.png
# and build/demo/pocket-dialog.png, each cropped to the dialog's window.
# dialog_shots.exe opens one dialog at a time, writes its window rectangle
# and waits; the picture is taken under the same Xvfb display at 96 DPI,
# then the dialog is closed with Esc.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/tools/wine-env.sh"
"$root/tools/wine-prefix.sh"
bin=$CARDKEEP_WINBIN
"$root/tools/register.sh" "$bin/KORVEX11.dll" "$bin/KORVEX10.dll" "$bin/cardkeep.dll" >/dev/null
# The server that registration started has no display: windows made while
# it still runs could not be shown.
"$WINESERVER" -w

out="$root/build/demo"
work="$out/shots"
rm -rf "$work"
mkdir -p "$work/root"
winpath() { echo "Z:$(realpath "$1" | tr / '\\')"; }
export QZENVSLOCALPRO=$(winpath "$work/root")

cat >"$work/run.sh" <<INNER
set -u
"$WINESERVER" -p </dev/null >/dev/null 2>&1
"$WINE" cmd /c exit </dev/null >/dev/null 2>&1
"$WINE" "$bin/dialog_shots.exe" --folder "$(winpath "$work")" </dev/null &
shots=\$!
rc=0
for name in wallet pocket; do
  for i in \$(seq 600); do [ -f "$work/\$name.rect" ] && break; sleep 0.1; done
  if [ ! -f "$work/\$name.rect" ]; then echo "screenshots: the \$name dialog did not open"; rc=1; break; fi
  read -r x y w h <"$work/\$name.rect"
  import -window root -crop "\${w}x\${h}+\${x}+\${y}" +repage "$out/\$name-dialog.png"
  touch "$work/\$name.done"
done
wait \$shots || rc=1
"$WINESERVER" -k </dev/null >/dev/null 2>&1 || true
exit \$rc
INNER
xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" bash "$work/run.sh"
echo "screenshots: $out/wallet-dialog.png $out/pocket-dialog.png"
