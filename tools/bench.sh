#!/usr/bin/env bash
# Runs every benchmark program of the Windows build (bin/*_bench.exe) in the
# project's prefix, against the DLLs as regsvr32 registers them, and keeps
# the figures: build/bench/<program>.csv and .txt, and one table at the end.
# Benchmarks are not tests: their figures depend on the machine and nothing
# here passes or fails on them.
#
# A bench program takes `--csv FILE` and writes `size,op,median_us,p95_us,n`
# there; what it prints on stdout is shown as it runs.
#
# wallet_bench runs once per wallet size (one process each, so no size
# inherits another's caches), its rows gathered in wallet_bench.csv; then
# bench/wallet_bench.vbs measures late-bound calls from cscript
# (wallet_vbs.csv). The tables at the end set each wallet operation beside
# the same work done by the platform's profile functions (profile_<op> rows)
# and take one durable write apart phase by phase (write_<phase> rows).
# dialog_bench runs last, once per wallet shape on a display of its own
# (tools/bench-dialogs.sh), and its table follows the wallet's.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
"$CARDKEEP_ROOT/tools/wine-prefix.sh"

out="$CARDKEEP_ROOT/build/bench"
mkdir -p "$out"

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
"$CARDKEEP_ROOT/tools/register.sh" "${dlls[@]}"

status=0
# The wallet lower-cases its root; a work folder spelled in lower case on
# disk keeps Wine's case-insensitive path search out of the figures.
work="$out/work"
wallet_sizes=(${CARDKEEP_BENCH_SIZES:-100 1000 10000 100000})
vbs_cards=10000
for exe in "${programs[@]}"; do
  name=$(basename "$exe" .exe)
  [ "$name" = dialog_bench ] && continue  # on a display of its own, below
  rm -f "$out/$name.csv"
  if [ "$name" = wallet_bench ]; then
    rm -rf "$work" && mkdir -p "$work"
    : >"$out/$name.txt"
    echo "size,op,median_us,p95_us,n" >"$out/$name.csv"
    for size in "${wallet_sizes[@]}"; do
      echo "== $name --size $size"
      # No display: a message box, were one to appear, returns at once.
      if env -u DISPLAY "$WINE" "$exe" --size "$size" --dir "$(winpath "$work")" \
          --csv "$(winpath "$out")\\$name-$size.csv" </dev/null | tr -d '\r' | tee -a "$out/$name.txt" &&
          [ -f "$out/$name-$size.csv" ]; then
        tail -n +2 "$out/$name-$size.csv" | tr -d '\r' >>"$out/$name.csv"
        rm -f "$out/$name-$size.csv"
      else
        echo "bench: $name --size $size failed"
        status=1
      fi
    done
    echo "== wallet_bench.vbs ($vbs_cards cards, late bound from cscript)"
    rm -f "$out/wallet_vbs.csv"
    mkdir -p "$work/vbs"
    line=
    if env -u DISPLAY "$WINE" "$exe" --size $vbs_cards --prepare "$(winpath "$work/vbs")" </dev/null | tr -d '\r'; then
      line=$(QZENVSLOCALPRO="$(winpath "$work/vbs")" env -u DISPLAY "$WINE" cscript //nologo \
        "$(winpath "$CARDKEEP_ROOT/bench/wallet_bench.vbs")" $vbs_cards </dev/null | tr -d '\r' | tee "$out/wallet_vbs.txt" |
        grep '^RESULT' || true)
    fi
    if [ -n "$line" ]; then
      echo "$line"
      field() { echo "$line" | tr ' ' '\n' | sed -n "s/^$1=//p"; }
      {
        echo "size,op,calls_per_s,n"
        echo "$(field cards),vbs_getcard,$(field getcard_per_s),$(field getcard_n)"
        echo "$(field cards),vbs_setcard,$(field setcard_per_s),$(field setcard_n)"
      } >"$out/wallet_vbs.csv"
    else
      cat "$out/wallet_vbs.txt" 2>/dev/null || true
      echo "bench: wallet_bench.vbs failed"
      status=1
    fi
    rm -rf "$work"
    continue
  fi
  echo "== $name"
  if ! "$WINE" "$exe" --csv "$(winpath "$out")\\$name.csv" </dev/null | tr -d '\r' | tee "$out/$name.txt"; then
    echo "bench: $name failed"
    status=1
  fi
