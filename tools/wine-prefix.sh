#!/usr/bin/env bash
# Creates the project's Wine prefix once and tunes it for tests.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
# The stamp's number changes whenever the tuning below does, so that older
# prefixes are made again.
stamp=$WINEPREFIX/.cardkeep-ready-2
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
# A program that crashes ends at once with a failing exit code: no debugger
# can be started, so none waits in a crash dialog that nobody answers until
# the test times out (and none ends the program with exit code 0). Both
# views of the key, for 64-bit and 32-bit programs.
for key in 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
           'HKLM\Software\Wow6432Node\Microsoft\Windows NT\CurrentVersion\AeDebug'; do
  "$WINE" reg add "$key" /v Debugger /d 'no-debugger.exe' /f </dev/null >/dev/null 2>&1
done
"$WINESERVER" -w
fonts
touch "$stamp"
