#!/usr/bin/env python3
"""What quarn-cli costs per measuring cycle, beside the library's own work for the same cycle.

Starts quarn-sim on a pseudo-terminal of its own (so its CPU time is not counted), then runs
`quarn-cli --port PTY measure --cycles N` twice, with N1 and N2 cycles. The difference of the two
runs' CPU time (user + system, from wait4) and system calls (strace -c, when installed) divided by
N2 - N1 is one cycle's cost without the start-up and the connection. The library's own work for a
cycle comes from calibrator_cycle_bench (the same cycle against the in-process simulator in virtual
time): its CPU per cycle with the simulated port, and the library's part of it alone.

usage: idle_host.py [BIN_DIR] [N1] [N2]
"""
import os
import re
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
    """CPU seconds, system calls (None without strace) and wall seconds of one run."""
    cmd = [os.path.join(bin_dir, "quarn-cli"), "--port", pty, "--timeout", "30", "measure",
           "--cycles", str(cycles)]
    syscalls = None
    with tempfile.TemporaryDirectory() as tmp:
        if strace:
            out = os.path.join(tmp, "strace.txt")
            cmd = [strace, "-c", "-f", "-o", out] + cmd
        t0 = time.monotonic()
        proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(proc.pid, 0)
        wall = time.monotonic() - t0
        if os.waitstatus_to_exitcode(status) != 0:
            raise SystemExit(f"quarn-cli measure failed (status {status})")
        if strace:
            with open(out) as f:
                for line in f:
                    m = re.search(r"\s(\d+)\s+(\d+\s+)?total\s*$", line)
                    if m:
                        syscalls = int(m.group(1))
    # Under strace the traced program's CPU is inflated; only the counts are taken from that run.
    return usage.ru_utime + usage.ru_stime, syscalls, wall


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


def main():
    bin_dir = sys.argv[1] if len(sys.argv) > 1 else "build/release/bin"
    n1 = int(sys.argv[2]) if len(sys.argv) > 2 else 10
    n2 = int(sys.argv[3]) if len(sys.argv) > 3 else 60
    strace = shutil.which("strace")
    sim, pty = start_sim(bin_dir)
    try:
        cpu1, _, wall1 = run_cli(bin_dir, pty, n1, None)
        cpu2, _, wall2 = run_cli(bin_dir, pty, n2, None)
        calls1 = calls2 = None
        if strace:
            _, calls1, _ = run_cli(bin_dir, pty, n1, strace)
            _, calls2, _ = run_cli(bin_dir, pty, n2, strace)
    finally:
        sim.terminate()
        sim.wait()
    cycles = n2 - n1
    cli_us = (cpu2 - cpu1) * 1e6 / cycles
    period_ms = (wall2 - wall1) * 1e3 / cycles
    lib_cpu_us, lib_only_us = library_cycle(bin_dir)
    print(f"cycles compared:                 {n1} and {n2} (period {period_ms:.0f} ms)")
    print(f"quarn-cli CPU per cycle:         {cli_us:8.1f} us")
    if calls1 is not None and calls2 is not None:
        print(f"quarn-cli system calls per cycle:{(calls2 - calls1) / cycles:8.1f}")
    print(f"library + simulated port:        {lib_cpu_us:8.1f} us per cycle (in process, virtual time)")
    print(f"library alone:                   {lib_only_us:8.1f} us per cycle")
    print(f"ratio quarn-cli / library+port:  {cli_us / lib_cpu_us:8.1f}x")
    print(f"ratio quarn-cli / library alone: {cli_us / lib_only_us:8.1f}x")
    return 0


if __name__ == "__main__":
    sys.exit(main())
