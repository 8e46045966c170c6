#!/usr/bin/env python3
"""Writes listings of model crystals whose band energies follow the crystal's symmetry,
once over the full k-point mesh and once reduced to the irreducible wedge, for testing
bandcut's unfolding: the two must give the same FS.bsxf byte for byte.

Independent of the code under test: each crystal's operations are explicit integer
matrices acting on fractional (direct) coordinates, closed into a group here; their
action on k-points is the inverse transpose, computed with exact fractions; the wedge is
found by brute-force orbits over the mesh; the operator table (det, angle, Cartesian
axis) is derived here from the matrices.  Each orbit's energies are computed once, at
its first point, so that equivalent k-points print identical text.

    symmetric_listings.py CASE FOLDER     writes FOLDER/full/OUTCAR and FOLDER/reduced/OUTCAR
    symmetric_listings.py --list          names the cases
"""
import math
import os
import sys
from fractions import Fraction

# --- Integer and exact matrices --------------------------------------------------------


def mul(a, b):
    return tuple(tuple(sum(a[i][k] * b[k][j] for k in range(3)) for j in range(3)) for i in range(3))


def apply(m, v):
    return tuple(sum(m[i][k] * v[k] for k in range(3)) for i in range(3))


def det(m):
    return (m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0])
            + m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]))


def inverse(m):
    d = Fraction(det(m))
    cof = [[(m[(j + 1) % 3][(i + 1) % 3] * m[(j + 2) % 3][(i + 2) % 3]
             - m[(j + 1) % 3][(i + 2) % 3] * m[(j + 2) % 3][(i + 1) % 3]) for j in range(3)] for i in range(3)]
    return tuple(tuple(Fraction(cof[i][j]) / d for j in range(3)) for i in range(3))


def transpose(m):
    return tuple(tuple(m[j][i] for j in range(3)) for i in range(3))


def close(generators):
    """The group the integer matrices generate."""
    identity = ((1, 0, 0), (0, 1, 0), (0, 0, 1))
    group = {identity}
    frontier = [identity]
    while frontier:
        g = frontier.pop()
        for h in generators:
            p = mul(g, h)
            if p not in group:
                group.add(p)
                frontier.append(p)
    return sorted(group)


def on_kpoints(w):
    """The operation on k-points (units of the reciprocal vectors): (W^-1)^T, integral."""
    m = transpose(inverse(w))
    assert all(x.denominator == 1 for row in m for x in row)
    return tuple(tuple(int(x) for x in row) for row in m)


def negate(m):
    return tuple(tuple(-x for x in row) for row in m)


E = ((1, 0, 0), (0, 1, 0), (0, 0, 1))
INVERSION = negate(E)
C4Z = ((0, -1, 0), (1, 0, 0), (0, 0, 1))      # direct coordinates of a square lattice
C2X = ((1, 0, 0), (0, -1, 0), (0, 0, -1))
C2Z = ((-1, 0, 0), (0, -1, 0), (0, 0, 1))
MIRROR_X = ((-1, 0, 0), (0, 1, 0), (0, 0, 1))
C3_111 = ((0, 0, 1), (1, 0, 0), (0, 1, 0))    # x -> y -> z -> x
C6_HEX = ((1, -1, 0), (1, 0, 0), (0, 0, 1))   # a1 -> a1 + a2, a2 -> -a1, hexagonal axes
C2_HEX = ((1, -1, 0), (0, -1, 0), (0, 0, -1))  # two-fold about a1


def cubic_in(direct, cartesian_generators):
    """Cartesian generators of a cubic group as matrices on the direct coordinates of a
    cubic lattice: W = A^-1 R A (A's columns are the direct vectors), exactly."""
    a = tuple(tuple(Fraction(direct[j][i]).limit_denominator(1000) for j in range(3)) for i in range(3))
    ai = inverse(a)
    out = []
    for r in cartesian_generators:
        w = mul(ai, mul(r, a))
        assert all(x.denominator == 1 for row in w for x in row)
        out.append(tuple(tuple(int(x) for x in row) for row in w))
    return out


# --- Crystals ----------------------------------------------------------------------------


