#!/usr/bin/env bash
# Reading a gzip-compressed AIGER file: `zefi-aiger check` on a 2.4 MB ASCII file and on its
# 0.9 MB `.gz`, beside `gzip -t` (decompression alone) of the same `.gz`. A benchmark, not a
# test: CI does not run it. Apart from run.sh, whose targets it leaves alone.
#
#   bench/gz-read.sh     (ZEFI_BIN=DIR: zefi-aiger from DIR/app, default build/release;
#                         BENCH_RUNS=5 runs per measurement, the median counts;
#                         BENCH_OUT=bench/out scratch directory)
#
# Exits with status 1 when a limit is missed, 2 when it could not run.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT=${BENCH_OUT:-$ROOT/bench/out}
RUNS=${BENCH_RUNS:-5}
AIGER=${ZEFI_BIN:-$ROOT/build/release}/app/zefi-aiger
fatal() {
  printf 'bench: %s\n' "$*" >&2
  exit 2
}
[ -x "$AIGER" ] || fatal "no $AIGER: build the release preset or set ZEFI_BIN"
mkdir -p "$OUT/runs"
if ! cmake -S "$ROOT/bench" -B "$OUT/tool" -DCMAKE_BUILD_TYPE=Release >/dev/null ||
  ! cmake --build "$OUT/tool" >/dev/null; then
  fatal "generator build failed"
fi
GEN=$OUT/tool/zefi-bench

# 2,000 inputs, 400 latches, 120,000 gates in 60 layers of 2,000; gzip -n keeps no name or time.
PLAIN=$OUT/gz900k.aag
"$GEN" aiger "$PLAIN" 2000 400 60 2000 6000 8 >/dev/null || fatal "generating $PLAIN failed"
gzip -n -f -k "$PLAIN" || fatal "gzip failed"
bytes=$(stat -c %s "$PLAIN")

# The three commands take turns; the round with i = 0 is a warm-up and is not recorded.
for key in plain gz gunzip; do : >"$OUT/runs/gz-$key"; done
for ((i = 0; i <= RUNS; i++)); do
  for key in plain gz gunzip; do
    case $key in
      plain) command=("$AIGER" check "$PLAIN") ;;
      gz) command=("$AIGER" check "$PLAIN.gz") ;;
      gunzip) command=(gzip -t "$PLAIN.gz") ;;
    esac
    record=$OUT/runs/gz-$key
    [ "$i" != 0 ] || record=/dev/null
    "$GEN" measure "$OUT/runs/gz-$key.stdout" "$OUT/runs/gz-$key.stderr" -- "${command[@]}" >>"$record"
  done
done
median() { awk '{print $1}' "$OUT/runs/gz-$1" | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
t_plain=$(median plain) t_gz=$(median gz) t_gunzip=$(median gunzip)
same=$(cmp -s "$OUT/runs/gz-plain.stdout" "$OUT/runs/gz-gz.stdout" && echo identical || echo differs)
failed=0
row() { # ID MEASURED LIMIT OK(0/1)
  local verdict=yes
  [ "$4" = 1 ] || verdict=NO failed=1
  echo "| $1 | $2 | $3 | $verdict |"
}

echo "| # | measured (median of $RUNS) | limit | met |"
echo "|---|---|---|---|"
ok=$(awk -v g="$t_gz" -v p="$t_plain" -v d="$t_gunzip" 'BEGIN {print (g <= p + d + 0.01)}')
row G1 "check .gz ${t_gz}s; plain ${t_plain}s + gzip -t ${t_gunzip}s; counts $same" "<= plain + gzip -t + 0.01 s" "$ok"
# read() calls of zefi-aiger itself (not of gzip) while checking the .gz: whole blocks, not bytes.
if command -v strace >/dev/null 2>&1; then
  strace -c -e trace=read -o "$OUT/runs/gz-strace" "$AIGER" check "$PLAIN.gz" >/dev/null
  reads=$(awk '$NF == "read" {print $4}' "$OUT/runs/gz-strace")
  row G2 "read calls for $bytes decompressed bytes: $reads" "<= bytes / 4096 + 16" $((reads <= bytes / 4096 + 16))
else
  echo "| G2 | read calls: strace is missing | - | - |"
fi
[ "$same" = identical ] || failed=1
echo "load average at the end: $(cut -d' ' -f1 /proc/loadavg)"
exit "$failed"
