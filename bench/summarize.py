#!/usr/bin/env python3
"""Summarises a run of bench/run.sh as Markdown: medians, ratios to the floor, system calls
per listed process, peak memory.   summarize.py RESULTS_DIR N..."""
import json
import os
import re
import sys

results, sizes = sys.argv[1], [int(n) for n in sys.argv[2:]]


def medians(path):
    with open(path) as f:
        return {r["command"]: r["median"] * 1000 for r in json.load(f)["results"]}


def read(name):
    with open(os.path.join(results, name)) as f:
        return f.read().strip()


def total_calls(n):
    match = re.search(r"^\s*100\.00\s+\S+\s+\S+\s+(\d+)", read(f"strace-{n}.txt"), re.M)
    if match is None:  # strace without the percentage column
        match = re.search(r"(\d+)\s+(?:\d+\s+)?total\s*$", read(f"strace-{n}.txt"), re.M)
    return int(match.group(1))


print(read("machine.txt").replace("\n", "  \n"))
for kind, title in (("list", "Listing"), ("kill", "Kill by name, victim last behind the decoys")):
    rows = [n for n in sizes if os.path.exists(os.path.join(results, f"{kind}-{n}.json"))]
    if not rows:
        continue
    commands = list(medians(os.path.join(results, f"{kind}-{rows[0]}.json")))
    print(f"\n### {title}: median ms (ratio to the floor)\n")
    print("| N | " + " | ".join(commands) + " |")
    print("|---" * (len(commands) + 1) + "|")
    for n in rows:
        m = medians(os.path.join(results, f"{kind}-{n}.json"))
        cells = [f"{m[c]:.2f} ({m[c] / m['floor']:.2f}x)" for c in commands]
        print(f"| {n} | " + " | ".join(cells) + " |")

errors = os.path.join(results, "kill-errors")
problems = sorted(set(read("kill-errors").splitlines())) if os.path.exists(errors) else []
print("\nEvery kill run had its victim last in /proc order, killed exactly that victim and no "
      "decoy:", "no (" + ", ".join(problems) + ")" if problems else "yes")

low, high = min(sizes), max(sizes)
lines = {n: int(read(f"lines-{n}.txt")) for n in (low, high)}
calls = {n: total_calls(n) for n in (low, high)}
if high != low:
    slope = (calls[high] - calls[low]) / (lines[high] - lines[low])
    print(f"\nSystem calls of `volmo -l`: {calls[low]} listing {lines[low]} lines, "
          f"{calls[high]} listing {lines[high]}: {slope:.3f} per listed process.")
print("Peak resident memory of `volmo -l`: " +
      ", ".join(f"N={n}: {int(read(f'rss-{n}.txt')) / 1024:.2f} MiB" for n in sizes) + ".")