class Crystal:
    def __init__(self, name, direct, atoms, generators, shells, odd=None):
        self.name = name
        self.direct = direct          # rows: a1, a2, a3 in Cartesian A
        self.atoms = atoms            # (species, (x, y, z) fractional, moment)
        self.group = close(generators)
        self.shells = shells          # lattice vectors whose orbits make the bands
        self.odd = odd or []          # lattice vectors of sine terms (no inversion, no time reversal)

    def reciprocal(self):
        a = tuple(tuple(self.direct[j][i] for j in range(3)) for i in range(3))  # columns a_i
        # B = (A^-1)^T, in floating point (the listing prints 9 decimals)
        d = (a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0])
             + a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]))
        inv = [[(a[(j + 1) % 3][(i + 1) % 3] * a[(j + 2) % 3][(i + 2) % 3]
                 - a[(j + 1) % 3][(i + 2) % 3] * a[(j + 2) % 3][(i + 1) % 3]) / d for j in range(3)] for i in range(3)]
        return [[inv[i][j] for j in range(3)] for i in range(3)]  # rows b_i = rows of A^-1

    def orbit(self, n):
        return sorted({apply(w, n) for w in self.group})

    def energies(self, k, bands):
        """Tight-binding bands: a centre and hopping over whole orbits of lattice vectors,
        so that E(M k) = E(k) for every operation of the group."""
        out = []
        for b in range(bands):
            e = -4.0 + 3.0 * b
            for s, n in enumerate(self.shells):
                t = (0.3 - 0.1 * s) * (1 + 0.2 * b) * (-1) ** b
                e -= t * sum(math.cos(2 * math.pi * sum(k[i] * v[i] for i in range(3))) for v in self.orbit(n))
            for n in self.odd:
                e += 0.35 * sum(math.sin(2 * math.pi * sum(k[i] * v[i] for i in range(3))) for v in self.orbit(n))
            out.append(e)
        return out


SQ3 = math.sqrt(3.0)
CRYSTALS = {
    "sc": Crystal("simple cubic", [(3, 0, 0), (0, 3, 0), (0, 0, 3)], [(1, (0, 0, 0), 1.0)],
                  [C4Z, C3_111, INVERSION], [(1, 0, 0), (1, 1, 0)]),
    "fcc": Crystal("face-centred cubic", [(0, 2, 2), (2, 0, 2), (2, 2, 0)], [(1, (0, 0, 0), 1.0)],
                   cubic_in([(0, 2, 2), (2, 0, 2), (2, 2, 0)], [C4Z, C3_111, INVERSION]),
                   [(1, 0, 0), (1, 1, 0)]),
    "hex": Crystal("hexagonal", [(3, 0, 0), (-1.5, 1.5 * SQ3, 0), (0, 0, 5)], [(1, (0, 0, 0), 1.0)],
                   [C6_HEX, C2_HEX, INVERSION], [(1, 0, 0), (0, 0, 1)]),
    # A two-ion basis on a square lattice: four-fold axis and mirrors, no inversion.
    "tet": Crystal("tetragonal, two-ion basis", [(3, 0, 0), (0, 3, 0), (0, 0, 4.5)],
                   [(1, (0, 0, 0), 2.0), (2, (0, 0, 0.37), 0.5)], [C4Z, MIRROR_X], [(1, 0, 0), (0, 0, 1)],
                   odd=[(0, 0, 1)]),
    # Four ions of one species on a square lattice, moments in stripes: the structure has
    # a four-fold axis, the magnetic order only two-fold ones.
    "stripes": Crystal("tetragonal, striped moments", [(3, 0, 0), (0, 3, 0), (0, 0, 4.5)],
                       [(1, (0, 0, 0), 1.0), (1, (0.5, 0, 0), 1.0), (1, (0, 0.5, 0), -1.0), (1, (0.5, 0.5, 0), -1.0)],
                       [C2Z, C2X, INVERSION], [(1, 0, 0), (0, 1, 0), (0, 0, 1)]),
}
# The stripes' bands must not have the four-fold symmetry the structure alone has.
def stripes_energies(self, k, bands):
    out = []
    for b in range(bands):
        e = -4.0 + 3.0 * b
        e -= (1.1 + 0.2 * b) * math.cos(2 * math.pi * k[0]) + (0.5 - 0.1 * b) * math.cos(2 * math.pi * k[1])
        e -= 0.3 * math.cos(2 * math.pi * k[2])
        out.append(e)
    return out


CRYSTALS["stripes"].energies = stripes_energies.__get__(CRYSTALS["stripes"])


# --- The mesh and its wedge ----------------------------------------------------------------


def wrapped(x):
    """A coordinate as listings print it: wrapped into (-1/2, 1/2]."""
    return x - 1 if x > Fraction(1, 2) else x


