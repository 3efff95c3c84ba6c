#!/usr/bin/env bash
# Volmo's benchmark: listing and kill by name beside the usual tools and the system-call floor,
# with N uniquely named sleeping decoys running. Not part of the test suite.
#   bench/run.sh                   N = 100, 1000, 4000
#   VOLMO_BENCH_SIZES="1000" VOLMO_BENCH_RUNS=20 bench/run.sh
# Needs: hyperfine strace busybox procps psmisc python3 (Debian packages of those names) and a C
# compiler. Results go to build/bench/results/, and a summary to standard output.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$root/build/bench
sizes=${VOLMO_BENCH_SIZES:-"100 1000 4000"}
runs=${VOLMO_BENCH_RUNS:-30}

if [ -z "${VOLMO_BENCH_REAPED:-}" ]; then
  for tool in hyperfine strace busybox ps pgrep pkill killall python3 cc cmake; do
    command -v "$tool" >/dev/null || { echo "missing: $tool (apt-get install hyperfine strace busybox procps psmisc python3 gcc cmake)"; exit 2; }
  done
  mkdir -p "$out"
  cmake -S . -B build >/dev/null
  cmake --build build --target volmo >/dev/null
  for tool in floor_list floor_kill decoy peak_rss subreaper; do
    cc -O2 -Wall -Wextra -static -o "$out/$tool" "bench/$tool.c"
  done
  # Run as a child subreaper, so that killed victims are reaped at once and never linger.
  VOLMO_BENCH_REAPED=1 exec "$out/subreaper" "$0" "$@"
fi

volmo=$root/build/volmo
results=$out/results
rm -rf "$results" && mkdir -p "$results"
work=$(mktemp -d /tmp/volmo-bench-XXXXXX)
tag=$$
victim=vbv$tag  # at most 15 characters: pkill -x and killall match the kernel's short name
decoy_pids=()

stop_decoys() {
  [ "${#decoy_pids[@]}" -gt 0 ] && kill "${decoy_pids[@]}" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap stop_decoys EXIT

running_decoys() { "$out/floor_list" | grep -c $'\t'"vbd$tag-" || true; }

start_decoys() {  # grow the set of decoys to $1
  local want=$1 i
  for ((i = ${#decoy_pids[@]} + 1; i <= want; i++)); do
    ln "$out/decoy" "$work/vbd$tag-$i"
    "$work/vbd$tag-$i" 600 &
    decoy_pids+=($!)
  done
  while [ "$(running_decoys)" -lt "$want" ]; do sleep 0.2; done
  printf '%s\n' "${decoy_pids[@]}" | sort -n | tail -n 1 > "$work/last_decoy_pid"
}

cp "$out/decoy" "$work/$victim"
cat > "$work/start_victim" <<SCRIPT
#!/usr/bin/env bash
# Before each run: the previous run must have killed its victim; then start a fresh one, last
# in /proc order (the newest pid), detached so that our subreaper reaps it when it is killed.
listed() { "$out/floor_list" | grep -q $'\t'"$victim"\$; }
for _ in \$(seq 100); do listed || break; sleep 0.01; done  # a signal is delivered, not awaited
if listed; then echo survivor >> "$results/kill-errors"; fi
setsid -f "$work/$victim" 600 </dev/null >/dev/null 2>&1
until listed; do :; done
# It must stand last: a pid counter that wrapped round would put it first. (A small pid_max
# wraps within a run: raise /proc/sys/kernel/pid_max, if that is yours to change.)
pid=\$("$out/floor_list" | grep $'\t'"$victim"\$ | cut -f1)
[ "\$pid" -gt "\$(cat "$work/last_decoy_pid")" ] || echo "victim not last" >> "$results/kill-errors"
SCRIPT
chmod +x "$work/start_victim"

{
  echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), kernel $(uname -r)"
  echo "volmo: $(file -b "$volmo" | cut -d, -f1-5)"
} > "$results/machine.txt"

for n in $sizes; do
  start_decoys "$n"
  echo "== N=$n decoys ($(ls /proc | grep -c '^[0-9]') processes in all)"
  hyperfine -N --warmup 5 --runs "$runs" --export-json "$results/list-$n.json" \
    -n volmo "$volmo -l" -n ps "ps -e -o pid=,comm=" -n pgrep "pgrep -l ''" \
    -n busybox "busybox ps" -n floor "$out/floor_list" >/dev/null
  "$volmo" -l | wc -l > "$results/lines-$n.txt"
  strace -f -c -o "$results/strace-$n.txt" "$volmo" -l >/dev/null
  "$out/peak_rss" "$volmo" -l > "$results/rss-$n.txt"
  if [ "$n" -ge 1000 ]; then
    hyperfine -N --warmup 3 --runs "$runs" --prepare "$work/start_victim" \
      --export-json "$results/kill-$n.json" \
      -n volmo "$volmo -k $victim" -n pkill "pkill -x $victim" -n killall "killall $victim" \
      -n floor "$out/floor_kill $victim" >/dev/null
    # Every run killed exactly one victim: none survived into the next run, no decoy died.
    if "$out/floor_list" | grep -q $'\t'"$victim"\$; then echo survivor >> "$results/kill-errors"; fi
    [ "$(running_decoys)" -eq "$n" ] || echo "decoys lost at N=$n" >> "$results/kill-errors"
  fi
done

python3 "$root/bench/summarize.py" "$results" $sizes
