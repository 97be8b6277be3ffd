#!/usr/bin/env bash
# Longer fuzzing runs than CI's fixed count: FUZZ_SECONDS per target (300).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${FUZZ_SECONDS:-300}
for target in fuzz_ini fuzz_sealed_text; do
  corpus="$root/build/fuzz/corpus/$target"
  mkdir -p "$corpus"
  echo "== $target for $seconds s (corpus $corpus)"
  "$root/build/fuzz/tests/fuzz/$target" -max_total_time="$seconds" -max_len=4096 "$corpus"
done
