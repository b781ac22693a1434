#!/usr/bin/env bash
# End-to-end benchmark: generates a TopSpeed file of about SIZE megabytes with the
# project's writer, then measures in one run
#   cat of the file to /dev/null (the read limit),
#   veltro /LIST (load only),
#   veltro converting all tables with a header line,
#   veltro with a three-condition row filter,
# printing wall time, throughput in MB/s of input, peak resident memory and the ratio
# to the cat time for each.
#
#   bash bench/e2e.sh [SIZE_MB]        default 1024; files are kept in bench-out/
set -euo pipefail
cd "$(dirname "$0")/.."
size=${1:-1024}
bash tools/setup-deps.sh time
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" --target veltro tpsgen >/dev/null
mkdir -p bench-out
file=bench-out/bench-${size}mb.tps
if [ ! -f "$file" ]; then
  echo "generating $file ..."
  ./build/tools/tpsgen bench "$file" "$size"
fi
bytes=$(stat -c %s "$file")
mb=$(awk -v b="$bytes" 'BEGIN { printf "%.1f", b / 1048576 }')
echo "file: $file, $mb MB; machine: $(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GiB", $2/1048576}' /proc/meminfo)"
cat "$file" >/dev/null  # warm the page cache so every run reads from memory

run() {  # name, command...
  local name=$1
  shift
  local log
  log=$(mktemp)
  /usr/bin/time -v "$@" >/dev/null 2>"$log" || { cat "$log"; rm -f "$log"; return 1; }
  local wall rss
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {
      n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s }' "$log")
  rss=$(awk -F': ' '/Maximum resident set size/ { printf "%.0f", $2 / 1024 }' "$log")
  rm -f "$log"
  echo "$name $wall $rss"
}

results=()
results+=("$(run cat cat "$file")")
results+=("$(run list ./build/veltro "$file" bench-out/out.txt /LIST)")
results+=("$(run convert ./build/veltro "$file" bench-out/out.txt /h)")
results+=("$(run filter ./build/veltro "$file" bench-out/filtered.txt /h \
  '/where=(QTY>10)AND(TRIM(CITY)<>"Oslo")AND(YEAR(DATE)>=2000)')")

cat_time=$(echo "${results[0]}" | awk '{print $2}')
printf "%-8s %10s %10s %12s %10s\n" step wall_s MB_per_s peak_RSS_MB x_cat
for r in "${results[@]}"; do
  echo "$r" | awk -v mb="$mb" -v c="$cat_time" '{
    t = $2 + 0; if (t <= 0) t = 0.01; cc = c + 0; if (cc <= 0) cc = 0.01;
    printf "%-8s %10.2f %10.1f %12d %10.1f\n", $1, t, mb / t, $3, t / cc }'
done
