#!/usr/bin/env bash
# Builds Volmo and runs every test. The Linux build's unit, layer and end-to-end tests always
# run. When the tools are here, so do: the same suite under AddressSanitizer and
# UndefinedBehaviorSanitizer (any C++ compiler that has them); the fuzz targets for
# VOLMO_FUZZ_SECONDS each (clang with libFuzzer); and the Windows build, whose volmo.exe the
# end-to-end tests run under Wine (mingw-w64 and wine64). It says plainly what it skips.
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

echo "== Sanitizer build and tests"
cmake --preset asan -DVOLMO_WINDOWS_BUILD_DIR=
cmake --build --preset asan -j"$jobs"
ctest --test-dir build-asan -j"$jobs" --output-on-failure --timeout 600

clangxx=$(command -v clang++-14 || command -v clang++ || true)
if [ -n "$clangxx" ] && [ -f "$("$clangxx" --print-runtime-dir)/libclang_rt.fuzzer-x86_64.a" ]; then
  echo "== Fuzz targets"
  # The compiler is chosen once: changing it later would make CMake drop the preset's cache.
  compiler=()
  [ -f build-fuzz/CMakeCache.txt ] || compiler=(-DCMAKE_CXX_COMPILER="$clangxx")
  cmake --preset fuzz "${compiler[@]}"
  cmake --build --preset fuzz -j"$jobs" --target fuzz_dispatch fuzz_text fuzz_version
  tests/fuzz/run_fuzzers.sh build-fuzz "${VOLMO_FUZZ_SECONDS:-60}"
else
  echo "SKIPPED: the fuzz targets (no clang with libFuzzer: clang-14 libclang-rt-14-dev)"
fi

echo "== Linux build"
cmake -S . -B build -DVOLMO_WINDOWS_BUILD_DIR="$windows_dir"
cmake --build build -j"$jobs"

echo "== Tests"
ctest --test-dir build -j"$jobs" --output-on-failure --timeout 600
