# The shell helpers of the project's scripts. Sourced, never run:
#   source "$(dirname "$0")/lib.sh"
# Sourcing defines functions, CARDKEEP_ROOT (the top of the tree) and the
# product's version and identifiers, and changes nothing else.
CARDKEEP_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# CARDKEEP_VERSION, the LIBID, IID and CLSID of every type library,
# interface and class of the three DLLs (without braces), the type
# libraries' versions and CARDKEEP_DLLS, the DLLs' names in the order they
# are registered, as written in identity.env: the one place they are kept.
source "$CARDKEEP_ROOT/identity.env"

# identity_names: the name of every value identity.env sets, one a line.
identity_names() { sed -n 's/^\([A-Z][A-Z0-9_]*\)=.*/\1/p' "$CARDKEEP_ROOT/identity.env"; }

# identity_guids: every GUID of identity.env, one a line.
identity_guids() {
  local name
  for name in $(identity_names); do
    if [[ ${!name} =~ ^[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$ ]]; then echo "${!name}"; fi
  done
}

# A step's output kept in a log and shown only when the step fails: what a
# user reads is the one line each step prints, and a failure still explains
# itself.
LOG_TAIL_LINES=40

# log_tail LOG: the end of a log, indented, without make's directory chatter.
log_tail() {
  grep -v -E '^g?make(\[[0-9]+\])?: (Entering|Leaving) directory' "$1" | tail -n "$LOG_TAIL_LINES" | sed 's/^/  /'
}

# run_logged LOG WHAT COMMAND...: runs COMMAND with its output added to LOG.
# When it fails, says "WHAT: failed" with the log's end on stderr, and
# returns COMMAND's exit code.
run_logged() {
  local log=$1 what=$2 rc=0
  shift 2
  "$@" </dev/null >>"$log" 2>&1 || rc=$?
  if [ $rc -ne 0 ]; then
    {
      echo "$what: failed (exit $rc); the end of ${log#"$CARDKEEP_ROOT"/}:"
      log_tail "$log"
    } >&2
  fi
  return $rc
}

# winpath PATH: the Windows spelling of a Linux path (Wine's Z: drive). The
# last part of PATH need not exist yet.
winpath() { echo "Z:$(realpath "$1" | tr / '\\')"; }

# start_robot LOG OUT [OPTION...]: starts cardkeep-robot in the background
# (robot_pid) with its log at LOG and its own output in OUT, and returns once
# it watches: its log exists. A robot that ends first, or does not watch
# within 30 s, is reported with its exit code and output, and start_robot
# returns 1: a box shown then would wait for nobody. Needs tools/wine-env.sh.
start_robot() {
  local log=$1 out=$2 rc _
  shift 2
  "$WINE" "$CARDKEEP_WINBIN/cardkeep-robot.exe" --log "$(winpath "$log")" "$@" </dev/null >"$out" 2>&1 &
  robot_pid=$!
  for _ in $(seq 600); do
    [ -e "$log" ] && return 0
    kill -0 "$robot_pid" 2>/dev/null || break
    sleep 0.05
  done
  [ -e "$log" ] && return 0
  if kill -0 "$robot_pid" 2>/dev/null; then
    kill "$robot_pid" 2>/dev/null
    wait "$robot_pid" 2>/dev/null
    echo "the robot did not start: no log after 30 s"
  else
    wait "$robot_pid"
    rc=$?
    echo "the robot did not start: it ended with exit $rc before it watched"
  fi
  robot_pid=
  sed 's/^/robot: /' "$out"
  return 1
}

# run_host PROGRAM [ARGUMENT...]: runs a Windows program as a host runs
# (cscript, an example), setting host_output (what it printed), host_rc and
# host_diagnostics (Wine's own lines), which are shown when the host fails.
# Now and then, on a loaded machine, the program never starts: Wine cannot
# map a new process's memory ("failed to map the shared user data"; its
# launcher then says "ShellExecuteEx failed"), or cscript cannot create its
# script engine, which with Wine's messages off ends it with exit 1 and no
# word. Nothing of the host has run then, so that launch alone is tried
# again, up to three times in all, and said so (as register.sh does).
run_host() {
  local all attempt
  local -r wine_line='^([0-9a-f]+:)?(err|fixme|warn|trace):|^Application could not be started|^ShellExecuteEx failed'
  local -r not_started='Could not (find|create) (script )?engine|failed to map the shared user data|ShellExecuteEx failed'
  for attempt in 1 2 3; do
    all=$(WINEDEBUG=err+all,fixme+wscript "$WINE" "$@" </dev/null 2>&1)
    host_rc=$?
    host_diagnostics=$(grep -E "$wine_line" <<<"$all")
    host_output=$(grep -vE "$wine_line" <<<"$all")
    if [ $host_rc -ne 1 ] || [ -n "$host_output" ] || ! grep -qE "$not_started" <<<"$host_diagnostics"; then
      return 0
    fi
    echo "$1 did not start (attempt $attempt); Wine said:"
    sed 's/^/  wine: /' <<<"$host_diagnostics"
  done
  return 0
}

# host_failed WHAT: says why a host run ended badly, with Wine's own lines.
host_failed() {
  if [ -z "$host_output" ]; then
    echo "$1: exited $host_rc without printing anything"
  fi
  [ -n "$host_diagnostics" ] && sed 's/^/  wine: /' <<<"$host_diagnostics"
  return 0
}

# ready_prefix: the build's Wine prefix made (tools/wine-prefix.sh) and the
# three DLLs (CARDKEEP_DLLS) registered in it with its regsvr32, as a user would; quietly,
# with the output in build/logs/prefix<BITS>.log, shown when a step fails.
# Needs tools/wine-env.sh.
ready_prefix() {
  local log=$CARDKEEP_ROOT/build/logs/prefix$CARDKEEP_BITS.log dll dlls=()
  for dll in $CARDKEEP_DLLS; do dlls+=("$CARDKEEP_WINBIN/$dll"); done
  mkdir -p "$(dirname "$log")"
  : >"$log"
  run_logged "$log" "make the $CARDKEEP_BITS-bit Wine prefix" "$CARDKEEP_ROOT/tools/wine-prefix.sh" &&
    run_logged "$log" "register the DLLs" "$CARDKEEP_ROOT/tools/register.sh" "${dlls[@]}"
}
