#!/usr/bin/env python3
"""Times bandcut on a large generated listing against two yardsticks on the same file: a
straightforward fgets/sscanf/fprintf implementation of the same job, and `wc -l`; and
bandcut writing FS.frmsf too (--frmsf) against bandcut alone; and on the bundled slab
(15 x 15 x 1), what drawing the contours (--svg) adds to a run.

Every contender is timed as the CPU time (user + system) of its own process, read with
wait4; the contenders run interleaved (A B C A B C ...) so that a busy machine slows them
alike, and the script reports the median and the minimum of each and the ratios of the
medians.  It checks that bandcut and the straightforward implementation write the same
FS.bsxf, and reports bandcut's peak memory against its band table.

    python3 bench/run_bandcut.py [--build build/bench] [--grid 40] [--bands 200] [--rounds 7]
                                 [--also NAME=PATH ...]

--also adds another bandcut binary (an earlier build, say) as a contender.
Configure and build first: cmake --workflow --preset bench.
"""
import argparse
import filecmp
import os
import statistics
import subprocess


def run(cmd, cwd):
    """CPU time (user + system, seconds) and peak resident memory (KiB) of one run."""
    with open(os.path.join(cwd, "stdout"), "w") as out, open(os.path.join(cwd, "stderr"), "w") as err:
        p = subprocess.Popen(cmd, cwd=cwd, stdout=out, stderr=err)
        _, status, usage = os.wait4(p.pid, 0)
    if status != 0:
        raise SystemExit(f"{cmd} failed with status {status}")
    return usage.ru_utime + usage.ru_stime, usage.ru_maxrss


def load():
    with open("/proc/loadavg") as f:
        return f.read().split()[0]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build/bench")
    ap.add_argument("--grid", type=int, default=40)
    ap.add_argument("--bands", type=int, default=200)
    ap.add_argument("--rounds", type=int, default=7)
    ap.add_argument("--also", action="append", default=[], metavar="NAME=PATH")
    ap.add_argument("--long-line", type=int, default=256, metavar="MB",
                    help="also measure bandcut's peak memory on a listing holding one line of MB megabytes")
    args = ap.parse_args()

    build = os.path.abspath(args.build)
    data = os.path.join(build, "data")
    os.makedirs(data, exist_ok=True)
    listing = os.path.join(data, f"OUTCAR-{args.grid}-{args.bands}")
    if not os.path.exists(listing):
        subprocess.run([os.path.join(build, "bench/make_listing"), listing, str(args.grid), str(args.bands)], check=True)
    size = os.path.getsize(listing)

    n = str(args.grid)
    tools = {
        "bandcut": [os.path.join(build, "bandcut/bandcut"), n, n, n, "5.0"],
        "bandcut --frmsf": [os.path.join(build, "bandcut/bandcut"), n, n, n, "5.0", "--frmsf"],
        "straightforward": [os.path.join(build, "bench/straightforward_bandcut"), n, n, n, "5.0"],
        "wc -l": ["wc", "-l", "OUTCAR"],
    }
    for extra in args.also:
        name, path = extra.split("=", 1)
        tools[name] = [os.path.abspath(path), n, n, n, "5.0"]

    folders = {}
    for name in tools:
        cwd = os.path.join(data, name.replace(" ", "_"))
        os.makedirs(cwd, exist_ok=True)
        target = os.path.join(cwd, "OUTCAR")
        if os.path.lexists(target):
            os.remove(target)
        os.symlink(listing, target)
        folders[name] = cwd

    times = {name: [] for name in tools}
    peak = {name: 0 for name in tools}
    loads = [load()]
    for _ in range(args.rounds):
        for name, cmd in tools.items():
            t, rss = run(cmd, folders[name])
            times[name].append(t)
            peak[name] = max(peak[name], rss)
        loads.append(load())

    fs = os.path.join(folders["bandcut"], "FS.bsxf")
    same = filecmp.cmp(fs, os.path.join(folders["straightforward"], "FS.bsxf"), shallow=False)
    table_mib = args.grid ** 3 * args.bands * 4 / 2**20
    print(f"listing: {size / 1e6:.0f} MB, {args.grid}^3 k-points x {args.bands} bands; "
          f"FS.bsxf {os.path.getsize(fs) / 1e6:.1f} MB; {args.rounds} interleaved rounds; "
          f"load average {' '.join(loads)}")
    print(f"  {'CPU time (user+sys)':24s} {'median':>8s} {'min':>8s}   peak memory")
    med = {name: statistics.median(t) for name, t in times.items()}
    for name, t in times.items():
        print(f"  {name:24s} {med[name]:8.3f} {min(t):8.3f} s {peak[name] / 1024:8.1f} MiB")
    b = med["bandcut"]
    print(f"straightforward / bandcut: {med['straightforward'] / b:5.2f}x  (min/min {min(times['straightforward']) / min(times['bandcut']):.2f}x)")
    print(f"bandcut / wc -l:           {b / med['wc -l']:5.2f}x  (min/min {min(times['bandcut']) / min(times['wc -l']):.2f}x)")
    print(f"bandcut --frmsf / bandcut: {med['bandcut --frmsf'] / b:5.2f}x  (min/min "
          f"{min(times['bandcut --frmsf']) / min(times['bandcut']):.2f}x; target at most 1.5x)")
    for name in tools:
        if name not in ("bandcut", "bandcut --frmsf", "straightforward", "wc -l"):
            print(f"{name} / bandcut: {med[name] / b:5.2f}x")
    print(f"bandcut peak memory: {peak['bandcut'] / 1024:.1f} MiB; band table {table_mib:.1f} MiB + 64 MiB allowed")
    print(f"same FS.bsxf as the straightforward implementation: {'yes' if same else 'NO'}")
    if args.long_line:
        long_line(build, data, args.long_line)
    slab_picture(build, data)


