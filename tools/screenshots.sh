#!/usr/bin/env bash
# Photographs the two dialogs on a filled wallet: build/demo/wallet-dialog.png
# and build/demo/pocket-dialog.png, each cropped to the dialog's window.
# dialog_shots.exe opens one dialog at a time, writes its window rectangle
# and waits; the picture is taken under the same Xvfb display at 96 DPI,
# then the dialog is closed with Esc.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
out=$CARDKEEP_ROOT/build/demo
work=$out/shots

# The part that shows windows: tools/on-display.sh runs this script again
# with --shown. A picture that fails does not stop it: the dialog waiting
# for its picture is still closed.
if [ "${1:-}" = --shown ]; then
  set +e
  "$WINE" "$CARDKEEP_WINBIN/dialog_shots.exe" --folder "$(winpath "$work")" </dev/null &
  shots=$!
  rc=0
  for name in wallet pocket; do
    for _ in $(seq 600); do [ -f "$work/$name.rect" ] && break; sleep 0.1; done
    if [ ! -f "$work/$name.rect" ]; then echo "screenshots: the $name dialog did not open"; rc=1; break; fi
    read -r x y w h <"$work/$name.rect"
    import -window root -crop "${w}x${h}+${x}+${y}" +repage "$out/$name-dialog.png"
    touch "$work/$name.done"
  done
  wait $shots || rc=1
  exit $rc
fi

ready_prefix
rm -rf "$work"
mkdir -p "$work/root"
export QZENVSLOCALPRO=$(winpath "$work/root")
"$CARDKEEP_ROOT/tools/on-display.sh" "$0" --shown
echo "screenshots: $out/wallet-dialog.png $out/pocket-dialog.png"