def mesh_points(n, shift):
    """Every point of the mesh, first index fastest, as exact fractions."""
    return [tuple(Fraction(2 * i + (1 if shift else 0), 2 * n[a]) for a, i in enumerate((i1, i2, i3)))
            for i3 in range(n[2]) for i2 in range(n[1]) for i1 in range(n[0])]


def address(k, n, shift):
    """The mesh index of k, or None when it is off the mesh."""
    idx = []
    for a in range(3):
        t = k[a] * n[a] - (Fraction(1, 2) if shift else 0)
        if t.denominator != 1:
            return None
        idx.append(int(t) % n[a])
    return tuple(idx)


def wedge(crystal, n, shift, time_reversal):
    """The irreducible points (first of each orbit in mesh order), each orbit's points on
    the mesh, and its star size (distinct images modulo 1, on the mesh or off it)."""
    ops = [on_kpoints(w) for w in crystal.group]
    if time_reversal:
        ops = sorted(set(ops) | {negate(m) for m in ops})
    points = mesh_points(n, shift)
    order = {address(k, n, shift): j for j, k in enumerate(points)}
    owner = [None] * len(points)
    reps = []
    for j, k in enumerate(points):
        if owner[j] is not None:
            continue
        members, star = set(), set()
        for m in ops:
            image = apply(m, k)
            star.add(tuple(x % 1 for x in image))
            a = address(image, n, shift)
            if a is not None:
                members.add(order[a])
        for i in members:
            assert owner[i] is None, "the operations do not keep the mesh's orbits apart"
            owner[i] = len(reps)
        reps.append((j, sorted(members), len(star)))
    return points, owner, reps


# --- Listings --------------------------------------------------------------------------------


def axis_angle(crystal, w):
    """det, angle in degrees and unit axis of the Cartesian operation R = A W A^-1."""
    a = [[float(crystal.direct[j][i]) for j in range(3)] for i in range(3)]
    ai = [[float(x) for x in row] for row in inverse(tuple(tuple(Fraction(x).limit_denominator(10 ** 9) for x in r)
                                                             for r in a))]
    r = [[sum(a[i][k] * sum(w[k][l] * ai[l][j] for l in range(3)) for k in range(3)) for j in range(3)] for i in range(3)]
    d = 1.0 if det(w) > 0 else -1.0
    p = [[d * x for x in row] for row in r]
    c = max(-1.0, min(1.0, (p[0][0] + p[1][1] + p[2][2] - 1) / 2))
    angle = math.degrees(math.acos(c))
    if angle < 1e-6:
        return d, 0.0, (1.0, 0.0, 0.0)
    if abs(angle - 180) < 1e-6:
        diag = [(p[i][i] + 1) / 2 for i in range(3)]
        i = max(range(3), key=lambda t: diag[t])
        v = [(p[i][j] + (1 if i == j else 0)) / 2 for j in range(3)]
    else:
        v = [p[2][1] - p[1][2], p[0][2] - p[2][0], p[1][0] - p[0][1]]
    norm = math.sqrt(sum(x * x for x in v))
    return d, angle, tuple(x / norm for x in v)


def f4(x):
    return f"{float(x):10.4f}"


def block(lines, number, k, energies):
    lines.append(f" k-point {number:5d} :    " + "".join(f4(x) for x in k))
    lines.append("  band No.  band energies     occupation ")
    for b, e in enumerate(energies, 1):
        lines.append(f"{b:7d}{e:13.4f}{2.0 if e < 5 else 0.0:13.5f}")
    lines.append("")


