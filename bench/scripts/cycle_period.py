#!/usr/bin/env python3
"""Measuring-cycle period against quarn-sim on a pseudo-terminal, in real time.

Runs `quarn-cli --sim measure --cycles N`, timestamps every measurement line as it arrives and
prints the median and 95th percentile of the period between cycles, next to the nominal sum of the
cycle's step delays, and the CPU time quarn-cli (library included) and quarn-sim spent per cycle.

usage: cycle_period.py [BIN_DIR] [CYCLES] [extra quarn-cli global options...]
"""
import os
import resource
import statistics
import subprocess
import sys
import time

# Step delays of one Quarn measuring cycle with the Kesto reading: measuring request 220 ms, then
# open file 100, position 100, read 110, contact inputs 80 (ms). Every deadline is served by the
# next 20 ms timer call, and the cycle's restart waits one more call.
NOMINAL_DELAYS_MS = [220, 100, 100, 110, 80]
TIMER_MS = 20


def main():
    bin_dir = sys.argv[1] if len(sys.argv) > 1 else "build/release/bin"
    cycles = int(sys.argv[2]) if len(sys.argv) > 2 else 50
    extra = sys.argv[3:]
    cli = os.path.join(bin_dir, "quarn-cli")
    cmd = [cli, "--sim", "--timeout", "30", *extra, "measure", "--cycles", str(cycles + 1)]
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    stamps = []
    for line in proc.stdout:
        if line.startswith("{"):
            stamps.append(time.monotonic())
    proc.wait()
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    if proc.returncode != 0 or len(stamps) < 3:
        print(f"quarn-cli failed (status {proc.returncode}, {len(stamps)} cycles)")
        return 1
    periods = sorted((b - a) * 1000.0 for a, b in zip(stamps, stamps[1:]))
    p95 = periods[min(len(periods) - 1, int(round(0.95 * (len(periods) - 1))))]
    nominal = sum(NOMINAL_DELAYS_MS)
    rounded = sum(-(-d // TIMER_MS) * TIMER_MS for d in NOMINAL_DELAYS_MS) + TIMER_MS
    cpu = (usage.ru_utime + usage.ru_stime) * 1000.0 / len(stamps)
    print(f"cycles measured:          {len(periods)}")
    print(f"period median / p95:      {statistics.median(periods):.1f} / {p95:.1f} ms")
    print(f"nominal step delays:      {nominal} ms ({rounded} ms on the 20 ms timer grid)")
    print(f"host CPU per cycle:       {cpu:.2f} ms (quarn-cli with the library plus quarn-sim)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
