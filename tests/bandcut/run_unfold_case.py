#!/usr/bin/env python3
"""Runs bandcut on a model crystal's full-mesh listing and on its irreducible wedge
(symmetric_listings.py) and checks that the unfolded file equals the full one byte for
byte, with the note the unfolding prints; or, for the cases that must not unfold, that
bandcut says why.

    run_unfold_case.py BANDCUT CASE FOLDER
"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import symmetric_listings as S  # noqa: E402

EF = "3.0"

# Cases that must not unfold: the stream and the words that say why.
REFUSED = {
    "stripes_unprinted": "grid points reached from two irreducible k-points",
    "weights_swapped": "(the weights of 2 irreducible k-points are not their shares of the grid)",
    "zone_map_wrong": "(the full-zone list maps 2 grid points otherwise)",
}


def run(bandcut, folder, args):
    p = subprocess.run([bandcut, *args], cwd=folder, capture_output=True, text=True, timeout=60)
    fs = os.path.join(folder, "FS.bsxf")
    data = open(fs, "rb").read() if os.path.exists(fs) else None
    return p.returncode, p.stdout, p.stderr, data


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def main():
    bandcut, name, folder = os.path.abspath(sys.argv[1]), sys.argv[2], sys.argv[3]
    if os.path.isdir(folder):
        for root, dirs, files in os.walk(folder, topdown=False):
            for f in files:
                os.remove(os.path.join(root, f))
            for d in dirs:
                os.rmdir(os.path.join(root, d))
    irreducible = S.write_case(name, folder)
    c = S.CASES[name]
    n = c["n"]
    grid = [str(x) for x in n]
    grid_text = " x ".join(grid)
    reduced = os.path.join(folder, "reduced")

    if name == "band_path":
        status, out, err, _ = run(bandcut, reduced, ["1", "1", "2", EF])
        if status != 0 or "; the listing holds a band path, not a mesh; values are written in listing order" not in err:
            fail(f"band path: status {status}, standard error {err!r}")
        print("ok: a band path is named as one")
        return
    if name in REFUSED:
        status, out, err, _ = run(bandcut, reduced, grid + [EF])
        if status != 1 or REFUSED[name] not in out:
            fail(f"status {status}, standard output {out!r}")
        print("ok: refused:", out.strip().splitlines()[-1])
        return

    status, out, err, full = run(bandcut, os.path.join(folder, "full"), grid + [EF])
    if status != 0 or full is None:
        fail(f"full mesh: status {status}\n{out}{err}")
    status, out, err, unfolded = run(bandcut, reduced, grid + [EF])
    if status != 0 or unfolded is None:
        fail(f"wedge: status {status}\n{out}{err}")
    crystal = S.CRYSTALS[c["crystal"]]
    source = "the operator table" if c.get("table") else "the crystal structure"
    reversal = "" if c.get("spin_orbit") else " with time reversal"
    note = (f"bandcut: note: unfolded {irreducible} irreducible k-points onto the {grid_text} grid "
            f"({len(crystal.group)} rotations{reversal}, from {source})")
    lines = err.splitlines()
    if not lines or lines[0] != note:
        fail(f"expected the note\n  {note}\nbut standard error holds\n{err}")
    if bool(c.get("shift")) != any("shifted off the zone centre by 0.5000 0.5000 0.5000" in l for l in lines):
        fail(f"the shift warning is missing or wrong:\n{err}")
    if unfolded != full:
        fail("the unfolded FS.bsxf differs from the full mesh's")
    print("ok:", note)

    # A grid the points lie on but the listing's printed mesh is not.
    if name == "hex_structure":
        status, out, err, _ = run(bandcut, reduced, ["12", "12", "4", EF])
        if status != 1 or "(the listing's mesh is 6 x 6 x 4)" not in out:
            fail(f"printed mesh: status {status}, standard output {out!r}")
        print("ok:", out.strip().splitlines()[-1])

    # The same wedge on a grid it does not lie on: the grid that fits is named.
    if name == "sc_table":
        status, out, err, _ = run(bandcut, reduced, ["8", "8", "8", EF])
        expected = "do not unfold onto 8 x 8 x 8 ("
        if status != 1 or expected not in out or "; they lie on a 6 x 6 x 6 grid" not in out:
            fail(f"wrong grid: status {status}, standard output {out!r}")
        print("ok:", out.strip().splitlines()[-1])


if __name__ == "__main__":
    main()
