#!/usr/bin/env bash
# Runs each fuzz target for a bounded time, starting from its committed seeds.
#   tests/fuzz/run_fuzzers.sh [BUILD_DIR] [SECONDS]      (defaults: build-fuzz, 60)
# Exits non-zero at the first finding; libFuzzer leaves the input that shows it in
# BUILD_DIR/fuzz-work/, and the log's tail is printed.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build-fuzz}
seconds=${2:-60}
work=$build/fuzz-work
for target in dispatch text version; do
  rm -rf "${work:?}/$target" && mkdir -p "$work/$target"
  log=$work/$target.log
  if "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$work/$target-" -print_final_stats=1 \
      "$work/$target" "tests/fuzz/corpus/$target" > "$log" 2>&1; then
    echo "fuzz_$target: $(grep -m1 '^Done' "$log"), $(grep -c '' <(ls "$work/$target")) new inputs, no finding"
  else
    echo "fuzz_$target: FOUND A FAULT"
    tail -n 60 "$log"
    exit 1
  fi
done
