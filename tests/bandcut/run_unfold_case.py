#!/usr/bin/env python3
"""Runs bandcut on a model crystal's full-mesh listing and on its irreducible wedge
(symmetric_listings.py) and checks that the unfolded file equals the full one byte for
byte, with the note the unfolding prints; or, for the cases that must not unfold, that
bandcut prints exactly the refusal line the case names.

    run_unfold_case.py BANDCUT CASE FOLDER
"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import symmetric_listings as S  # noqa: E402

EF = "3.0"


def run(bandcut, folder, args):
    p = subprocess.run([bandcut, *args], cwd=folder, capture_output=True, text=True, timeout=60)
    fs = os.path.join(folder, "FS.bsxf")
    data = open(fs, "rb").read() if os.path.exists(fs) else None
    return p.returncode, p.stdout, p.stderr, data


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def refusal_line(folder, n, why):
    """The whole line bandcut prints when the grid is larger than the listing."""
    lines = open(os.path.join(folder, "OUTCAR")).read().splitlines()
    at = next(i for i, line in enumerate(lines, 1) if "NKPTS" in line)
    nkpts = int(lines[at - 1].split()[3])
    points = n[0] * n[1] * n[2]
    return (f"OUTCAR:{at}: the grid {n[0]} x {n[1]} x {n[2]} needs {points} k-points but the listing has {nkpts} "
            f"(NKPTS); {why}")


def refused(bandcut, folder, n, why):
    status, out, _, _ = run(bandcut, folder, [str(x) for x in n] + [EF])
    last = out.strip().splitlines()[-1] if out.strip() else ""
    expected = refusal_line(folder, n, why)
    if status != 1 or last != expected:
        fail(f"status {status}, expected the line\n  {expected}\nbut standard output ends\n  {last}")
    print("ok: refused:", last)


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
    grid_text = " x ".join(str(x) for x in n)
    reduced = os.path.join(folder, "reduced")

    if name == "band_path":
        status, out, err, _ = run(bandcut, reduced, ["1", "1", "2", EF])
        if status != 0 or "; the listing holds a band path, not a mesh; values are written in listing order" not in err:
            fail(f"band path: status {status}, standard error {err!r}")
        print("ok: a band path is named as one")
        return
    if "refused" in c:
        refused(bandcut, reduced, n, c["refused"])
        return
    if "read_refused" in c:  # the listing itself is at fault: the line that says so
        status, out, _, _ = run(bandcut, reduced, [str(x) for x in n] + [EF])
        last = out.strip().splitlines()[-1] if out.strip() else ""
        if status != 1 or not last.startswith("OUTCAR:") or not last.endswith(": " + c["read_refused"]):
            fail(f"status {status}, expected a line ending\n  {c['read_refused']}\nbut standard output ends\n  {last}")
        print("ok: refused:", last)
        return

    ef = c.get("ef", EF)
    status, out, err, full = run(bandcut, os.path.join(folder, "full"), [str(x) for x in n] + [ef])
    if status != 0 or full is None:
        fail(f"full mesh: status {status}\n{out}{err}")
    status, out, err, unfolded = run(bandcut, reduced, [str(x) for x in n] + [ef])
    if status != 0 or unfolded is None:
        fail(f"wedge: status {status}\n{out}{err}")
    if "placed" in c:  # the reduced listing holds the full mesh
        if err.splitlines()[:1] != [c["placed"]] or unfolded != full:
            fail(f"expected the note\n  {c['placed']}\nand the full mesh's file, but standard error holds\n{err}")
        print("ok:", c["placed"])
        return
    crystal = S.CRYSTALS[c["crystal"]]
    source = "the operator table" if c.get("table") else "the crystal structure"
    reversal = "" if c.get("spin_orbit") or c.get("noncollinear") else " with time reversal"
    rotations = len(crystal.group) if not c.get("table") else len({w for w, _, _ in S.options(c)["table"]})
    note = (f"bandcut: note: unfolded {irreducible} irreducible k-points onto the {grid_text} grid "
            f"({rotations} rotations{reversal}, from {source}{c.get('note', '')}){c.get('tail', '')}")
    lines = err.splitlines()
    if not lines or lines[0] != note:
        fail(f"expected the note\n  {note}\nbut standard error holds\n{err}")
    if bool(c.get("shift")) != any("shifted off the zone centre by 0.5000 0.5000 0.5000" in l for l in lines):
        fail(f"the shift warning is missing or wrong:\n{err}")
    if unfolded != full:
        fail("the unfolded FS.bsxf differs from the full mesh's")
    if "warned" in c and lines[-1] != c["warned"]:
        fail(f"expected the last line\n  {c['warned']}\nbut standard error holds\n{err}")
    # The other viewer's file and the contours' picture too: the unfolded mesh's kind (from
    # its shift), values and contours are the full mesh's, byte for byte.
    for name_of, option in (("FS.frmsf", "--frmsf"), ("FS.svg", "--svg")):
        made = []
        for sub in ("full", "reduced"):
            status, _, _, _ = run(bandcut, os.path.join(folder, sub), [str(x) for x in n] + [ef, option])
            path = os.path.join(folder, sub, name_of)
            made.append(open(path, "rb").read() if status == 0 and os.path.exists(path) else None)
        if made[0] is None or made[0] != made[1]:
            fail(f"the unfolded {name_of} differs from the full mesh's")
    print("ok:", note)

    # A grid the points lie on but the listing's printed mesh is not.
    if name == "hex_structure":
        refused(bandcut, reduced, (12, 12, 4), f"the {irreducible} irreducible k-points do not unfold onto 12 x 12 x 4 "
                                               "(the listing's mesh is 6 x 6 x 4); they lie on a 6 x 6 x 4 grid")
    # The same wedge on a grid it does not lie on: the grid that fits is named, a slab's too.
    if name == "sc_table":
        refused(bandcut, reduced, (8, 8, 8), f"the {irreducible} irreducible k-points do not unfold onto 8 x 8 x 8 "
                                             "(k-point 2 (0.166667 0.000000 0.000000) lies off the grid); they lie on a "
                                             "6 x 6 x 6 grid")
    if name == "slab":
        refused(bandcut, reduced, (4, 4, 2), f"the {irreducible} irreducible k-points do not unfold onto 4 x 4 x 2 "
                                             "(16 grid points unreached); they lie on a 4 x 4 x 1 grid")


if __name__ == "__main__":
    main()
