# Sourced by every script that runs Windows programs.
#
# The tests run the Windows build that this machine can execute: the 32-bit
# one where the kernel runs 32-bit programs, otherwise the 64-bit build of
# the same sources (some kernels ship with 32-bit emulation switched off,
# and then no 32-bit Windows program can start under Wine at all).
# A private prefix under build/ keeps the user's own ~/.wine out of it; the
# overrides stop the prefix from offering to download Mono and Gecko.
_cardkeep_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if [ -z "${CARDKEEP_BITS:-}" ]; then
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then CARDKEEP_BITS=32; else CARDKEEP_BITS=64; fi
fi
export CARDKEEP_BITS
if [ "$CARDKEEP_BITS" = 32 ]; then
  export WINEARCH=win32 WINE=/usr/lib/wine/wine WINESERVER=/usr/lib/wine/wineserver32
else
  export WINEARCH=win64 WINE=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64
fi
export WINEPREFIX=${WINEPREFIX:-$_cardkeep_root/build/wineprefix$CARDKEEP_BITS}
export CARDKEEP_WINBIN=$_cardkeep_root/build/win$CARDKEEP_BITS/bin
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEDEBUG=${WINEDEBUG:--all}
unset _cardkeep_root
