#!/usr/bin/env bash
# The dialogs at scale: bin/dialog_bench.exe once per wallet shape (pockets x
# cards, the cards spread evenly over the pockets), one process each, on a
# display of their own (tools/on-display.sh: a dialog shown without one
# returns at once). Writes build/bench/dialog_bench.csv and .txt; bench.sh
# runs it after the other benchmarks, once no wineserver of its own runs,
# and prints the table.
# CARDKEEP_BENCH_DIALOG_SHAPES (e.g. "1x100 100x100000") and
# CARDKEEP_BENCH_DIALOG_RUNS choose what runs.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"

if [ "${1:-}" != --inside ]; then
  exec "$CARDKEEP_ROOT/tools/on-display.sh" bash "$0" --inside
fi

out=$CARDKEEP_ROOT/build/bench
exe=$CARDKEEP_WINBIN/dialog_bench.exe
shapes=(${CARDKEEP_BENCH_DIALOG_SHAPES:-1x100 100x100 1x10000 100x10000 1000x10000 1x100000 100x100000 1000x100000})
runs=${CARDKEEP_BENCH_DIALOG_RUNS:-7}
# The program ends itself when a showing is stuck (2 min); this bounds a
# Wine that hangs before or after.
limit=900
work=$out/dialogwork
rm -rf "$work" && mkdir -p "$work"
echo "pockets,cards,op,list,median_us,p95_us,n" >"$out/dialog_bench.csv"
: >"$out/dialog_bench.txt"
status=0
for shape in "${shapes[@]}"; do
  pockets=${shape%x*} cards=${shape#*x}
  echo "== dialog_bench --pockets $pockets --cards $cards"
  part="$out/dialog_bench-$shape.csv"
  rm -f "$part"
  if timeout -k 10 $limit "$WINE" "$exe" --pockets "$pockets" --cards "$cards" --runs "$runs" \
      --dir "$(winpath "$work")" --csv "$(winpath "$part")" </dev/null | tr -d '\r' | tee -a "$out/dialog_bench.txt" &&
      [ -f "$part" ]; then
    tail -n +2 "$part" | tr -d '\r' >>"$out/dialog_bench.csv"
  else
    echo "bench: dialog_bench --pockets $pockets --cards $cards failed"
    status=1
  fi
  rm -f "$part"
done
rm -rf "$work"
exit $status
