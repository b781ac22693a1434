#!/usr/bin/env bash
# Builds VELTRO.EXE for 64-bit Windows with MinGW-w64: a self-contained program (static
# runtime, no DLLs beside it) in build-win/VELTRO.EXE.
#   bash tools/build-windows.sh              VELTRO.EXE only
#   bash tools/build-windows.sh --all        VELTRO.EXE and the Windows test programs
# VELTRO_WIN_BUILD_DIR chooses another build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup-deps.sh g++-mingw-w64-x86-64-posix mingw-w64
dir="${VELTRO_WIN_BUILD_DIR:-build-win}"
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" >/dev/null
if [ "${1:-}" = "--all" ]; then
  cmake --build "$dir" -j "$(nproc)"
else
  cmake --build "$dir" -j "$(nproc)" --target veltro
fi
echo "Built $dir/VELTRO.EXE"
