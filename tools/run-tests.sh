#!/usr/bin/env bash
# Runs every test: the native builds and each Windows build that this machine
# can run, under Wine, in one CTest run so that one summary closes the output.
# Where the kernel starts 32-bit programs, the 32-bit build (the one hosts
# load) is tested in a 32-bit prefix and the 64-bit build in a 64-bit one;
# elsewhere the 64-bit build alone. CARDKEEP_BITS=32 or 64 tests one build.
# Arguments go to CTest (for example -R dialogs --repeat until-fail:20).
set -euo pipefail
forced=${CARDKEEP_BITS:-}
source "$(dirname "$0")/wine-env.sh"

if [ -n "$forced" ]; then
  if [ "$forced" = 32 ] && [ "$CARDKEEP_CAN32" != 1 ]; then
    echo "run-tests: CARDKEEP_BITS=32, but this kernel cannot start 32-bit programs" >&2
    exit 1
  fi
  builds=("$forced")
  echo "Windows tests: the $forced-bit build only (CARDKEEP_BITS=$forced)."
elif [ "$CARDKEEP_CAN32" = 1 ]; then
  builds=(32 64)
  echo "Windows tests: the 32-bit build in a 32-bit prefix, then the 64-bit build in a 64-bit prefix."
else
  builds=(64)
  echo "Windows tests: the 64-bit build only. 32-bit build not run: this kernel cannot start 32-bit programs" \
       "(Wine's 32-bit loader fails with \"Exec format error\")."
fi

{
  echo "# Written by tools/run-tests.sh: one CTest run over every build."
  for d in native fuzz "${builds[@]/#/win}"; do
    [ -f "$CARDKEEP_ROOT/build/$d/CTestTestfile.cmake" ] && echo "subdirs(\"$d\")"
  done
} >"$CARDKEEP_ROOT/build/CTestTestfile.cmake"
log=$CARDKEEP_ROOT/build/logs/prefixes.log
mkdir -p "$(dirname "$log")"
: >"$log"
for bits in "${builds[@]}"; do
  CARDKEEP_BITS=$bits run_logged "$log" "make the $bits-bit Wine prefix" "$CARDKEEP_ROOT/tools/wine-prefix.sh"
done

# One display and one kept-alive wineserver per prefix for the whole run
# (tools/on-display.sh says why).
cd "$CARDKEEP_ROOT/build"
exec "$CARDKEEP_ROOT/tools/on-display.sh" --bits "${builds[*]}" ctest --output-on-failure --timeout 600 -j2 "$@"