def listing(crystal, listed, blocks, *, bands, spin, table=False, found=None, mesh=None, shift=False,
            irreducible=None, zone=None, magmom=None, incar_tags=False, band_path=False, spin_orbit=False,
            weights=None, structure_ions=None):
    """A listing in the layout real ones print.  listed: the k-points (exact fractions, as
    wrapped for printing); blocks: their energies per spin; irreducible: raw weights for
    the irreducible-point list; zone: rows (k, weight, index) of a full-zone list."""
    ions = structure_ions if structure_ions is not None else crystal.atoms
    species = sorted({s for s, _, _ in ions})
    per_type = [sum(1 for s, _, _ in ions if s == t) for t in species]
    ions = sorted(ions, key=lambda a: species.index(a[0]))
    recip = crystal.reciprocal()
    L = [" running on    1 total cores", f" a synthetic listing: {crystal.name}", ""]
    L.append(" INCAR:")
    if incar_tags:
        L.append(f"   ISPIN = {spin}")
        if magmom is not None:
            L.append(f"   MAGMOM = {magmom}")
        L.append("   ENCUT = 400")
        L.append("")
    L.append(" POTCAR:    PAW_PBE Xx 01Jan2000")
    L.append("")
    L.append("Analysis of symmetry for initial positions (statically):")
    L.append("=====================================================================")
    if found is not None:
        L.append(f" Subroutine INISYM returns: Found {found:2d} space group operations")
        L.append(f" (whereof {found:2d} operations are pure point group operations),")
        L.append(" and found     1 'primitive' translations")
    L.append("")
    L.append(" KPOINTS: Automatic mesh                          ")
    if band_path:
        L.append("  interpolating k-points between supplied coordinates")
        L.append("  k-points in reciprocal lattice")
    else:
        L.append("")
        L.append("Automatic generation of k-mesh.")
    if mesh is not None:
        L.append(" Grid dimensions read from file:")
        L.append(f" generate k-points for:{mesh[0]:5d}{mesh[1]:5d}{mesh[2]:5d}")
        L.append("")
        L.append(" Generating k-lattice:")
        L.append("")
        L.append("  Cartesian coordinates                     Fractional coordinates (reciprocal lattice)")
        for i in range(3):
            cart = [recip[i][j] / mesh[i] for j in range(3)]
            frac = [1.0 / mesh[i] if j == i else 0.0 for j in range(3)]
            L.append("   " + "".join(f"{x:13.9f}" for x in cart) + "   " + "".join(f"{x:13.9f}" for x in frac))
        L.append("")
        L.append("  Length of vectors")
        L.append("   " + "".join(f"{math.sqrt(sum(x * x for x in recip[i])) / mesh[i]:13.9f}" for i in range(3)))
        L.append("")
        L.append("  Shift w.r.t. Gamma in fractional coordinates (k-lattice)")
        L.append("   " + "".join(f"{0.5 if shift else 0.0:13.9f}" for _ in range(3)))
        L.append("")
    if table:
        L.append("Space group operators:")
        L.append(" irot       det(A)        alpha          n_x          n_y          n_z        tau_x        tau_y        tau_z")
        for i, w in enumerate(crystal.group, 1):
            d, angle, axis = axis_angle(crystal, w)
            L.append(f"{i:5d}" + "".join(f"{x:13.6f}" for x in (d, angle, *axis, 0.0, 0.0, 0.0)))
        L.append(" ")
    if irreducible is not None:
        L += [" ", " Subroutine IBZKPT returns following result:", " ===========================================", " ",
              f" Found {len(listed):6d} irreducible k-points:", " ", " Following reciprocal coordinates:",
              "            Coordinates               Weight"]
        for k, w in zip(listed, irreducible):
            L.append("".join(f"{float(x):10.6f}" for x in k) + f"{float(w):14.6f}")
        L += [" ", " Following cartesian coordinates:", "            Coordinates               Weight"]
        for k, w in zip(listed, irreducible):
            cart = [sum(float(k[i]) * recip[i][j] for i in range(3)) for j in range(3)]
            L.append("".join(f"{x:10.6f}" for x in cart) + f"{float(w):14.6f}")
        L.append(" ")
    if zone is not None:
        L += ["", " Subroutine IBZKPT_HF returns following result:", " ==============================================", " ",
              f" Found {len(zone):6d} k-points in 1st BZ",
              f" the following {len(zone):6d} k-points will be used (e.g. in the exchange kernel)",
              " Following reciprocal coordinates:   # in IRBZ"]
        for k, w, index in zone:
            L.append("".join(f"{float(x):10.6f}" for x in k) + f"{w:14.8f}{index:4d} t-inv F")
        L.append("")
    L += ["", "--------------------------------------------------------------------------------------------------------",
          "", "", " Dimension of arrays:",
          f"   k-points           NKPTS = {len(listed):6d}   k-points in BZ     NKDIM = "
          f"{len(zone) if zone else len(listed):6d}   number of bands    NBANDS= {bands:6d}",
          f"   number of dos      NEDOS =    301   number of ions     NIONS = {len(ions):6d}",
          "   ions per type =          " + "".join(f"{n:4d}" for n in per_type), "",
          " Startparameter for this run:",
          f"   ISPIN  =      {spin}    spin polarized calculation?",
          f"   LNONCOLLINEAR =      {'T' if spin_orbit else 'F'} non collinear calculations",
          f"   LSORBIT =      {'T' if spin_orbit else 'F'}    spin-orbit coupling",
          f"   ISYM   =      {3 if zone else 2}    0-nonsym 1-usesym 2-fastsym",
          f"   LHFCALC =     {'T' if zone else 'F'}    Hartree Fock is set to", "",
          "  energy-cutoff  :      400.00", "  volume of cell :       27.00",
          "      direct lattice vectors                 reciprocal lattice vectors"]
    for i in range(3):
        L.append("   " + "".join(f"{float(x):13.9f}" for x in crystal.direct[i]) + "   "
                 + "".join(f"{x:13.9f}" for x in recip[i]))
    L += ["", "  length of vectors", "", ""]
    total = sum(weights) if weights else len(listed)
    for title, coords in (("k-points in units of 2pi/SCALE and weight", True),
                          ("k-points in reciprocal lattice and weights", False)):
        L.append(f" {title}: Automatic generation                    ")
        for j, k in enumerate(listed):
            c = [sum(float(k[i]) * recip[i][m] for i in range(3)) for m in range(3)] if coords else [float(x) for x in k]
            w = (weights[j] if weights else 1) / total
            L.append(" " + "".join(f"{x:12.8f}" for x in c) + f"{w:12.3f}")
        L.append(" ")
    L.append(" position of ions in fractional coordinates (direct lattice) ")
    for _, x, _ in ions:
        L.append(" " + "".join(f"{float(v):12.8f}" for v in x))
    L += [" ", " position of ions in cartesian coordinates  (Angst):", "", " E-fermi :   5.0000     XC(G=0): -10.0000     "
          "alpha+bet :-10.0000", "", ""]
    for s in range(spin):
        if spin == 2:
            L += [f" spin component {s + 1}", ""]
        for j, k in enumerate(listed):
            block(L, j + 1, [wrapped(x) for x in k], blocks[s][j])
    L.append("--------------------------------------------------------------------------------------------------------")
    return "\n".join(L) + "\n"