done

# The dialogs need a display, and a wineserver started under it: this
# script's server goes first. One that another program runs in the prefix
# would break their windows, so they wait for another time then.
rm -f "$out/dialog_bench.csv"
if [ -x "$CARDKEEP_WINBIN/dialog_bench.exe" ]; then
  if [ $own_server = 1 ]; then
    stop_server
    own_server=0
    "$CARDKEEP_ROOT/tools/bench-dialogs.sh" || status=1
  else
    echo "bench: the dialogs not measured: another program's wineserver runs in $WINEPREFIX"
    status=1
  fi
fi

echo
echo "== figures (microseconds per operation; CSV in build/bench/)"
printf '%-12s %9s  %-8s %12s %12s %6s\n' program size op median_us p95_us n
for exe in "${programs[@]}"; do
  program=$(basename "$exe" .exe)
  [ "$program" = wallet_bench ] || [ "$program" = dialog_bench ] && continue  # their own tables follow
  csv="$out/$program.csv"
  [ -f "$csv" ] || continue
  tail -n +2 "$csv" | tr -d '\r' | while IFS=, read -r size op median p95 n; do
    printf '%-12s %9s  %-8s %12s %12s %6s\n' "$program" "$size" "$op" "$median" "$p95" "$n"
  done
done

wallet_csv="$out/wallet_bench.csv"
if [ -f "$wallet_csv" ]; then
  echo
  echo "== wallet: cardkeep / platform profile functions (microseconds per call, ratio of medians)"
  tr -d '\r' <"$wallet_csv" | awk -F, '
    NR > 1 { key = $1 "," $2; med[key] = $3; p95[key] = $4; if ($2 !~ /^(profile_|memory_)/) { order[++n] = key } }
    END {
      printf "%9s  %-16s %10s %10s %12s %12s %8s\n", "cards", "op", "median", "p95", "profile_med", "profile_p95", "ratio"
      for (i = 1; i <= n; i++) {
        split(order[i], f, ",")
        anchor = f[1] ",profile_" f[2]
        if (anchor in med && med[anchor] > 0)
          printf "%9s  %-16s %10s %10s %12s %12s %8.3f\n", f[1], f[2], med[order[i]], p95[order[i]], med[anchor], p95[anchor], med[order[i]] / med[anchor]
        else
          printf "%9s  %-16s %10s %10s %12s %12s %8s\n", f[1], f[2], med[order[i]], p95[order[i]], "-", "-", "-"
      }
    }'
fi
if [ -f "$wallet_csv" ]; then
  echo
  echo "== durable SetCard taken apart: one write of the INI file, phase by phase (median microseconds)"
  echo "   not_disk: all but flush and rename; whole: the write; setcard: SetCard through the wallet"
  tr -d '\r' <"$wallet_csv" | awk -F, '
    NR > 1 && $2 ~ /^(write_|setcard_replace$)/ { op = $2; sub(/^write_/, "", op); med[$1 "," op] = $3; if (!($1 in seen)) { seen[$1] = 1; sizes[++n] = $1 } }
    END {
      split("lock identity serialise encode temp flush rename not_disk whole setcard_replace", ops, " ")
      printf "%9s", "cards"
      for (i = 1; i <= 10; i++) printf " %9s", (ops[i] == "setcard_replace" ? "setcard" : ops[i])
      printf "\n"
      for (k = 1; k <= n; k++) {
        printf "%9s", sizes[k]
        for (i = 1; i <= 10; i++) printf " %9s", ((sizes[k] "," ops[i]) in med ? med[sizes[k] "," ops[i]] : "-")
        printf "\n"
      }
    }'
