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


if __name__ == "__main__":
    main()
