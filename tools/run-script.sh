#!/usr/bin/env bash
# Runs one test script with the prefix's cscript. A script passes only when
# it ran to its last line, counted its checks and failed none: cscript under
# Wine reports neither a syntax error nor an unhandled run-time error, so its
# exit code alone would let a broken script pass.
# Usage: run-script.sh [--robot] SCRIPT [ENV=VALUE...]
#
# With --robot, or CK_ROBOT=1 among the assignments, cardkeep-robot answers
# the script's message boxes (title "Sure..." with Yes, any other with OK,
# unless CK_ROBOT_ANSWERS="Title=Button;Title=Button" says otherwise) and
# logs them; the script finds the log's Windows path in CK_ROBOTLOG.
set -uo pipefail
source "$(dirname "$0")/wine-env.sh"
robot=0
if [ "${1:-}" = --robot ]; then
  robot=1
  shift
fi
script=${1:-}
if [ -z "$script" ] || [ ! -f "$script" ]; then
  echo "run-script: no such script: '$script'"
  exit 2
fi
shift
ext=${script##*.}
name=$(basename "$script" ".$ext")
work="$CARDKEEP_ROOT/build/scripts/$CARDKEEP_BITS/$name.$ext"
rm -rf "$work"
# The wallet root every script starts with: mixed case, so that scripts see
# it lower-cased in the wallet's paths.
mkdir -p "$work/data/Apps LOCAL"
# The checking helpers come first and the tally last, in one file.
cat "$CARDKEEP_ROOT/tests/scripts/lib/prelude.$ext" "$script" "$CARDKEEP_ROOT/tests/scripts/lib/epilogue.$ext" >"$work/$name.$ext"

export CK_TESTDIR=$(winpath "$work/data")
export CK_BINDIR=$(winpath "$CARDKEEP_WINBIN")
export QZENVSLOCALPRO="$CK_TESTDIR\\Apps LOCAL"
for assignment in "$@"; do export "$assignment"; done
[ "${CK_ROBOT:-}" = 1 ] && robot=1

robot_pid=
robot_log="$work/robot.log"
stop_robot() {
  [ -n "$robot_pid" ] || return 0
  touch "$robot_log.stop"
  for _ in $(seq 50); do
    kill -0 "$robot_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill "$robot_pid" 2>/dev/null
  wait "$robot_pid" 2>/dev/null
  robot_pid=
}
if [ $robot = 1 ]; then
  answers=(--answer "Sure...=Yes")
  IFS=';' read -ra extra <<<"${CK_ROBOT_ANSWERS:-}"
  for answer in "${extra[@]}"; do
    [ -n "$answer" ] && answers+=(--answer "$answer")
  done
  [ -n "${DISPLAY:-}" ] || echo "run-script: no display: message boxes return at once and the robot sees none"
  export CK_ROBOTLOG="$(winpath "$work")\\robot.log"
  # The log appears once the robot watches; a box shown earlier would still
  # be found, but a stop requested earlier would be taken for a stale one.
  start_robot "$robot_log" "$work/robot.out" "${answers[@]}" || exit 1
  trap stop_robot EXIT
fi

run_host cscript //nologo "$(winpath "$work/$name.$ext")"
output=$host_output
rc=$host_rc
stop_robot
printf '%s\n' "$output"
if [ $robot = 1 ]; then
  tr -d '\r' <"$robot_log" | sed 's/^/robot answered: /'
  [ -s "$work/robot.out" ] && sed 's/^/robot: /' "$work/robot.out"
fi
tally=$(printf '%s\n' "$output" | tr -d '\r' | grep -E '^checks: [0-9]+ passed, [0-9]+ failed$' | tail -n 1)
if [ -z "$tally" ]; then
  echo "run-script: $name stopped before its end (a script error?)"
  host_failed "run-script: cscript"
  exit 1
fi
passed=$(echo "$tally" | sed -E 's/^checks: ([0-9]+) passed.*/\1/')
failed=$(echo "$tally" | sed -E 's/.* ([0-9]+) failed$/\1/')
if [ "$failed" -ne 0 ] || [ "$passed" -eq 0 ] || [ $rc -ne 0 ]; then
  echo "run-script: $name failed ($passed passed, $failed failed, exit $rc)"
  host_failed "run-script: cscript"
  exit 1
fi
exit 0
