#!/usr/bin/env bash
# End-to-end benchmark: generates a TopSpeed file of about SIZE megabytes with the
# project's writer (and the same file encrypted with an owner password), then
# measures in one run
#   cat of the file to /dev/null (the read limit),
#   veltro /LIST (load only),
#   veltro converting all tables with a header line,
#   dd writing as many bytes as that conversion wrote to a new file, 128 KiB at a time
#   as VELTRO writes, right after that output was deleted (what the page cache alone
#   costs),
#   the same conversion and the same dd twice more, each in a known state of the memory
#   it writes into (conv_w and write_w: memory just written and freed; conv_c and write_c:
#   memory freed 10 s before). In a virtual machine that hands freed memory back to its
#   host (free page reporting), memory written again after that costs several times
#   more, and the output's page cache (1.7 times the input) is such memory: the first
#   conversion's cost depends on how long the memory lay free before,
#   veltro with a three-condition row filter,
#   veltro converting the encrypted file with its owner password,
#   veltro converting all tables with /CSV (UTF-8, RFC 4180 quoting, ISO values),
#   veltro writing JSON Lines (/FORMAT=JSONL) and a SQLite database (/FORMAT=SQLITE),
#   veltro writing the SQL script (/FORMAT=SQL) and, where the PostgreSQL server
#   programs are installed, psql loading it into a throwaway server (tools/pg-throwaway.sh),
#   and on a memo-heavy file of the same size (tpsgen memobench: a memo on 70 % of the
#   rows, a BLOB of 1 to 4 KiB on half of them) cat, veltro /LIST and veltro /h,
# printing wall time, throughput in MB/s of input, peak resident memory and the ratio
# to the cat time of the same file for each, then the ratios of the encrypted, /CSV,
# JSON Lines, SQLite and SQL script conversions to the plain one.
#
#   bash bench/e2e.sh [SIZE_MB]        default 1024; files are kept in bench-out/
#   BUILD_DIR=<dir> bash bench/e2e.sh  use (and build) another Release build directory
set -euo pipefail
cd "$(dirname "$0")/.."
size=${1:-1024}
build=${BUILD_DIR:-build}
case $build in /*) bin=$build ;; *) bin=./$build ;; esac
owner=bench-owner
bash tools/setup-deps.sh time
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$(nproc)" --target veltro tpsgen >/dev/null
mkdir -p bench-out
file=bench-out/bench-${size}mb.tps
encrypted=bench-out/bench-${size}mb-owner.tps
if [ ! -f "$file" ]; then
  echo "generating $file ..."
  "$bin/tools/tpsgen" bench "$file" "$size"
fi
if [ ! -f "$encrypted" ]; then
  echo "generating $encrypted ..."
  "$bin/tools/tpsgen" bench "$encrypted" "$size" "--owner=$owner"
fi
memos=bench-out/memos-${size}mb.tps
if [ ! -f "$memos" ]; then
  echo "generating $memos ..."
  "$bin/tools/tpsgen" memobench "$memos" "$size"
fi
bytes=$(stat -c %s "$file")
mb=$(awk -v b="$bytes" 'BEGIN { printf "%.1f", b / 1048576 }')
echo "file: $file, $mb MB; machine: $(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GiB", $2/1048576}' /proc/meminfo), load average $(cut -d' ' -f1-3 /proc/loadavg)"
reported=/sys/module/page_reporting/parameters/reported_kib
if [ -r "$reported" ]; then
  echo "this machine hands freed memory back to its host: $(($(cat "$reported") / 1024)) MB so far"
fi
cat "$file" >/dev/null  # warm the page cache so every run reads from memory

run() {  # name, command...
  local name=$1
  shift
  local log
  log=$(mktemp)
  if ! /usr/bin/time -v "$@" >/dev/null 2>"$log"; then
    echo "$name failed: $(grep -v '^\s' "$log" | head -3 | tr '\n' ' ')" >&2
    rm -f "$log"
    echo "$name - -"
    return 0
  fi
  local wall rss cpu
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {
      n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s }' "$log")
  cpu=$(awk -F': ' '/User time|System time/ { s += $2 } END { print s }' "$log")
  rss=$(awk -F': ' '/Maximum resident set size/ { printf "%.0f", $2 / 1024 }' "$log")
  rm -f "$log"
  echo "$name $wall $rss $cpu"
}

# Each step reads its input from the page cache: the output of earlier steps may have
# pushed it out, so it is read once more just before. The output of earlier steps is
# deleted (its checksum kept where it is compared) and the disk synced first, so that
# a step neither pays for their writing nor finds the memory they hold taken.
settle() {
  cat "$1" >/dev/null
  sync
}
results=()
results+=("$(run cat cat "$file")")
settle "$file"
results+=("$(run list "$bin/veltro" "$file" bench-out/out.txt /LIST)")
settle "$file"
results+=("$(run convert "$bin/veltro" "$file" bench-out/out.txt /h)")
plainSum=$(md5sum <bench-out/out.SALES.txt)
outMb=$(( ($(stat -c %s bench-out/out.SALES.txt) + 1048575) / 1048576 ))
rm -f bench-out/out.SALES.txt
sync
results+=("$(run write dd if=/dev/zero of=bench-out/write.tmp bs=128K "count=$((outMb * 8))" status=none)")
rm -f bench-out/write.tmp
# Memory just written and freed is taken again at once (warm); memory freed 10 s before
# has been handed back to the host where the machine does so (cold).
warm() {
  settle "$file"
  dd if=/dev/zero of=bench-out/warm.tmp bs=128K "count=$((outMb * 8))" status=none
  rm -f bench-out/warm.tmp
}
cold() {
  settle "$file"
  sleep 10
}
for state in w c; do
  prepare=warm
  [ "$state" = w ] || prepare=cold
  $prepare
  results+=("$(run "conv_$state" "$bin/veltro" "$file" bench-out/out.txt /h)")
  rm -f bench-out/out.SALES.txt
  $prepare
  results+=("$(run "write_$state" dd if=/dev/zero of=bench-out/write.tmp bs=128K \
    "count=$((outMb * 8))" status=none)")
  rm -f bench-out/write.tmp
done
settle "$file"
results+=("$(run filter "$bin/veltro" "$file" bench-out/filtered.txt /h \
  '/where=(QTY>10)AND(TRIM(CITY)<>"Oslo")AND(YEAR(DATE)>=2000)')")
rm -f bench-out/filtered.SALES.txt
settle "$encrypted"
results+=("$(run owner "$bin/veltro" "$encrypted" bench-out/owner.txt /h "/OWNER=$owner")")
if [ "$(md5sum <bench-out/owner.SALES.txt 2>/dev/null)" != "$plainSum" ]; then
  echo "the encrypted file's output differs from the plain file's" >&2
fi
rm -f bench-out/owner.SALES.txt
settle "$file"
results+=("$(run csv "$bin/veltro" "$file" bench-out/out.csv /CSV)")
rm -f bench-out/out.SALES.csv
settle "$file"
results+=("$(run jsonl "$bin/veltro" "$file" bench-out/out.jsonl /FORMAT=JSONL)")
rm -f bench-out/out.SALES.jsonl
settle "$file"
rm -f bench-out/out.db
results+=("$(run sqlite "$bin/veltro" "$file" bench-out/out.db /FORMAT=SQLITE)")
rm -f bench-out/out.db
settle "$file"
results+=("$(run sql "$bin/veltro" "$file" bench-out/out.sql /FORMAT=SQL)")
source tools/pg-throwaway.sh
trap pg_throwaway_stop EXIT
if [ -f bench-out/out.sql ] && pg_throwaway_start; then
  results+=("$(run psql "$PG_THROWAWAY_BIN/psql" -h "$PG_THROWAWAY_DIR" -U postgres -X -q \
    -v ON_ERROR_STOP=1 -d postgres -f bench-out/out.sql)")
  pg_throwaway_stop
fi
rm -f bench-out/out.sql
memoResults=()
settle "$memos"
memoResults+=("$(run m_cat cat "$memos")")
settle "$memos"
memoResults+=("$(run m_list "$bin/veltro" "$memos" bench-out/memos.txt /LIST)")
settle "$memos"
memoResults+=("$(run m_conv "$bin/veltro" "$memos" bench-out/memos.txt /h)")
rm -f bench-out/memos.SALES.txt

table() {  # file size in MB, then results; ratios to the first (the cat)
  local size_mb=$1
  shift
  local c
  c=$(echo "$1" | awk '{print $2}')
  for r in "$@"; do
    echo "$r" | awk -v mb="$size_mb" -v c="$c" '{
      if ($2 == "-") { printf "%-8s %10s\n", $1, "failed"; next }
      t = $2 + 0; if (t <= 0) t = 0.01; cc = c + 0; if (cc <= 0) cc = 0.01;
      printf "%-8s %10.2f %10.1f %12d %10.1f %10.2f\n", $1, t, mb / t, $3, t / cc, $4 }'
  done
}
memoMb=$(awk -v b="$(stat -c %s "$memos")" 'BEGIN { printf "%.1f", b / 1048576 }')
echo "memo-heavy file: $memos, $memoMb MB"
printf "%-8s %10s %10s %12s %10s %10s\n" step wall_s MB_per_s peak_RSS_MB x_cat cpu_s
table "$mb" "${results[@]}"
table "$memoMb" "${memoResults[@]}"
plain=$(printf '%s\n' "${results[@]}" | awk '$1 == "convert" { print $2 }')
enc=$(printf '%s\n' "${results[@]}" | awk '$1 == "owner" { print $2 }')
awk -v p="$plain" -v e="$enc" 'BEGIN {
  if (p + 0 > 0 && e + 0 > 0) printf "encrypted/plain conversion: %.2f\n", e / p }'
csv=$(printf '%s\n' "${results[@]}" | awk '$1 == "csv" { print $2 }')
awk -v p="$plain" -v c="$csv" 'BEGIN {
  if (p + 0 > 0 && c + 0 > 0) printf "/CSV/plain conversion: %.2f\n", c / p }'
for step in jsonl sqlite; do
  t=$(printf '%s\n' "${results[@]}" | awk -v s="$step" '$1 == s { print $2 }')
  awk -v p="$plain" -v t="$t" -v s="$step" 'BEGIN {
    if (p + 0 > 0 && t + 0 > 0) printf "%s/plain conversion: %.2f\n", s, t / p }'
done
sql=$(printf '%s\n' "${results[@]}" | awk '$1 == "sql" { print $2 }')
awk -v p="$plain" -v s="$sql" 'BEGIN {
  if (p + 0 > 0 && s + 0 > 0) printf "SQL script/plain conversion: %.2f\n", s / p }'
