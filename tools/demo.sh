#!/usr/bin/env bash
# Builds VELTRO, writes the bundled demo TopSpeed file and converts it:
# every table, with a header line and double-quote qualifiers.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" --target veltro tpsgen
mkdir -p demo-out
./build/tools/tpsgen demo demo-out/demo.tps
echo "\$ veltro demo-out/demo.tps demo-out/demo.txt /LIST"
./build/veltro demo-out/demo.tps demo-out/demo.txt /LIST
echo "\$ veltro demo-out/demo.tps demo-out/demo.txt /h /qualifier=\\34"
./build/veltro demo-out/demo.tps demo-out/demo.txt /h '/qualifier=\34'
for f in demo-out/demo.*.txt; do
  echo "--- $f ($(wc -l <"$f") lines), first lines:"
  head -n 4 "$f"
done
