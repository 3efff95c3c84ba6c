#!/usr/bin/env bash
# Builds Volmo and runs every test: the Linux build's unit, layer and end-to-end tests, then the
# Windows cross build when the mingw-w64 compiler is here (it says so plainly when it is not).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

echo "== Linux build and tests"
cmake -S . -B build
cmake --build build -j"$jobs"
ctest --test-dir build -j"$jobs" --output-on-failure

echo "== Windows cross build"
if command -v x86_64-w64-mingw32-g++-posix >/dev/null || command -v x86_64-w64-mingw32-g++ >/dev/null; then
  cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
  cmake --build build-windows -j"$jobs"
  echo "built build-windows/volmo.exe"
else
  echo "SKIPPED: no mingw-w64 cross compiler (Debian: g++-mingw-w64-x86-64-posix)"
fi
