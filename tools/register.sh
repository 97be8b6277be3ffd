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
  # regsvr32's own answers (0 done; 3, 4, 5: the DLL could not be loaded,
  # is not a server, or failed to register) are final. Exit 1 with no
  # regsvr32 at all means Wine could not start the program (its start.exe
  # says "ShellExecuteEx failed: Internal error", seen now and then on a
  # loaded machine): that launch alone is tried again.
  for attempt in 1 2 3; do
    "$WINE" regsvr32 /s $flag "$(winpath "$dll")" </dev/null
    rc=$?
    [ $rc -eq 1 ] || break
    echo "regsvr32 $flag $(basename "$dll"): Wine could not start regsvr32 (attempt $attempt)"
  done
  echo "regsvr32 $flag $(basename "$dll"): exit $rc"
  [ $rc -eq 0 ] || status=1
done
exit $status
