#!/usr/bin/env bash
# Longer fuzzing runs than CI's fixed count: FUZZ_SECONDS per target (300).
set -euo pipefail
source "$(dirname "$0")/lib.sh"
seconds=${FUZZ_SECONDS:-300}
for target in fuzz_ini fuzz_sealed_text; do
  corpus="$CARDKEEP_ROOT/build/fuzz/corpus/$target"
  mkdir -p "$corpus"
  echo "== $target for $seconds s (corpus $corpus)"
  "$CARDKEEP_ROOT/build/fuzz/tests/fuzz/$target" -max_total_time="$seconds" -max_len=4096 "$corpus"
done
