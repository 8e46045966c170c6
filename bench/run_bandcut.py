#!/usr/bin/env python3
"""Times bandcut on a large generated listing against, in the same run, a straightforward
fgets/sscanf/fprintf implementation and `wc -l` on the same file; checks that both tools
write the same FS.bsxf and reports bandcut's peak memory against its band table.

    python3 bench/run_bandcut.py [--build build/bench] [--grid 40] [--bands 200] [--repeat 3]

Configure and build first: cmake --workflow --preset bench.
"""
import argparse
import filecmp
import os
import subprocess
import time


def run(cmd, cwd):
    """Wall time and peak resident memory (KiB) of one run."""
    start = time.perf_counter()
    with open(os.path.join(cwd, "stdout"), "w") as out:
        p = subprocess.Popen(cmd, cwd=cwd, stdout=out)
        _, status, usage = os.wait4(p.pid, 0)
    elapsed = time.perf_counter() - start
    if status != 0:
        raise SystemExit(f"{cmd} failed with status {status}")
    return elapsed, usage.ru_maxrss


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build/bench")
    ap.add_argument("--grid", type=int, default=40)
    ap.add_argument("--bands", type=int, default=200)
    ap.add_argument("--repeat", type=int, default=3)
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
        "straightforward": [os.path.join(build, "bench/straightforward_bandcut"), n, n, n, "5.0"],
        "wc -l": ["wc", "-l", "OUTCAR"],
    }
    best = {}
    for name, cmd in tools.items():
        cwd = os.path.join(data, name.replace(" ", "_"))
        os.makedirs(cwd, exist_ok=True)
        target = os.path.join(cwd, "OUTCAR")
        if not os.path.exists(target):
            os.symlink(listing, target)
        runs = [run(cmd, cwd) for _ in range(args.repeat if name != "straightforward" else 1)]
        best[name] = (min(t for t, _ in runs), max(m for _, m in runs))

    same = filecmp.cmp(os.path.join(data, "bandcut/FS.bsxf"), os.path.join(data, "straightforward/FS.bsxf"), shallow=False)
    fs_size = os.path.getsize(os.path.join(data, "bandcut/FS.bsxf"))
    table_mib = args.grid ** 3 * args.bands * 4 / 2**20
    print(f"listing: {size / 1e6:.0f} MB, {args.grid}^3 k-points x {args.bands} bands; FS.bsxf {fs_size / 1e6:.1f} MB")
    for name, (t, rss) in best.items():
        print(f"  {name:16s} {t:7.3f} s   peak {rss / 1024:7.1f} MiB")
    t_bc = best["bandcut"][0]
    print(f"straightforward / bandcut: {best['straightforward'][0] / t_bc:.1f}x (target >= 10)")
    print(f"bandcut / wc -l:           {t_bc / best['wc -l'][0]:.2f}x (target <= 3)")
    print(f"bandcut peak memory: {best['bandcut'][1] / 1024:.1f} MiB; band table {table_mib:.1f} MiB + 64 MiB allowed")
    print(f"same FS.bsxf as the straightforward implementation: {'yes' if same else 'NO'}")


if __name__ == "__main__":
    main()