def slab_picture(build, data, rounds=41):
    """The time --svg adds on the bundled 2D listing: bandcut with and without it,
    interleaved; the difference of the medians and of the minima, against 10 ms allowed."""
    folder = os.path.join(data, "slab")
    os.makedirs(folder, exist_ok=True)
    target = os.path.join(folder, "OUTCAR")
    if os.path.lexists(target):
        os.remove(target)
    os.symlink(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples", "slab", "OUTCAR"), target)
    cmd = [os.path.join(build, "bandcut/bandcut"), "15", "15", "1", "5.0"]
    plain, svg = [], []
    for _ in range(rounds):
        plain.append(run(cmd, folder)[0])
        svg.append(run(cmd + ["--svg"], folder)[0])
    print(f"slab 15 x 15 x 1: bandcut {statistics.median(plain) * 1e3:.2f} ms, with --svg "
          f"{statistics.median(svg) * 1e3:.2f} ms: adds {(statistics.median(svg) - statistics.median(plain)) * 1e3:.2f} ms "
          f"(min/min {(min(svg) - min(plain)) * 1e3:.2f} ms; at most 10 ms allowed)")


def long_line(build, data, mb):
    """Peak memory of a run whose listing holds one line of `mb` megabytes: the reader's
    buffer doubles as the line grows, so about twice the line at most."""
    folder = os.path.join(data, "long_line")
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, "OUTCAR")
    size = mb * 2**20
    if not os.path.exists(path) or os.path.getsize(path) < size:
        with open(path, "wb") as f:
            f.write(b"   k-points NKPTS =      1   number of bands NBANDS=      1\n"
                    b"  direct lattice vectors                 reciprocal lattice vectors\n"
                    b"     1.0 0.0 0.0   1.0 0.0 0.0\n     0.0 1.0 0.0   0.0 1.0 0.0\n     0.0 0.0 1.0   0.0 0.0 1.0\n")
            chunk = b"\0" * 2**20
            for _ in range(mb):
                f.write(chunk)
            f.write(b"\n E-fermi : 0\n\n\n k-point 1 : 0 0 0\n heads\n 1 1.0 2.0\n")
    _, rss = run([os.path.join(build, "bandcut/bandcut"), "1", "1", "1", "0.5"], folder)
    print(f"a line of {mb} MiB: bandcut's peak memory {rss / 1024:.0f} MiB, {rss / 1024 / mb:.2f} x the line")


if __name__ == "__main__":
    main()
