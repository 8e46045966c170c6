#!/usr/bin/env python3
"""The Fermi level of the bundled metal at 300 K, from Python.

Reads the listing with bandcut (an 8 x 8 x 8 mesh), finds the level that holds the
listing's electrons at 300 K on the full grid with occsolve, and writes the band-grid
file of the bands that cross it.

    fermi_level.py [OUTCAR [FS.bsxf]]
"""
import os
import sys


import bandcut
import occsolve

listing = sys.argv[1] if len(sys.argv) > 1 else "OUTCAR"
target = sys.argv[2] if len(sys.argv) > 2 else "FS.bsxf"

cut = bandcut.read(listing, mesh=(8, 8, 8))
spins, bands = cut.energies.shape[:2]
print(f"read {listing}: {bands} bands, {spins} spin component(s), {cut.route}; its E-fermi {cut.listing_ef:.4f} eV")

# occsolve takes the grid as bandcut gives it, every grid point a k-point of equal weight.
# The electrons the listing's own Fermi level holds in the cold limit, per cell.
electrons = occsolve.electron_count(cut.energies, level=cut.listing_ef, temperature=1e-3)
level, status = occsolve.find_level(cut.energies, electrons=electrons, temperature=300.0)
assert status == occsolve.CONVERGED
print(f"{electrons:.4f} electrons per cell: Fermi level at 300 K {level:.6f} eV")

# The same electrons by linear tetrahedra on the grid: the level they imply against
# occsolve's at a low temperature, and the sheets there.
implied = cut.level_for(electrons)
cold = occsolve.find_level(cut.energies, electrons=electrons, temperature=1.0).level
print(f"the grid's tetrahedra hold them at {implied:.6f} eV; occsolve at 1 K: {cold:.6f} eV "
      f"(apart by {abs(implied - cold) * 1e3:.3f} meV)")
for s in cut.sheets(level):
    print(f"  sheet {s['sheet']}: band {s['band'] + 1} of spin {s['spin'] + 1}, {s['electrons']:.4f} electrons, "
          f"{s['carriers_per_cm3']:.3e} {s['carrier']} per cm^3, DOS {s['dos']:.4f} states/eV/cell")

os.makedirs(os.path.dirname(os.path.abspath(target)), exist_ok=True)
cut.write_bandgrid(target, ef=level)
print(f"wrote {os.path.abspath(target)}: bands {', '.join(str(b + 1) for _, b in cut.bands_crossing(level))} cross it")

# The Fermi contours in the plane through the zone centre spanned by b1 and b2 (1/A with
# 2 pi, x along b1), drawn inside that plane's zone when matplotlib is there.
contours = cut.contours(level)
print(f"contours at the level through the zone centre: "
      f"{', '.join(f'band {b + 1}: {len(lines)} line(s)' for (_, b), lines in sorted(contours.lines.items()))}")
try:
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
except ImportError:
    print("matplotlib is not installed (Debian: sudo apt-get install python3-matplotlib): no contour picture")
else:
    fig, ax = plt.subplots(figsize=(5, 5))
    ax.fill(*contours.zone.T, facecolor="#f6f6f6", edgecolor="black")
    for (spin, band), lines in sorted(contours.lines.items()):
        for i, line in enumerate(lines):
            ax.plot(*line.T, color=f"C{band % 10}", linestyle="--" if spin else "-",
                    label=f"band {band + 1}" if i == 0 else None)
    ax.set_aspect("equal")
    ax.set_xlabel("k along b1 (1/Å)")
    ax.set_ylabel("k across b1 (1/Å)")
    ax.legend()
    picture = os.path.join(os.path.dirname(os.path.abspath(target)), "contours.png")
    fig.savefig(picture, dpi=100)
    print(f"wrote {picture}")