# --- Cases -------------------------------------------------------------------------------------

# name: crystal, mesh, shift, spin, table, weights style, extras
CASES = {
    "sc_table": dict(crystal="sc", n=(6, 6, 6), table=True),
    "sc_structure": dict(crystal="sc", n=(6, 6, 6)),
    "sc_shifted_spin": dict(crystal="sc", n=(4, 4, 4), shift=True, spin=2, found=48),
    "fcc_table": dict(crystal="fcc", n=(8, 8, 8), table=True, found=48),
    "fcc_structure_spin": dict(crystal="fcc", n=(6, 6, 6), spin=2, magmom="1*2.5", incar_tags=True, found=48),
    "hex_table": dict(crystal="hex", n=(6, 6, 4), table=True, found=24),
    "hex_structure": dict(crystal="hex", n=(6, 6, 4), mesh=True),
    "hex_shifted_stars": dict(crystal="hex", n=(6, 6, 6), shift=True, stars=True, mesh=True, found=24),
    "tet_table": dict(crystal="tet", n=(5, 5, 4), table=True, found=8),
    "tet_structure_spin": dict(crystal="tet", n=(4, 4, 4), spin=2, magmom="1*2.0 1*0.5", incar_tags=True, found=8),
    "tet_spin_orbit": dict(crystal="tet", n=(4, 4, 4), spin_orbit=True, found=8),
    "stripes_magmom": dict(crystal="stripes", n=(4, 4, 2), spin=2, magmom="2*1.0 2*-1.0", incar_tags=True, found=8),
    "hybrid_extras": dict(crystal="sc", n=(4, 4, 4), hybrid=True),
    "printed_weights_only": dict(crystal="hex", n=(6, 6, 4), printed_only=True),
    # Cases that must not unfold: the stripes' magnetic order unprinted (the structure
    # alone has more symmetry than the calculation used), and a band path.
    "stripes_unprinted": dict(crystal="stripes", n=(4, 4, 2), spin=2),
    "band_path": dict(crystal="sc", n=(6, 6, 6), band_path=True),
    # Listings whose weights or full-zone map are not those of the mesh.
    "weights_swapped": dict(crystal="sc", n=(4, 4, 4), table=True, swap_weights=True),
    "zone_map_wrong": dict(crystal="sc", n=(4, 4, 4), hybrid=True, wrong_map=True),
}


