#!/usr/bin/env bash
# Runs COMMAND on a display of its own, with one kept-alive wineserver for
# each build's prefix, and exits with COMMAND's exit code.
# Usage: on-display.sh [--bits "32 64"] COMMAND [ARGUMENT...]
# --bits names the builds whose prefixes get a server (default: the build
# tools/wine-env.sh chooses).
#
# Why each step:
# - A window shown without a display returns at once, so a test would pass
#   without its window ever appearing: COMMAND runs under one Xvfb display
#   (at 96 DPI, the size the dialogs are drawn and photographed at).
# - A wineserver started on another display, or on none, breaks the windows
#   of every later program of its prefix: a server still running from an
#   earlier step (making the prefix, registering the DLLs) is waited for
#   first, and the kept-alive ones start under the display.
# - Without a kept-alive server every program pays 3 to 4 s for starting its
#   own, and a server that a program under CTest starts keeps CTest's output
#   pipe open: these servers start with their output on /dev/null and are
#   warmed (`wine cmd /c exit`) before COMMAND, and stopped after it.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"

inside=0
if [ "${1:-}" = --inside ]; then inside=1; shift; fi
bits=$CARDKEEP_BITS
if [ "${1:-}" = --bits ]; then bits=$2; shift 2; fi
if [ $# -eq 0 ]; then
  echo "usage: on-display.sh [--bits \"32 64\"] COMMAND [ARGUMENT...]" >&2
  exit 2
fi

# servers OPTION: runs each prefix's wineserver with OPTION: -w waits for a
# running one to end, -p starts one that stays (and warms it), -k stops it.
servers() {
  local b
  for b in $bits; do
    ( export CARDKEEP_BITS=$b
      source "$CARDKEEP_ROOT/tools/wine-env.sh"
      "$WINESERVER" "$1" </dev/null >/dev/null 2>&1
      if [ "$1" = -p ]; then "$WINE" cmd /c exit </dev/null >/dev/null 2>&1; fi ) || true
  done
}

if [ $inside = 0 ]; then
  servers -w
  exec xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" bash "$0" --inside --bits "$bits" "$@"
fi
trap 'servers -k' EXIT
servers -p
rc=0
"$@" || rc=$?
exit $rc
