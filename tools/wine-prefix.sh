#!/usr/bin/env bash
# Creates the project's Wine prefix once and tunes it for tests.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
stamp=$WINEPREFIX/.cardkeep-ready
# Wine's own faces (the bitmap "MS Sans Serif" of the dialogs' fields, Marlett
# for the caption buttons) are found only in the prefix's Fonts folder;
# without them the close box shows as the letter "r".
fonts() {
  [ -d /usr/share/wine/fonts ] || return 0
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  cp -u /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
}
if [ -f "$stamp" ]; then fonts; exit 0; fi
rm -rf "$WINEPREFIX"
mkdir -p "$(dirname "$WINEPREFIX")"
"$WINE" wineboot -i </dev/null >/dev/null 2>&1
# Without a window manager every window close waits about two seconds for a
# reply that never comes; unmanaged windows close at once.
"$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
"$WINESERVER" -w
fonts
touch "$stamp"
