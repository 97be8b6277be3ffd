#!/usr/bin/env bash
# Registers our DLLs in the project's prefix with the system's regsvr32, as
# a user would. Usage: register.sh [/u] DLL...
set -uo pipefail
source "$(dirname "$0")/wine-env.sh"
flag=
if [ "${1:-}" = /u ]; then flag=/u; shift; fi
status=0
for dll in "$@"; do
  if [ ! -f "$dll" ]; then echo "register: $dll does not exist"; status=1; continue; fi
  "$WINE" regsvr32 /s $flag "$(winpath "$dll")" </dev/null
  rc=$?
  echo "regsvr32 $flag $(basename "$dll"): exit $rc"
  [ $rc -eq 0 ] || status=1
done
exit $status
