#!/usr/bin/env python3
"""Writes the fuzz target's seed corpus into fuzz/corpus: small listings of each layout
bandcut reads, each after the four bytes that choose the grid (nkx-1, nky-1, nkz-1) and
Ef (a signed byte, eighths of an eV).  Run it again to remake the seeds byte for byte."""
import os
import sys
import tempfile

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "tests", "bandcut"))
import symmetric_listings as S  # noqa: E402

CORPUS = os.path.join(here, "corpus")
GOLDEN = os.path.join(here, "..", "tests", "bandcut", "golden")


def seed(name, grid, ef, text):
    head = bytes([grid[0] - 1, grid[1] - 1, grid[2] - 1, int(ef * 8) & 0xFF])
    with open(os.path.join(CORPUS, name), "wb") as f:
        f.write(head + text)


def main():
    os.makedirs(CORPUS, exist_ok=True)
    for old in os.listdir(CORPUS):
        os.remove(os.path.join(CORPUS, old))
    # Hand-written layouts: the historic dimension line, a current spin-polarised listing.
    for name, grid, ef in (("historic_layout", (1, 2, 2), 4.25), ("spin_polarised", (1, 1, 2), 3.0),
                           ("grid_first_index_fastest", (2, 3, 2), 0.0)):
        with open(os.path.join(GOLDEN, name, "OUTCAR"), "rb") as f:
            seed(name, grid, ef, f.read())
    # Reduced meshes of each kind: an operator table, the structure with moments, a shifted
    # hexagonal mesh with its mesh lines, a hybrid run's full-zone list, a band path; magnetic
    # order from MAGMOM with and without a table, from the table of moments, from the
    # default box, with a full-zone list marked spinflp.
    with tempfile.TemporaryDirectory() as work:
        for case in ("tet_table", "tet_structure_spin", "hex_shifted_stars", "hybrid_extras", "band_path",
                     "altermagnet_table", "altermagnet_structure", "altermagnet_zone", "afm_zone", "sc_shifted_spin",
                     "stripes_unprinted"):
            S.write_case(case, os.path.join(work, case))
            n = S.CASES[case]["n"] if case != "band_path" else (1, 1, 2)
            with open(os.path.join(work, case, "reduced", "OUTCAR"), "rb") as f:
                seed(case, n, 3.0, f.read())
        # Fixed-width fields that touch: a lattice of 130 A, counts of 1000 ions each (the
        # positions do not follow them); a band count claimed far beyond the band lines.
        with open(os.path.join(work, "tet_table", "reduced", "OUTCAR")) as f:
            text = f.read()
        rows = text[text.index("reciprocal lattice vectors\n") + 27:].split("\n")[:3]
        touching = ["   130.000000000  0.000000000  0.000000000     0.007692308  0.004441156  0.000000000",
                    "   -65.000000000112.583302492  0.000000000     0.000000000  0.008882312  0.000000000",
                    "     0.000000000  0.000000000100.000000000     0.000000000  0.000000000  0.010000000"]
        lattice = text.replace("\n".join(rows), "\n".join(touching), 1)
        seed("touching_lattice", (5, 5, 4), 3.0, lattice.encode())
        counts = text.replace("NIONS =      2", "NIONS =   2000", 1)
        counts = counts.replace(next(l for l in text.split("\n") if "ions per type" in l),
                                "   ions per type =            10001000", 1)
        seed("touching_ion_counts", (5, 5, 4), 3.0, counts.encode())
        claimed = text.replace("NBANDS=      4", "NBANDS= 2147483647", 1)
        seed("claimed_bands", (5, 5, 4), 3.0, claimed.encode())


if __name__ == "__main__":
    main()
