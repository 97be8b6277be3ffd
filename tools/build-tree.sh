#!/usr/bin/env bash
# Configures one build tree (the first time) and builds it, and says so in
# one line; the whole output of CMake and the compilers goes to
# build/logs/TREE.log, whose end is shown when a step fails.
# Usage: build-tree.sh [--configure-only] TREE [CMAKE CONFIGURE OPTION...]
# The tree is build/TREE; JOBS (default: the number of processors) sets the
# parallel jobs.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
configure_only=0
if [ "${1:-}" = --configure-only ]; then configure_only=1; shift; fi
tree=$1
shift
dir=$CARDKEEP_ROOT/build/$tree
log=$CARDKEEP_ROOT/build/logs/$tree.log
mkdir -p "$(dirname "$log")"
: >"$log"
cd "$CARDKEEP_ROOT"
started=$SECONDS

did=()
if [ ! -f "$dir/CMakeCache.txt" ]; then
  run_logged "$log" "configure $tree" cmake -S . -B "$dir" "$@" || exit 1
  did+=(configured)
fi
if [ $configure_only = 1 ]; then
  [ ${#did[@]} -gt 0 ] || did=("already configured")
  echo "configure $tree: ok (${did[*]})"
  exit 0
fi
run_logged "$log" "build $tree" cmake --build "$dir" -j "${JOBS:-$(nproc)}" || exit 1

# What the build did, from the lines CMake's makefiles print for each step.
count() { grep -c -E "$1" "$log" || true; }
reran=$(count '^-- (Configuring done|Generating done)')
compiled=$(count '^\[ *[0-9]+%\] Building [A-Z]+ object ')
linked=$(count '^\[ *[0-9]+%\] Linking ')
generated=$(count '^\[ *[0-9]+%\] Generating ')
[ "${#did[@]}" -eq 0 ] && [ "$reran" -gt 0 ] && did+=(reconfigured)
[ "$compiled" -gt 0 ] && did+=("$compiled compiled")
[ "$linked" -gt 0 ] && did+=("$linked linked")
[ "$generated" -gt 0 ] && did+=("$generated generated")
if [ ${#did[@]} -eq 0 ]; then
  echo "build $tree: ok (up to date)"
else
  elapsed=$((SECONDS - started))
  summary=$(IFS=,; echo "${did[*]}" | sed 's/,/, /g')
  printf 'build %s: ok (%s; %dm%02ds)\n' "$tree" "$summary" $((elapsed / 60)) $((elapsed % 60))
fi
