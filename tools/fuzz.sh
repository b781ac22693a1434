#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, AddressSanitizer + UndefinedBehaviorSanitizer)
# and runs each one for the given number of seconds.
#   bash tools/fuzz.sh <seconds> [harness ...]     harnesses: tps expr cmdline (default: all)
# Build directory: $VELTRO_FUZZ_BUILD or build-fuzz. The corpus grows in
# <build>/corpus/<harness> from run to run; findings go to <build>/artifacts/.
# VELTRO_FUZZ_SEED fixes libFuzzer's random seed (a repeatable run); unset, each run
# draws its own.
# Exit status 1 when a harness found a crash, a leak, a timeout or ran out of memory.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -lt 1 ] || ! [[ "$1" =~ ^[0-9]+$ ]]; then
  echo "usage: bash tools/fuzz.sh <seconds> [tps|expr|cmdline ...]" >&2
  exit 2
fi
seconds=$1
shift
harnesses=("$@")
[ ${#harnesses[@]} -eq 0 ] && harnesses=(tps expr cmdline)

bash tools/setup-deps.sh clang libclang-rt-14-dev
dir=${VELTRO_FUZZ_BUILD:-build-fuzz}
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DVELTRO_FUZZ=ON -DVELTRO_TESTS=OFF >/dev/null
cmake --build "$dir" --target fuzz -j "$(nproc)"

# Seeds, made fresh each time (nothing binary is kept in the repository).
seeds=$dir/seeds
rm -rf "$seeds"
mkdir -p "$seeds/tps" "$seeds/expr" "$seeds/cmdline" "$dir/artifacts"
"$dir/fuzz/fuzz_seed_tps" "$seeds/tps"
if [ -d ../shared/samples ]; then
  find ../shared/samples -maxdepth 1 -type f -iname '*.tps' -exec cp {} "$seeds/tps/" \;
fi
# Every string literal of the expression tests is a seed of the expression harness,
# and every literal of the command-line tests one of the command-line harness.
seed_literals() {
  local out=$1
  shift
  local n=0
  while IFS= read -r lit; do
    n=$((n + 1))
    printf '%b' "${lit:1:${#lit}-2}" >"$out/lit$n"
  done < <(grep -oh '"\([^"\\]\|\\.\)*"' "$@" | sort -u)
}
seed_literals "$seeds/expr" tests/expr/*.cpp
seed_literals "$seeds/cmdline" tests/front/CmdLine*.cpp tests/front/RunOptionsTest.cpp
printf '%s' 'veltro.exe "C:\data\in.tps" out.txt /h /f /fixed /delimiter=\59 /qualifier=" /where="ID > 3"' \
  >"$seeds/cmdline/line1"
printf '%s' 'a\\\"b "c d"\\" e\\\\"f" /table=ORDERS /recordseparator=lf /fields=id;name /group=1' \
  >"$seeds/cmdline/line2"

max_len_of() {
  case $1 in
    tps) echo 65536 ;;
    expr) echo 4096 ;;
    cmdline) echo 4096 ;;
  esac
}

status=0
for h in "${harnesses[@]}"; do
  bin=$dir/fuzz/fuzz_$h
  [ -x "$bin" ] || { echo "no harness $h" >&2; exit 2; }
  corpus=$dir/corpus/$h
  mkdir -p "$corpus"
  echo "== fuzz_$h for ${seconds}s"
  start=$(date +%s)
  if ! ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=0 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$bin" -max_total_time="$seconds" -rss_limit_mb=2048 -max_len="$(max_len_of "$h")" \
    ${VELTRO_FUZZ_SEED:+-seed="$VELTRO_FUZZ_SEED"} -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$dir/artifacts/$h-" \
    "$corpus" "$seeds/$h" >"$dir/fuzz_$h.log" 2>&1; then
    echo "fuzz_$h FAILED after $(($(date +%s) - start))s; see $dir/fuzz_$h.log:"
    grep -E 'ERROR|SUMMARY|Test unit written|==[0-9]+==' "$dir/fuzz_$h.log" | head -20 || true
    status=1
  else
    echo "fuzz_$h ok after $(($(date +%s) - start))s: $(grep -E '^stat::number_of_executed_units' "$dir/fuzz_$h.log" | awk '{print $2}') runs"
  fi
done
exit $status
