# The shell helpers of the project's scripts. Sourced, never run:
#   source "$(dirname "$0")/lib.sh"
# Sourcing defines functions, CARDKEEP_ROOT (the top of the tree) and the
# product's version and identifiers, and changes nothing else.
CARDKEEP_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# CARDKEEP_VERSION and the LIBID, IID and CLSID of every type library,
# interface and class of the three DLLs, as written in identity.env (without
# braces): the one place they are kept.
source "$CARDKEEP_ROOT/identity.env"

# identity_names: the name of every value identity.env sets, one a line.
identity_names() { sed -n 's/^\([A-Z][A-Z0-9_]*\)=.*/\1/p' "$CARDKEEP_ROOT/identity.env"; }

# identity_guids: every GUID of identity.env, one a line.
identity_guids() {
  local name
  for name in $(identity_names); do [[ $name == *_VERSION ]] || echo "${!name}"; done
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

# ready_prefix: the build's Wine prefix made (tools/wine-prefix.sh) and the
# three DLLs registered in it with its regsvr32, as a user would; quietly,
# with the output in build/logs/prefix<BITS>.log, shown when a step fails.
# Needs tools/wine-env.sh.
ready_prefix() {
  local log=$CARDKEEP_ROOT/build/logs/prefix$CARDKEEP_BITS.log
  mkdir -p "$(dirname "$log")"
  : >"$log"
  run_logged "$log" "make the $CARDKEEP_BITS-bit Wine prefix" "$CARDKEEP_ROOT/tools/wine-prefix.sh" &&
    run_logged "$log" "register the DLLs" "$CARDKEEP_ROOT/tools/register.sh" \
      "$CARDKEEP_WINBIN/KORVEX11.dll" "$CARDKEEP_WINBIN/KORVEX10.dll" "$CARDKEEP_WINBIN/cardkeep.dll"
}
