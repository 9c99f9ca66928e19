#!/usr/bin/env python3
"""The run history at scale, each side measured in the same run and the ratio printed.

    bench/history/history_scale.py BUILD_FOLDER [RUNS]        (RUNS: 100000 by default)

Builds (once; kept in BUILD_FOLDER/history_scale) histories of RUNS and of RUNS/10 runs of four
devices of nine points with bench/history's history_fill, then measures the CPU time (user + system)
and the peak memory of each process:

  check   quarn-cli history check          vs  sqlite3 PRAGMA quick_check + sha256sum of the file
  list    quarn-cli history list           vs  sqlite3's JSON of the same join (peer_list.sql);
          the two outputs must be the same bytes
  memory  peak RSS of check and list at RUNS/10 and at RUNS runs

Each figure is the least of three repetitions (the machine is shared). `list` is measured after a
first read has checked the chain (what the next reads then check is the entries written since); the
first read's cost is printed on its own.
"""
import filecmp
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))


# GNU time, when installed, reports the peak memory of the measured program alone. Without it the
# figure is wait4's, which also counts this script's own memory at the moment it forked (Linux keeps
# a process's peak over the exec).
GNU_TIME = "/usr/bin/time" if os.access("/usr/bin/time", os.X_OK) else None


def run(cmd, env=None, stdin=None, stdout=subprocess.DEVNULL):
    """CPU seconds (user + system) and peak RSS (MB) of one process."""
    with tempfile.NamedTemporaryFile(prefix="history_scale_rss_") as rss:
        full = [GNU_TIME, "-f", "%M", "-o", rss.name] + cmd if GNU_TIME else cmd
        proc = subprocess.Popen(full, env=env, stdin=stdin, stdout=stdout, stderr=subprocess.PIPE)
        _, status, usage = os.wait4(proc.pid, 0)
        err = proc.stderr.read().decode(errors="replace")
        proc.stderr.close()
        proc.returncode = os.waitstatus_to_exitcode(status)
        if proc.returncode not in (0,):
            raise SystemExit(f"{' '.join(cmd)} ended with {proc.returncode}: {err}")
        peak = usage.ru_maxrss / 1024.0
        if GNU_TIME:
            peak = int(open(rss.name).read().split()[-1]) / 1024.0
    return usage.ru_utime + usage.ru_stime, peak


def best(fn, times=3):
    results = [fn() for _ in range(times)]
    return min(r[0] for r in results), max(r[1] for r in results)


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    build = os.path.abspath(sys.argv[1])
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 100000
    cli = os.path.join(build, "bin", "quarn-cli")
    fill = os.path.join(build, "bin", "history_fill")
    for tool in ("sqlite3", "sha256sum"):
        if not shutil.which(tool):
            raise SystemExit(f"{tool} is needed (Debian: sqlite3, coreutils)")
    cache = os.path.join(build, "history_scale")
    os.makedirs(cache, exist_ok=True)
    config = tempfile.mkdtemp(prefix="history_scale_cfg_")
    env = dict(os.environ, XDG_CONFIG_HOME=config)
    try:
        files = {}
        for n in (runs // 10, runs):
            path = os.path.join(cache, f"h{n}.db")
            if not os.path.exists(path):
                print(f"writing a history of {n} runs ...", flush=True)
                subprocess.run([fill, path + ".part", str(n)], check=True)
                os.rename(path + ".part", path)
            files[n] = path

        rows = []
        memory = {}
        for n, path in files.items():
            ours = best(lambda: run([cli, "history", "check", "--history", path], env))
            peer = best(lambda: (run(["sqlite3", path, "PRAGMA quick_check"])[0] + run(["sha256sum", path])[0], 0))
            rows.append((f"history check, {n} runs", ours[0], peer[0], 2.0))
            memory[("check", n)] = ours[1]

            # The first read walks the whole chain; later ones only what was written since.
            shutil.rmtree(os.path.join(config, "quarn"), ignore_errors=True)
            first = run([cli, "history", "list", "--history", path], env)
            out_ours = os.path.join(cache, "list_ours.txt")
            out_peer = os.path.join(cache, "list_peer.txt")
            with open(out_ours, "wb") as f:
                def our_list():
                    f.seek(0)
                    f.truncate()
                    return run([cli, "history", "list", "--history", path], env, stdout=f)
                ours = best(our_list)
            with open(os.path.join(HERE, "peer_list.sql"), "rb") as sql, open(out_peer, "wb") as f:
                def peer_list():
                    sql.seek(0)
                    f.seek(0)
                    f.truncate()
                    return run(["sqlite3", path], stdin=sql, stdout=f)
                peer = best(peer_list)
            same = filecmp.cmp(out_ours, out_peer, shallow=False)
            rows.append((f"history list, {n} runs{'' if same else ' (OUTPUT DIFFERS)'}", ours[0], peer[0], 1.5))
            rows.append((f"  first list of the file (whole chain checked), {n} runs", first[0], None, None))
            memory[("list", n)] = ours[1]

        print()
        print(f"{'what':58} {'ours s':>8} {'peer s':>8} {'ratio':>6} {'goal':>5}")
        for what, ours, peer, goal in rows:
            if peer is None:
                print(f"{what:58} {ours:8.2f}")
            else:
                print(f"{what:58} {ours:8.2f} {peer:8.2f} {ours / peer:6.2f} {goal:5.1f}")
        small, large = runs // 10, runs
        print()
        for what in ("check", "list"):
            print(f"peak memory of {what}: {memory[(what, small)]:.1f} MB at {small} runs, "
                  f"{memory[(what, large)]:.1f} MB at {large} runs"
                  f"{'' if GNU_TIME else ' (with this script at its fork: no /usr/bin/time)'}")
    finally:
        shutil.rmtree(config, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
