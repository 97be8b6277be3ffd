#!/usr/bin/env bash
# Runs every benchmark program of the Windows build (bin/*_bench.exe) in the
# project's prefix, against the DLLs as regsvr32 registers them, and keeps
# the figures: build/bench/<program>.csv and .txt, and one table at the end.
# Benchmarks are not tests: their figures depend on the machine and nothing
# here passes or fails on them.
#
# A bench program takes `--csv FILE` and writes `size,op,median_us,p95_us,n`
# there; what it prints on stdout is shown as it runs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/tools/wine-env.sh"
"$root/tools/wine-prefix.sh"

out="$root/build/bench"
mkdir -p "$out"
winpath() { echo "Z:$(realpath "$1" | tr / '\\')"; }

mapfile -t programs < <(find "$CARDKEEP_WINBIN" -maxdepth 1 -name '*_bench.exe' | sort)
if [ ${#programs[@]} -eq 0 ]; then
  echo "bench: no *_bench.exe in $CARDKEEP_WINBIN; build the Windows tree first"
  exit 1
fi

# One kept-alive server for all the runs, so no program pays for starting
# one. A server that was already running belongs to someone else and stays.
own_server=0
if "$WINESERVER" -p </dev/null >/dev/null 2>&1; then own_server=1; fi
stop_server() {
  if [ $own_server = 1 ]; then "$WINESERVER" -k </dev/null >/dev/null 2>&1 || true; fi
}
trap stop_server EXIT
"$WINE" cmd /c exit </dev/null >/dev/null 2>&1 || true

mapfile -t dlls < <(find "$CARDKEEP_WINBIN" -maxdepth 1 -name '*.dll' | sort)
"$root/tools/register.sh" "${dlls[@]}"

status=0
for exe in "${programs[@]}"; do
  name=$(basename "$exe" .exe)
  rm -f "$out/$name.csv"
  echo "== $name"
  if ! "$WINE" "$exe" --csv "$(winpath "$out")\\$name.csv" </dev/null | tr -d '\r' | tee "$out/$name.txt"; then
    echo "bench: $name failed"
    status=1
  fi
done

echo
echo "== figures (microseconds per operation; CSV in build/bench/)"
printf '%-12s %9s  %-8s %12s %12s %6s\n' program size op median_us p95_us n
for exe in "${programs[@]}"; do
  program=$(basename "$exe" .exe)
  csv="$out/$program.csv"
  [ -f "$csv" ] || continue
  tail -n +2 "$csv" | tr -d '\r' | while IFS=, read -r size op median p95 n; do
    printf '%-12s %9s  %-8s %12s %12s %6s\n' "$program" "$size" "$op" "$median" "$p95" "$n"
  done
done
exit $status
