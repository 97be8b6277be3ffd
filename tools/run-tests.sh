#!/usr/bin/env bash
# Runs every test: the native builds and the Windows build under Wine, in one
# CTest run so that one summary closes the output.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/tools/wine-env.sh"
"$root/tools/wine-prefix.sh"

{
  echo "# Written by tools/run-tests.sh: one CTest run over every build."
  for d in native fuzz "win$CARDKEEP_BITS"; do
    [ -f "$root/build/$d/CTestTestfile.cmake" ] && echo "subdirs(\"$d\")"
  done
} >"$root/build/CTestTestfile.cmake"

# One display and one kept-alive wineserver for the whole run: a window shown
# without a display returns at once (tests would pass without a window ever
# appearing), a server started on another display breaks later windows, and
# a server that each test starts by itself keeps CTest's output pipe open.
cat >"$root/build/run-ctest.sh" <<INNER
set -u
cd "$root/build"
"$WINESERVER" -p </dev/null >/dev/null 2>&1
"$WINE" cmd /c exit </dev/null >/dev/null 2>&1
ctest --output-on-failure --timeout 600 -j2 "\$@"
rc=\$?
"$WINESERVER" -k </dev/null >/dev/null 2>&1 || true
exit \$rc
INNER
exec xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" bash "$root/build/run-ctest.sh" "$@"
