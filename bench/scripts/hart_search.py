#!/usr/bin/env python3
"""The HART device search in real time: `quarn-cli --sim hart search` with its fixed windows and
with --fast, side by side, on the simulator's four transmitters and on one channel without a HART
device. First it measures what the simulated line adds between a poll and its answer (the turnaround
the fast search waits beyond the devices' time-out), and what a search spends before its first
channel (a search without a usable channel), which the time per channel leaves out. Prints each search's time (searchSeconds of quarn-cli's answer), the time per usable
channel, the devices found, and the ratio of the two searches; the line's limit for the same traffic
comes from bench_hart_search (virtual time), which this script runs as well when it is beside
quarn-cli.

With --compare OTHER_BIN_DIR the fast search of another build's quarn-cli runs on each case in the
same run, right after this build's, and the two are printed side by side.

usage: hart_search.py [BIN_DIR] [--quick] [--compare OTHER_BIN_DIR]   (--quick: the four transmitters only)
"""
import json
import os
import re
import select
import subprocess
import sys
import termios
import time

# The bench's transmitters answer 50 ms after a request, the Kesto module 15 ms: the same line as
# bench_hart_search, so its limit applies.
LINE = ["hart.turnaround_ms=50", "kesto.turnaround_ms=15"]
EMPTY_CHANNEL = ["channel.1.hart=false", "kesto.status.2=1", "kesto.status.3=1", "kesto.status.4=1"]
NO_CHANNEL = [f"kesto.status.{n}=1" for n in range(1, 5)]


def uail_frame(payload):
    """A UAIL request: 0xFF, ':', the payload, its CRC-16 (MODBUS) in decimal, CR."""
    crc = 0xFFFF
    for b in payload.encode():
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return b"\xff:" + payload.encode() + str(crc).encode() + b"\r"


def short_answer_complete(data):
    """True once `data` holds a whole short-frame answer: preamble, delimiter, address, command,
    byte count, that many bytes and the checksum."""
    i = 0
    while i < len(data) and data[i] == 0xFF:
        i += 1
    if i == 0 or len(data) < i + 4:
        return False
    return len(data) >= i + 4 + data[i + 3] + 1


