#!/usr/bin/env python3
"""What quarn-cli costs per measuring cycle, beside the library's own work for the same cycle.

Starts quarn-sim on a pseudo-terminal of its own (so its CPU time is not counted), then runs
`quarn-cli --port PTY measure --cycles N` twice, with N1 and N2 cycles. The difference of the two
runs' CPU time (user + system, from wait4), sleeps (voluntary context switches) and system calls
(strace -c, when installed, by name) divided by N2 - N1 is one cycle's cost without the start-up
and the connection. The library's own work for a cycle comes from calibrator_cycle_bench (the same
cycle against the in-process simulator in virtual time): its CPU per cycle with the simulated port,
and the library's part of it alone.

A host that keeps the library's step timing wakes once per step at least (a step runs at the first
timer call at or after its deadline, one timer period after the step before it at the soonest), so
each cycle costs its sleeps whatever the host does between them. The script measures what one sleep
and wake costs on this machine (a bare 20 ms wait) and prints that floor beside the figures.

With --compare OTHER_BIN_DIR the quarn-cli of another build is measured in the same run against the
same simulator, the two builds alternating, so both sides see the same machine load.

usage: idle_host.py [BIN_DIR] [--compare OTHER_BIN_DIR] [N1] [N2]
"""
import collections
import os
import re
import resource
import select
import shutil
import subprocess
import sys
import tempfile
import time


