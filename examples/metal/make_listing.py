#!/usr/bin/env python3
"""Writes OUTCAR: the listing of a made-up tetragonal tight-binding metal on an 8 x 8 x 8
k-point grid, in the layout current calculations print.

Six bands, each  E(k) = centre - 2 (tx cos 2πk1 + ty cos 2πk2 + tz cos 2πk3)  in eV with k in
units of the reciprocal vectors; the third and fourth cross the Fermi energy 5.2 eV.  The
k-points are listed as the calculation lists a full grid: the first coordinate fastest,
each wrapped into (-1/2, 1/2].  Run it again to remake OUTCAR byte for byte.
"""
import math

N = 8
EF = 5.2
BANDS = [  # centre, tx, ty, tz
    (-8.0, 0.20, 0.20, 0.10),
    (-3.0, 0.35, 0.35, 0.20),
    (4.0, 1.00, 1.00, 0.50),
    (6.5, 0.60, 0.60, 0.30),
    (12.0, 0.25, 0.25, 0.15),
    (15.0, 0.40, 0.40, 0.20),
]


def wrapped(i):
    c = i / N
    return c - 1.0 if c > 0.5 else c


def main():
    kpoints = [(wrapped(i1), wrapped(i2), wrapped(i3))
               for i3 in range(N) for i2 in range(N) for i1 in range(N)]
    out = []
    out.append(" running on    1 total cores")
    out.append(" made by examples/metal/make_listing.py: a tetragonal tight-binding metal")
    out.append("")
    out.append(" Dimension of arrays:")
    out.append(f"   k-points           NKPTS = {len(kpoints):6d}   k-points in BZ     NKDIM = "
               f"{len(kpoints):6d}   number of bands    NBANDS= {len(BANDS):6d}")
    out.append("")
    out.append("  direct lattice vectors                 reciprocal lattice vectors")
    out.append("     3.000000000  0.000000000  0.000000000     0.333333333  0.000000000  0.000000000")
    out.append("     0.000000000  3.000000000  0.000000000     0.000000000  0.333333333  0.000000000")
    out.append("     0.000000000  0.000000000  4.000000000     0.000000000  0.000000000  0.250000000")
    out.append("")
    out.append(f" E-fermi : {EF:8.4f}     XC(G=0): -10.2373     alpha+bet :-12.9472")
    out.append("")
    out.append(f" Fermi energy:        {EF:.10f}")
    out.append("")
    for n, k in enumerate(kpoints, 1):
        out.append(f" k-point {n:5d} :    {k[0]:10.4f}{k[1]:10.4f}{k[2]:10.4f}")
        out.append("  band No.  band energies     occupation ")
        for b, (centre, tx, ty, tz) in enumerate(BANDS, 1):
            e = centre - 2 * (tx * math.cos(2 * math.pi * k[0]) + ty * math.cos(2 * math.pi * k[1])
                              + tz * math.cos(2 * math.pi * k[2]))
            out.append(f"{b:7d}{e:13.4f}{2.0 if e < EF else 0.0:13.5f}")
        out.append("")
    out.append("--------------------------------------------------------------------------------------------------------")
    with open("OUTCAR", "w") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