def line_turnaround(bin_dir, rounds=20):
    """What the simulated line adds to a HART exchange on a pseudo-terminal, in ms (median, max):
    the time from writing a poll to its answer's first byte, less the poll's 11 characters, the
    transmitter's turnaround (fixed at 50 ms here) and that first byte's own character."""
    sim = subprocess.Popen([os.path.join(bin_dir, "quarn-sim"), "--model", "quarn", "--set",
                            "hart.turnaround_ms=50"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                           text=True)
    try:
        pty = re.match(r"calibrator (\S+)", sim.stdout.readline()).group(1)
        fd = os.open(pty, os.O_RDWR | os.O_NOCTTY)
        try:
            def line(speed, parity):
                attrs = termios.tcgetattr(fd)
                attrs[0] = attrs[1] = attrs[3] = 0
                attrs[2] = termios.CS8 | termios.CREAD | termios.CLOCAL | termios.CSTOPB | parity
                attrs[4] = attrs[5] = speed
                termios.tcsetattr(fd, termios.TCSANOW, attrs)
                time.sleep(0.05)
                termios.tcflush(fd, termios.TCIOFLUSH)

            def read_until(done, timeout_s):
                data, first, end = b"", None, time.monotonic() + timeout_s
                while time.monotonic() < end and not done(data):
                    if select.select([fd], [], [], max(0.0, end - time.monotonic()))[0]:
                        chunk = os.read(fd, 256)
                        if chunk and first is None:
                            first = time.monotonic()
                        data += chunk
                return data, first

            line(termios.B9600, 0)
            os.write(fd, uail_frame("3;5;0;"))  # the Kesto module selects channel 1 for HART
            read_until(lambda d: d.endswith(b"\r"), 1.0)
            line(termios.B1200, termios.PARENB | termios.PARODD)
            poll = bytes([0xFF] * 5 + [0x02, 0x80, 0x00, 0x00, 0x82, 0xFF])
            added = []
            for _ in range(rounds):
                t0 = time.monotonic()
                os.write(fd, poll)
                data, first = read_until(short_answer_complete, 2.0)
                if first is not None:
                    added.append((first - t0) * 1000 - len(poll) * 10 - 50 - 10)
                time.sleep(0.3)
        finally:
            os.close(fd)
    finally:
        sim.terminate()
        sim.wait()
    added.sort()
    return (added[len(added) // 2], added[-1]) if added else (None, None)


def search(bin_dir, settings, fast):
    cmd = [os.path.join(bin_dir, "quarn-cli"), "--sim"]
    for s in LINE + settings:
        cmd += ["--sim-arg", "--set", "--sim-arg", s]
    cmd += ["hart", "search"] + (["--fast"] if fast else [])
    out = subprocess.run(cmd, capture_output=True, text=True)
    if out.returncode not in (0, 1):
        raise SystemExit(f"quarn-cli failed ({out.returncode}): {out.stderr.strip()}")
    answer = json.loads(out.stdout.strip().splitlines()[-1])
    found = sorted((d["ch"], d["pollingAddress"], d["deviceId"]) for d in answer["devices"])
    return answer["searchSeconds"], found


def limits(bin_dir):
    """Line limit (s) per benchmark row of bench_hart_search, when it is there."""
    bench = os.path.join(bin_dir, "bench_hart_search")
    if not os.path.exists(bench):
        return {}
    out = subprocess.run([bench], capture_output=True, text=True).stdout
    rows = {}
    for line in out.splitlines():
        m = re.match(r"BM_Search(\w+?)_(\w+)/.*limit_s=([\d.]+).*search_s=([\d.]+)", line)
        if m:
            rows[(m.group(1), m.group(2))] = (float(m.group(3)), float(m.group(4)))
    return rows


def main():
    argv = sys.argv[1:]
    other = None
    if "--compare" in argv:
        i = argv.index("--compare")
        other = argv[i + 1]
        del argv[i:i + 2]
    args = [a for a in argv if not a.startswith("--")]
    quick = "--quick" in argv
    bin_dir = args[0] if args else "build/release/bin"
    median, most = line_turnaround(bin_dir)
    if median is not None:
        print(f"line turnaround added by the simulator on a pseudo-terminal: median {median:.1f} ms, "
              f"max {most:.1f} ms (the library's default: QUARN_HART_TURNAROUND_DEFAULT_MS)")
    lim = limits(bin_dir)
    # A search without a usable channel: what every search spends before its first channel (the
    # Kesto module's channel status), taken out of the time per channel.
    # The fast search takes the module's answers as they end, so its start is shorter.
    start_s, _ = search(bin_dir, NO_CHANNEL, False)
    fast_start_s, _ = search(bin_dir, NO_CHANNEL, True)
    print(f"search start (the Kesto module's channel status): {start_s:.2f} s, fast {fast_start_s:.2f} s")
    cases = [("FourDevices", [], 4)] + ([] if quick else [("EmptyChannel", EMPTY_CHANNEL, 1)])
    for name, settings, channels in cases:
        fixed_s, fixed_found = search(bin_dir, settings, False)
        fast_s, fast_found = search(bin_dir, settings, True)
        print(f"{name}:")
        print(f"  fixed windows: {fixed_s:6.2f} s ({(fixed_s - start_s) / channels:5.2f} s per channel)")
        print(f"  fast search:   {fast_s:6.2f} s ({(fast_s - fast_start_s) / channels:5.2f} s per channel)")
        print(f"  fixed / fast:  {fixed_s / fast_s:6.2f}x   same devices: {fixed_found == fast_found} "
              f"({len(fast_found)} found)")
        if other:
            other_s, other_found = search(other, settings, True)
            print(f"  fast search of {other}: {other_s:6.2f} s; this / that {fast_s / other_s:.3f}x, "
                  f"same devices: {other_found == fast_found}")
        if (name, "Fast") in lim:
            limit_s = lim[(name, "Fast")][0]
            print(f"  line limit:    {limit_s:6.2f} s ({limit_s / channels:5.2f} s per channel); "
                  f"fast / limit {fast_s / limit_s:.2f}x, fixed / limit {fixed_s / limit_s:.2f}x")
    return 0


if __name__ == "__main__":
    sys.exit(main())
