#!/usr/bin/env python3
"""Times getef against plain sweeps that give the same bits: the search as a careful
programmer writes it in C++ (the documented loop and order, kT and g formed once, raw
indexing) and in Fortran (gfortran -O2 -ffp-contract=off), each in a fresh process, as
the thread's CPU time around the first call (what a host pays) and around the fifth call
of a host that calls it once per iteration.  Contenders run interleaved; the script
prints medians, minima and getef's ratio against the faster yardstick, checks the bits,
and reports getef's peak memory beyond the band energies.

    python3 bench/run_getef.py [--build build/bench] [--rounds 7]
"""
import argparse
import os
import statistics
import subprocess

ENERGIES_MIB = 2 * 20000 * 400 * 8 / 2**20


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build/bench")
    ap.add_argument("--rounds", type=int, default=7)
    args = ap.parse_args()
    exe = os.path.join(os.path.abspath(args.build), "bench/getef_bench")
    contenders = ["getef", "plain", "fortran"]
    if subprocess.run([exe, "even", "fortran"], capture_output=True).returncode == 2:
        contenders.remove("fortran")
    for layout in ("even", "uniform"):
        first = {c: [] for c in contenders}
        nth = {c: [] for c in contenders}
        bits, peak = {}, {}
        for _ in range(args.rounds):
            for c in contenders:
                out = subprocess.run([exe, layout, c, "5"], capture_output=True, text=True, check=True).stdout.split()
                first[c].append(float(out[2]))
                nth[c].append(float(out[3]))
                bits[c] = out[4]
                peak[c] = max(peak.get(c, 0), int(out[6]))
        med = {c: statistics.median(first[c]) for c in contenders}
        print(f"layout {layout}: 2 spins x 20000 k-points x 400 bands, 300 K; {args.rounds} interleaved rounds, "
              f"thread CPU time")
        print(f"  {'':10s} {'first call':>22s} {'fifth call':>22s}")
        print(f"  {'':10s} {'median':>10s} {'min':>10s} {'median':>10s} {'min':>10s}")
        for c in contenders:
            print(f"  {c:10s} {med[c]:10.4f} {min(first[c]):10.4f} {statistics.median(nth[c]):10.4f} {min(nth[c]):10.4f}")
        yard = min((c for c in contenders if c != "getef"), key=lambda c: med[c])
        print(f"  getef against the faster plain sweep ({yard}): first call {med[yard] / med['getef']:.1f}x "
              f"(min/min {min(first[yard]) / min(first['getef']):.1f}x), fifth call "
              f"{statistics.median(nth[yard]) / statistics.median(nth['getef']):.1f}x (target >= 10 on the first)")
        same = len(set(bits.values())) == 1
        print(f"  the same bits from every contender: {'yes' if same else 'NO: ' + str(bits)}")
        print(f"  getef's peak memory beyond the band energies ({ENERGIES_MIB:.0f} MiB): "
              f"{peak['getef'] / 1024 - ENERGIES_MIB:.1f} MiB (64 MiB allowed)")


if __name__ == "__main__":
    main()