def start_sim(bin_dir):
    sim = subprocess.Popen([os.path.join(bin_dir, "quarn-sim"), "--model", "quarn"],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    line = sim.stdout.readline()
    m = re.match(r"calibrator (\S+)", line)
    if not m:
        sim.kill()
        raise SystemExit(f"quarn-sim did not report its terminal: {line!r}")
    return sim, m.group(1)


def run_cli(bin_dir, pty, cycles, strace):
    """CPU seconds, sleeps, system calls by name (None without strace) and wall seconds of one run."""
    cmd = [os.path.join(bin_dir, "quarn-cli"), "--port", pty, "--timeout", "30", "measure",
           "--cycles", str(cycles)]
    calls = None
    with tempfile.TemporaryDirectory() as tmp:
        if strace:
            out = os.path.join(tmp, "strace.txt")
            cmd = [strace, "-c", "-f", "-o", out] + cmd
        t0 = time.monotonic()
        proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(proc.pid, 0)
        wall = time.monotonic() - t0
        if os.waitstatus_to_exitcode(status) != 0:
            raise SystemExit(f"{cmd[-6]} measure failed (status {status})")
        if strace:
            calls = collections.Counter()
            with open(out) as f:
                for line in f:
                    cols = line.split()
                    # % time, seconds, usecs/call, calls, [errors], name
                    if len(cols) >= 5 and cols[-1] != "total" and re.match(r"[\d.]+$", cols[0]):
                        calls[cols[-1]] += int(cols[3])
    # Under strace the traced program's CPU is inflated; only the counts are taken from that run.
    return usage.ru_utime + usage.ru_stime, usage.ru_nvcsw, calls, wall


def library_cycle(bin_dir):
    """CPU per cycle (µs) of the in-process cycle with the simulated port, and the library's part."""
    out = subprocess.run([os.path.join(bin_dir, "calibrator_cycle_bench"),
                          "--benchmark_filter=BM_QuarnMeasuringCycle", "--benchmark_min_time=2"],
                         capture_output=True, text=True, check=True).stdout
    for line in out.splitlines():
        if line.startswith("BM_QuarnMeasuringCycle"):
            cols = line.split()
            cpu = float(cols[3]) * {"ns": 1e-3, "us": 1.0, "ms": 1e3}[cols[4]]
            lib = float(re.search(r"lib_cpu_us_per_cycle=([\d.]+)", line).group(1))
            return cpu, lib
    raise SystemExit("calibrator_cycle_bench printed no result")


def sleep_cost_us(rounds=200, period_ms=20):
    """CPU (µs) of one bare wait of a timer period and the wake after it, on this machine."""
    p = select.poll()
    before = resource.getrusage(resource.RUSAGE_SELF)
    for _ in range(rounds):
        p.poll(period_ms)
    after = resource.getrusage(resource.RUSAGE_SELF)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return cpu * 1e6 / rounds


class Side:
    """The figures of one build's quarn-cli, summed over the rounds."""

    def __init__(self, bin_dir):
        self.bin_dir = bin_dir
        self.cpu = [0.0, 0.0]
        self.sleeps = [0, 0]
        self.wall = [0.0, 0.0]
        self.calls = [None, None]
        self.rounds = 0

    def measure(self, pty, n1, n2, strace):
        for i, n in enumerate((n1, n2)):
            cpu, sleeps, _, wall = run_cli(self.bin_dir, pty, n, None)
            self.cpu[i] += cpu
            self.sleeps[i] += sleeps
            self.wall[i] += wall
        self.rounds += 1
        if strace and self.calls[0] is None:
            self.calls = [run_cli(self.bin_dir, pty, n, strace)[2] for n in (n1, n2)]

    def report(self, name, cycles, lib_cpu_us, lib_only_us, sleep_us):
        per = self.rounds * cycles
        cli_us = (self.cpu[1] - self.cpu[0]) * 1e6 / per
        sleeps = (self.sleeps[1] - self.sleeps[0]) / per
        period_ms = (self.wall[1] - self.wall[0]) * 1e3 / per
        floor_us = sleeps * sleep_us + lib_cpu_us
        print(f"{name} ({self.bin_dir}):")
        print(f"  cycle period:                    {period_ms:8.0f} ms")
        print(f"  quarn-cli CPU per cycle:         {cli_us:8.1f} us")
        print(f"  sleeps per cycle:                {sleeps:8.1f}")
        if self.calls[0] is not None:
            diff = {k: (self.calls[1][k] - self.calls[0][k]) / cycles
                    for k in set(self.calls[0]) | set(self.calls[1])}
            shown = sorted((v, k) for k, v in diff.items() if v >= 0.05)
            total = sum(diff.values())
            print(f"  system calls per cycle:          {total:8.1f}  "
                  + ", ".join(f"{k} {v:.1f}" for v, k in reversed(shown)))
        print(f"  ratio quarn-cli / library+port:  {cli_us / lib_cpu_us:8.1f}x")
        print(f"  ratio quarn-cli / library alone: {cli_us / lib_only_us:8.1f}x")
        print(f"  floor (sleeps x one sleep + library+port): {floor_us:.1f} us; "
              f"quarn-cli / floor {cli_us / floor_us:.2f}x")


def main():
    args = sys.argv[1:]
    other = None
    if "--compare" in args:
        i = args.index("--compare")
        other = args[i + 1]
        del args[i:i + 2]
    bin_dir = args[0] if len(args) > 0 else "build/release/bin"
    n1 = int(args[1]) if len(args) > 1 else 10
    n2 = int(args[2]) if len(args) > 2 else 60
    strace = shutil.which("strace")
    sides = [Side(bin_dir)] + ([Side(other)] if other else [])
    sim, pty = start_sim(bin_dir)
    try:
        # Alternating, so that both builds see the same load.
        for _ in range(2 if other else 1):
            for side in sides:
                side.measure(pty, n1, n2, strace)
    finally:
        sim.terminate()
        sim.wait()
    cycles = n2 - n1
    lib_cpu_us, lib_only_us = library_cycle(bin_dir)
    sleep_us = sleep_cost_us()
    print(f"cycles compared:                 {n1} and {n2}")
    print(f"library + simulated port:        {lib_cpu_us:8.1f} us per cycle (in process, virtual time)")
    print(f"library alone:                   {lib_only_us:8.1f} us per cycle")
    print(f"one sleep and wake (20 ms wait): {sleep_us:8.1f} us on this machine")
    for side, name in zip(sides, ["this build", "compared build"]):
        side.report(name, cycles, lib_cpu_us, lib_only_us, sleep_us)
    if other:
        a, b = sides
        ca = (a.cpu[1] - a.cpu[0]) / a.rounds
        cb = (b.cpu[1] - b.cpu[0]) / b.rounds
        print(f"this build / compared build (CPU per cycle): {ca / cb:.2f}x")
    return 0


if __name__ == "__main__":
    sys.exit(main())
