#!/usr/bin/env bash
# Builds Volmo and runs every test. The Linux build's unit, layer and end-to-end tests always
# run; when the mingw-w64 cross compiler and Wine are here, the Windows build is made too and
# the same end-to-end tests run its volmo.exe under Wine. It says plainly when it skips that.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

have() { command -v "$1" >/dev/null 2>&1 || [ -x "/usr/lib/wine/$1" ]; }

windows_dir=""
if ! have x86_64-w64-mingw32-g++-posix && ! have x86_64-w64-mingw32-g++; then
  echo "SKIPPED: the Windows half (no mingw-w64 cross compiler: g++-mingw-w64-x86-64-posix)"
else
  echo "== Windows cross build"
  cmake --preset windows-mingw
  cmake --build --preset windows-mingw -j"$jobs"
  if have wine64 || have wine; then
    windows_dir="$PWD/build-windows"
  else
    echo "SKIPPED: the Windows tests under Wine (no wine64); volmo.exe was built, not run"
  fi
fi

echo "== Linux build"
cmake -S . -B build -DVOLMO_WINDOWS_BUILD_DIR="$windows_dir"
cmake --build build -j"$jobs"

echo "== Tests"
ctest --test-dir build -j"$jobs" --output-on-failure --timeout 600
