# Sourced by every script that runs Windows programs.
#
# Hosts load the 32-bit build, so it is the one tested first wherever the
# kernel can start 32-bit programs; the 64-bit build of the same sources runs
# everywhere (some kernels ship with 32-bit emulation switched off, and then
# Wine's 32-bit loader fails with "Exec format error").
#   CARDKEEP_CAN32  1 when this kernel starts 32-bit programs
#   CARDKEEP_BITS   the build a script runs (32 where it can, else 64);
#                   set it to force one
# Each build has its own private prefix under build/ (a 32-bit prefix for the
# 32-bit build, a 64-bit one for the 64-bit build), which keeps the user's
# own ~/.wine out of it; the overrides stop a new prefix from offering to
# download Mono and Gecko. The shell helpers (tools/lib.sh) come with it.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
if [ -z "${CARDKEEP_CAN32:-}" ]; then
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then CARDKEEP_CAN32=1; else CARDKEEP_CAN32=0; fi
fi
export CARDKEEP_CAN32
if [ -z "${CARDKEEP_BITS:-}" ]; then
  if [ "$CARDKEEP_CAN32" = 1 ]; then CARDKEEP_BITS=32; else CARDKEEP_BITS=64; fi
fi
export CARDKEEP_BITS
if [ "$CARDKEEP_BITS" = 32 ]; then
  export WINEARCH=win32 WINE=/usr/lib/wine/wine WINESERVER=/usr/lib/wine/wineserver32
else
  export WINEARCH=win64 WINE=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64
fi
# A prefix chosen for the other build is not inherited: a script of one build
# started from a script of the other gets its own.
if [ -z "${WINEPREFIX:-}" ] || [ "${CARDKEEP_PREFIX_BITS:-}" != "$CARDKEEP_BITS" ]; then
  export WINEPREFIX=$CARDKEEP_ROOT/build/wineprefix$CARDKEEP_BITS
fi
export CARDKEEP_PREFIX_BITS=$CARDKEEP_BITS
export CARDKEEP_WINBIN=$CARDKEEP_ROOT/build/win$CARDKEEP_BITS/bin
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEDEBUG=${WINEDEBUG:--all}
