#!/usr/bin/env python3
"""Times the Python modules against the C++ they wrap: bandcut.read on the 55 MB listing
(a 20 x 20 x 20 mesh of 200 bands) against the program on the same file, and
occsolve.find_level against getef on 2 spins x 20000 k-points x 400 bands at 300 K.

Processes run interleaved (program, Python, program, ...).  For the program: its CPU
time (user + system, wait4).  For Python: the whole process's CPU time (interpreter and
NumPy start-up included) and, in the process, the CPU time of the call alone.  Medians
and minima.

    python3 bench/run_python.py [--build build/bench] [--rounds 7]
"""
import argparse
import os
import statistics
import subprocess
import sys

READ = """
import sys, time
import bandcut
start = time.process_time()
cut = bandcut.read(sys.argv[1], mesh=(20, 20, 20), ef=5.0)
read = time.process_time() - start
start = time.process_time()
cut.energies
array = time.process_time() - start
print(read, array)
"""

SEARCH = """
import time
import numpy as np
import occsolve
rng = np.random.default_rng(1)
nk, nband, nspin = 20000, 400, 2
e = np.sort(rng.uniform(-10, 15, (nk, nband, nspin)), axis=1)
w = np.full(nk, 1 / nk)
lo, hi = occsolve.find_bracket(e, w, temperature=300.0)
start = time.process_time()
level, status = occsolve.find_level(e, w, temperature=300.0, electrons=0.45 * nband * nspin, bracket=(lo, hi))
print(time.process_time() - start, status)
"""


def cpu(cmd, cwd, env=None):
    """CPU time (user + system) of one process, and its standard output."""
    with open(os.path.join(cwd, "stdout"), "w") as out:
        p = subprocess.Popen(cmd, cwd=cwd, stdout=out, stderr=subprocess.DEVNULL, env=env)
        _, status, usage = os.wait4(p.pid, 0)
    if status != 0:
        raise SystemExit(f"{cmd} failed with status {status}")
    with open(os.path.join(cwd, "stdout")) as f:
        return usage.ru_utime + usage.ru_stime, f.read()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build/bench")
    ap.add_argument("--rounds", type=int, default=7)
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    data = os.path.join(build, "data")
    os.makedirs(data, exist_ok=True)
    listing = os.path.join(data, "OUTCAR-20-200")
    if not os.path.exists(listing):
        subprocess.run([os.path.join(build, "bench/make_listing"), listing, "20", "200"], check=True)
    folder = os.path.join(data, "python")
    os.makedirs(folder, exist_ok=True)
    if not os.path.lexists(os.path.join(folder, "OUTCAR")):
        os.symlink(listing, os.path.join(folder, "OUTCAR"))
    env = dict(os.environ, PYTHONPATH=os.path.join(build, "python"))
    program, python, read, array = [], [], [], []
    for _ in range(args.rounds):
        program.append(cpu([os.path.join(build, "bandcut/bandcut"), "20", "20", "20", "5.0"], folder)[0])
        t, out = cpu([sys.executable, "-c", READ, "OUTCAR"], folder, env)
        python.append(t)
        read.append(float(out.split()[0]))
        array.append(float(out.split()[1]))
    print(f"listing {os.path.getsize(listing) / 1e6:.0f} MB (20^3 k-points x 200 bands); {args.rounds} interleaved rounds, CPU time")
    for name, t in (("bandcut, the program (read, select, write)", program), ("Python process (start-up, import, read)", python),
                    ("bandcut.read in the process", read), ("Cut.energies, the full array", array)):
        print(f"  {name:44s} median {statistics.median(t):7.3f} s  min {min(t):7.3f} s")
    print(f"  bandcut.read / the program: {statistics.median(read) / statistics.median(program):.2f}x")
    search = [float(cpu([sys.executable, "-c", SEARCH], folder, env)[1].split()[0]) for _ in range(args.rounds)]
    print(f"occsolve.find_level, 2 spins x 20000 k-points x 400 bands, 300 K: median {statistics.median(search):.4f} s, "
          f"min {min(search):.4f} s (getef's first call: run_getef.py)")


if __name__ == "__main__":
    main()
