#!/usr/bin/env bash
# Builds the Windows zip of a mingw-w64 build and checks it: exactly volmo.exe, README.md and
# LICENSE, and its volmo.exe prints the banner under Wine.
#   check_zip.sh WINDOWS_BUILD_DIR VERSION WINE WINEPREFIX
set -euo pipefail
build=$(cd "$1" && pwd)
version=$2
wine=$3
export WINEPREFIX=$4 WINEDEBUG=-all
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

(cd "$build" && cpack -G ZIP -B "$scratch/out" >/dev/null)
zip=$scratch/out/volmo-$version-win64.zip
[ -f "$zip" ] || fail "no zip $zip"
files=$(unzip -Z1 "$zip" | sort | tr '\n' ' ')
[ "$files" = "LICENSE README.md volmo.exe " ] || fail "the zip holds: $files"
unzip -q "$zip" -d "$scratch/unpacked"
banner=$("$wine" "$scratch/unpacked/volmo.exe" | head -n 1) || true
[ "$banner" = $'Volmo Version 1, 0, 0, 2\r' ] || fail "banner under Wine: $banner"
echo "zip $(basename "$zip") checked"
