#!/usr/bin/env bash
# Creates the project's Wine prefix once and tunes it for tests.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
stamp=$WINEPREFIX/.cardkeep-ready
[ -f "$stamp" ] && exit 0
rm -rf "$WINEPREFIX"
mkdir -p "$(dirname "$WINEPREFIX")"
"$WINE" wineboot -i </dev/null >/dev/null 2>&1
# Without a window manager every window close waits about two seconds for a
# reply that never comes; unmanaged windows close at once.
"$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
"$WINESERVER" -w
touch "$stamp"