fi
if [ -f "$wallet_csv" ]; then
  echo
  echo "== several wallets on one thread, GetCard on each in turn (median microseconds; ratio to one wallet)"
  echo "== first open: AppObject (read, parse, stamp) against a bare read of the file (median microseconds)"
  echo "== memory: private bytes per card of a host holding one wallet (the file's bytes per card); MiB for eight wallets"
  tr -d '\r' <"$wallet_csv" | awk -F, '
    NR > 1 { med[$1 "," $2] = $3; if (!($1 in seen)) { seen[$1] = 1; sizes[++n] = $1 } }
    function at(size, op) { return (size "," op) in med ? med[size "," op] : "-" }
    function ratio(a, b) { return (a == "-" || b == "-" || b == 0) ? "-" : sprintf("%.2f", a / b) }
    END {
      printf "%9s %9s %9s %9s %7s %7s | %10s %10s %10s %7s | %10s %6s %7s\n", "cards", "1 wallet", "2 in turn", "8 in turn",
        "2/1", "8/1", "first_open", "ini_read", "bare_read", "ratio", "bytes/card", "file", "MiB_8"
      for (k = 1; k <= n; k++) {
        s = sizes[k]; one = at(s, "getcard_in_turn_1"); two = at(s, "getcard_in_turn_2"); eight = at(s, "getcard_in_turn_8")
        open = at(s, "first_open"); bare = at(s, "part_bare_read"); mem = at(s, "memory_bytes_8_wallets")
        printf "%9s %9s %9s %9s %7s %7s | %10s %10s %10s %7s | %10s %6s %7s\n", s, one, two, eight, ratio(two, one), ratio(eight, one),
          open, at(s, "part_first_read"), bare, ratio(open, bare), at(s, "memory_bytes_per_card"), at(s, "memory_file_bytes_per_card"),
          mem == "-" ? "-" : sprintf("%.1f", mem / 1048576)
      }
    }'
fi
if [ -f "$out/dialog_bench.csv" ]; then
  echo
  echo "== dialogs: P pockets, C cards spread evenly over them (milliseconds, median of the showings)"
  echo "   shown: from the call until shown and idle; choose: a pocket of <list> cards listed; type: one keystroke"
  echo "   in a list of <list> names until the completion shows (miss: none); targets: shown 100 ms at 10,000 cards,"
  echo "   a list of 1,000 cards 50 ms, a keystroke 16 ms"
  tr -d '\r' <"$out/dialog_bench.csv" | awk -F, '
    BEGIN { printf "%8s %8s  %-17s %8s %10s %10s %4s  %s\n", "pockets", "cards", "op", "list", "median_ms", "p95_ms", "n", "target" }
    NR > 1 {
      target = "-"
      if ($3 ~ /_shown$/ && $2 == 10000) target = ($5 <= 100000 ? "met (100)" : "MISSED (100)")
      if ($3 == "choose_pocket" && $4 == 1000) target = ($5 <= 50000 ? "met (50)" : "MISSED (50)")
      if ($3 ~ /^type_/ && $4 == 10000) target = ($5 <= 16000 ? "met (16)" : "MISSED (16)")
      printf "%8s %8s  %-17s %8s %10.1f %10.1f %4s  %s\n", $1, $2, $3, $4, $5 / 1000, $6 / 1000, $7, target
    }'
fi
if [ -f "$out/wallet_vbs.csv" ]; then
  echo
  echo "== wallet from VBScript (late bound, calls per second)"
  tail -n +2 "$out/wallet_vbs.csv" | while IFS=, read -r size op rate n; do
    printf '%9s  %-12s %10s calls/s  (n=%s)\n' "$size" "$op" "$rate" "$n"
  done
fi
exit $status
