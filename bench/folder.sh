#!/usr/bin/env bash
# Folder benchmark: COUNT TopSpeed files of about SIZE megabytes each (one generated with
# the project's writer, the others copies of it), converted in one call with a header
# line, first with /JOBS=1 (one file after the other), then with /JOBS=2; prints the wall
# time, peak resident memory of the largest process and CPU time of each, the ratio of
# the two wall times, and checks that both runs wrote the same bytes.
#
#   bash bench/folder.sh [COUNT [SIZE_MB]]   default 40 files of 25 MB; files in bench-out/folder/
#   BUILD_DIR=<dir> bash bench/folder.sh     use (and build) another Release build directory
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-40}
size=${2:-25}
build=${BUILD_DIR:-build}
case $build in /*) bin=$build ;; *) bin=./$build ;; esac
bash tools/setup-deps.sh time
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$(nproc)" --target veltro tpsgen >/dev/null
src=bench-out/folder/app-${count}x${size}mb
mkdir -p "$src"
if [ ! -f "$src/FILE01.TPS" ]; then
  echo "generating $count files of $size MB in $src ..."
  "$bin/tools/tpsgen" bench "$src/FILE01.TPS" "$size" >/dev/null
  for i in $(seq -f "%02g" 2 "$count"); do cp "$src/FILE01.TPS" "$src/FILE$i.TPS"; done
fi
mb=$(du -sm "$src" | cut -f1)
echo "$count files, $mb MB; machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"

run() {  # jobs
  local out=bench-out/folder/out-jobs$1 log
  rm -rf "$out"
  cat "$src"/* >/dev/null  # from the page cache, as every run
  sync
  log=$(mktemp)
  /usr/bin/time -v "$bin/veltro" "$src" "$out" /h "/jobs=$1" >/dev/null 2>"$log" || {
    echo "/JOBS=$1 failed: $(head -3 "$log")" >&2
    exit 1
  }
  awk -F': ' -v j="$1" '
    /Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; wall = s }
    /User time|System time/ { cpu += $2 }
    /Maximum resident set size/ { rss = $2 / 1024 }
    END { printf "/JOBS=%s %.2f %.0f %.2f\n", j, wall, rss, cpu }' "$log"
  rm -f "$log"
}
one=$(run 1)
two=$(run 2)
printf "%-8s %10s %16s %10s\n" run wall_s peak_RSS_MB cpu_s
printf '%s\n' "$one" "$two" | awk '{ printf "%-8s %10.2f %16d %10.2f\n", $1, $2, $3, $4 }'
awk -v a="$(echo "$one" | cut -d' ' -f2)" -v b="$(echo "$two" | cut -d' ' -f2)" \
  'BEGIN { if (a > 0) printf "/JOBS=2 / /JOBS=1 wall time: %.2f\n", b / a }'
if diff -r -q bench-out/folder/out-jobs1 bench-out/folder/out-jobs2 >/dev/null; then
  echo "both runs wrote the same $(find bench-out/folder/out-jobs1 -type f | wc -l) files"
else
  echo "the two runs wrote different files" >&2
  exit 1
fi
rm -rf bench-out/folder/out-jobs1 bench-out/folder/out-jobs2