def write_case(name, folder):
    c = CASES[name]
    crystal = CRYSTALS[c["crystal"]]
    n, shift, spin = c["n"], c.get("shift", False), c.get("spin", 1)
    bands = 4
    if c.get("band_path"):
        # Gamma to X and on to M, ten points a segment: on no mesh.
        path = [(Fraction(j, 20), 0, 0) for j in range(11)] + [(Fraction(1, 2), Fraction(j, 20), 0) for j in range(1, 11)]
        blocks = [[[round(e, 4) for e in crystal.energies(k, bands)] for k in path]]
        text = listing(crystal, path, blocks, bands=bands, spin=1, table=True, found=len(crystal.group), band_path=True)
        os.makedirs(os.path.join(folder, "reduced"), exist_ok=True)
        with open(os.path.join(folder, "reduced", "OUTCAR"), "w") as f:
            f.write(text)
        return len(path)
    time_reversal = not c.get("spin_orbit", False)
    points, owner, reps = wedge(crystal, n, shift, time_reversal)
    split = [0.0, 0.45][:spin]  # the second spin component lies 0.45 eV higher
    orbit_energies = [[[e + d for e in crystal.energies(points[j], bands)] for (j, _, _) in reps] for d in split]
    # the text of each orbit's energies, printed alike at every member
    full_blocks = [[[round(e, 4) for e in orbit_energies[s][owner[j]]] for j in range(len(points))] for s in range(spin)]
    common = dict(bands=bands, spin=spin, spin_orbit=c.get("spin_orbit", False))
    structure_magmom = c.get("magmom")

    full = listing(crystal, points, full_blocks, irreducible=[1] * len(points), weights=[1] * len(points),
                   magmom=structure_magmom, incar_tags=c.get("incar_tags", False), **common)

    listed = [points[j] for (j, _, _) in reps]
    red_blocks = [[[round(e, 4) for e in orbit_energies[s][r]] for r in range(len(reps))] for s in range(spin)]
    raw = [len(members) if not c.get("stars") else star for (_, members, star) in reps]
    if c.get("swap_weights"):
        raw[1], raw[2] = raw[2], raw[1]
        assert raw[1] != raw[2]
    kwargs = dict(table=c.get("table", False), found=c.get("found"), mesh=n if c.get("mesh") else None, shift=shift,
                  magmom=structure_magmom, incar_tags=c.get("incar_tags", False), weights=raw)
    if c.get("hybrid"):
        # Every grid point names its irreducible point; a short band path is appended to
        # the mesh as zero-weight points, with energies that would make band 1 cross 5 eV.
        extras = [(Fraction(1, 2), Fraction(j, 10), 0) for j in range(1, 4)]
        size = len(points)
        zone = [(k, 1 / size, i + 1) for i, k in enumerate(listed)]
        zone += [(k, 0.0, len(listed) + i + 1) for i, k in enumerate(extras)]
        for r, (j, members, _) in enumerate(reps):
            zone += [(points[m], 1 / size, r + 1) for m in members if m != j]
        if c.get("wrong_map"):
            # Two grid points of two orbits of the same size swap the points they name:
            # the counts (the weights) stay, the map does not.
            rows = {}
            for i in range(len(listed) + len(extras), len(zone)):
                rows.setdefault(zone[i][2], []).append(i)
            first, second = [i for i, (_, members, _) in enumerate(reps) if len(members) == 6][:2]
            a, b = rows[first + 1][0], rows[second + 1][0]
            zone[a], zone[b] = (zone[a][0], zone[a][1], second + 1), (zone[b][0], zone[b][1], first + 1)
        extra_blocks = [[[9.0] + [e for e in orbit_energies[s][0][1:]] for _ in extras] for s in range(spin)]
        reduced = listing(crystal, listed + extras, [red_blocks[s] + extra_blocks[s] for s in range(spin)],
                          zone=zone, **{**kwargs, "weights": raw + [0] * len(extras)}, **common)
    elif c.get("printed_only"):
        reduced = listing(crystal, listed, red_blocks, **kwargs, **common)
    else:
        reduced = listing(crystal, listed, red_blocks, irreducible=raw, **kwargs, **common)

    for sub, text in (("full", full), ("reduced", reduced)):
        os.makedirs(os.path.join(folder, sub), exist_ok=True)
        with open(os.path.join(folder, sub, "OUTCAR"), "w") as f:
            f.write(text)
    return len(reps)


if __name__ == "__main__":
    if sys.argv[1:] == ["--list"]:
        print("\n".join(CASES))
    else:
        print(write_case(sys.argv[1], sys.argv[2]))
