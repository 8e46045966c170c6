#!/usr/bin/env python3
"""Writes listings of model crystals whose band energies follow the crystal's symmetry,
once over the full k-point mesh and once reduced to the irreducible wedge, for testing
bandcut's unfolding: the two must give the same FS.bsxf byte for byte.

Independent of the code under test: each crystal's operations are explicit integer
matrices with exact fractional translations, x' = W x + tau, each marked when it carries
the crystal's up moments onto its down ones (then it swaps the spin components of the
band energies), closed into a group here; their action on k-points is the inverse
transpose, computed with exact fractions; the wedge is found by brute-force orbits over
the mesh; the operator table (det, angle, Cartesian axis, translation) is derived here
from the matrices.  Each orbit's energies are computed once, at its first point, so that
equivalent k-points print identical text; the model's own energies are checked to obey
every operation.

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


ZERO = (Fraction(0), Fraction(0), Fraction(0))


def compose(a, b):
    """The operation a after b: x -> Wa (Wb x + tb) + ta; it swaps the spins if one does."""
    (wa, ta, sa), (wb, tb, sb) = a, b
    t = apply(wa, tb)
    return mul(wa, wb), tuple((t[i] + ta[i]) % 1 for i in range(3)), sa != sb


def close(generators):
    """The group the operations (W, tau, swaps) generate; a bare matrix W is (W, 0, no swap)."""
    gens = [g if len(g) == 3 and isinstance(g[2], bool) else (g, ZERO, False) for g in generators]
    identity = (((1, 0, 0), (0, 1, 0), (0, 0, 1)), ZERO, False)
    group = {identity}
    frontier = [identity]
    while frontier:
        g = frontier.pop()
        for h in gens:
            p = compose(g, h)
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
    def __init__(self, name, direct, atoms, generators, shells, odd=None, split=None):
        self.name = name
        self.direct = direct          # rows: a1, a2, a3 in Cartesian A
        self.atoms = atoms            # (species, (x, y, z) fractional, moment)
        self.ops = close(generators)  # (W, tau, swaps)
        self.group = sorted({w for w, _, _ in self.ops})  # the distinct rotations
        self.shells = shells          # lattice vectors whose orbits make the bands
        self.odd = odd or []          # lattice vectors of sine terms (no inversion, no time reversal)
        self.split = split            # d(k): spin component 1 lies d lower, 2 d higher; None: 2 lies 0.45 eV higher
        for w, tau, swaps in self.ops:  # every operation maps the structure, moments kept or reversed
            for species, x, moment in atoms:
                y = tuple((v + t) % 1 for v, t in zip(apply(w, x), tau))
                assert any(s == species and tuple(v % 1 for v in z) == y and m == (-moment if swaps else moment)
                           for s, z, m in atoms), (name, w, tau)

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

    def spin_energies(self, k, bands, spin):
        """Spin component `spin` (0 or 1): the bands moved apart by the magnetic order."""
        if self.split is None:
            return [e + (0.45 if spin else 0.0) for e in self.energies(k, bands)]
        d = self.split(k)
        return [e + (1 + 0.1 * b) * (d if spin else -d) for b, e in enumerate(self.energies(k, bands))]

    def table_ops(self):
        """One operation per rotation, as an operator table lists them."""
        first = {}
        for w, tau, swaps in self.ops:
            first.setdefault(w, (w, tau, swaps))
        return [first[w] for w in self.group]


SQ3 = math.sqrt(3.0)
H = Fraction(1, 2)
HALF = (H, H, H)
C4_HALF = (C4Z, HALF, True)        # the four-fold screw of the altermagnet: up moments onto down ones
C2_110_HALF = (((0, 1, 0), (1, 0, 0), (0, 0, -1)), HALF, True)


def d_wave(k):
    """The altermagnet's splitting: odd under the four-fold axis, even under the mirrors."""
    return 0.2 * (math.cos(2 * math.pi * k[0]) - math.cos(2 * math.pi * k[1]))


# The altermagnet: on a tetragonal cell, an up moment at the corner with its two ligands
# along a1, a down moment at the centre with its ligands along a2.  The operations that
# keep each site (mmm) keep the moments; the four-fold screw and the diagonal two-folds,
# through the centre, reverse them, and the spin components split with d-wave symmetry.
ALTERMAGNET_ATOMS = [(1, (0, 0, 0), 2.0), (1, (H, H, H), -2.0),
                     (2, (Fraction(3, 10), 0, 0), 0.0), (2, (Fraction(7, 10), 0, 0), 0.0),
                     (2, (H, Fraction(8, 10), H), 0.0), (2, (H, Fraction(2, 10), H), 0.0)]
TETRAGONAL = [(3, 0, 0), (0, 3, 0), (0, 0, 4.5)]

CRYSTALS = {
    "sc": Crystal("simple cubic", [(3, 0, 0), (0, 3, 0), (0, 0, 3)], [(1, (0, 0, 0), 1.0)],
                  [C4Z, C3_111, INVERSION], [(1, 0, 0), (1, 1, 0)]),
    "fcc": Crystal("face-centred cubic", [(0, 2, 2), (2, 0, 2), (2, 2, 0)], [(1, (0, 0, 0), 1.0)],
                   cubic_in([(0, 2, 2), (2, 0, 2), (2, 2, 0)], [C4Z, C3_111, INVERSION]),
                   [(1, 0, 0), (1, 1, 0)]),
    "hex": Crystal("hexagonal", [(3, 0, 0), (-1.5, 1.5 * SQ3, 0), (0, 0, 5)], [(1, (0, 0, 0), 1.0)],
                   [C6_HEX, C2_HEX, INVERSION], [(1, 0, 0), (0, 0, 1)]),
    # A two-ion basis on a square lattice: four-fold axis and mirrors, no inversion.
    "tet": Crystal("tetragonal, two-ion basis", TETRAGONAL, [(1, (0, 0, 0), 2.0), (2, (0, 0, Fraction(37, 100)), 0.5)],
                   [C4Z, MIRROR_X], [(1, 0, 0), (0, 0, 1)], odd=[(0, 0, 1)]),
    # Four ions of one species on a square lattice, moments in stripes: the structure has
    # a four-fold axis, the magnetic order only two-fold ones (and a translation that
    # reverses the moments, which the bands, split by 0.45 eV, do not follow).
    "stripes": Crystal("tetragonal, striped moments", TETRAGONAL,
                       [(1, (0, 0, 0), 1.0), (1, (H, 0, 0), 1.0), (1, (0, H, 0), -1.0), (1, (H, H, 0), -1.0)],
                       [C2Z, C2X, INVERSION], [(1, 0, 0), (0, 1, 0), (0, 0, 1)]),
    "altermagnet": Crystal("tetragonal altermagnet", TETRAGONAL, ALTERMAGNET_ATOMS,
                           [C2Z, C2X, INVERSION, C4_HALF], [(1, 0, 0), (0, 0, 1), (1, 1, 0)], split=d_wave),
    # The same structure and moments, but a calculation that reduced its mesh with four
    # operations: two that keep the moments, two that reverse them.
    "afm": Crystal("tetragonal antiferromagnet, four operations", TETRAGONAL, ALTERMAGNET_ATOMS,
                   [C2Z, C2_110_HALF], [(1, 0, 0), (0, 0, 1), (1, 1, 0)], split=d_wave),
    # The altermagnet's structure with ferromagnetic bands: every operation keeps the
    # moments of a ferromagnet (its atoms' moments are all up).
    "ferro": Crystal("tetragonal ferromagnet", TETRAGONAL, [(s, x, abs(m)) for s, x, m in ALTERMAGNET_ATOMS],
                     [C2Z, C2X, INVERSION, (C4Z, HALF, False)], [(1, 0, 0), (0, 0, 1), (1, 1, 0)]),
    # No symmetry but the identity, on a square lattice (where a four-fold axis would be an
    # operation of the lattice): a generic basis, hopping that differs along a1 and a2.
    "triclinic": Crystal("no symmetry on a square lattice", TETRAGONAL,
                         [(1, (0, 0, 0), 1.0), (2, (Fraction(1, 10), Fraction(23, 100), Fraction(37, 100)), 0.0),
                          (3, (Fraction(61, 100), Fraction(17, 100), Fraction(4, 5)), 0.0)],
                         [], [(1, 0, 0), (0, 1, 0), (0, 0, 1), (1, 1, 0)]),
    # A slab: one point along a3.
    "slab": Crystal("square slab", [(3, 0, 0), (0, 3, 0), (0, 0, 20)], [(1, (0, 0, 0), 1.0)],
                    [C4Z, MIRROR_X, INVERSION], [(1, 0, 0), (1, 1, 0)]),
    # A hexagonal slab, one point along a3: the examples' 2D metal.
    "hex_slab": Crystal("hexagonal slab", [(3, 0, 0), (-1.5, 1.5 * SQ3, 0), (0, 0, 20)], [(1, (0, 0, 0), 1.0)],
                        [C6_HEX, C2_HEX, INVERSION], [(1, 0, 0), (2, 1, 0)]),
    # A spin-polarised hexagonal run that ended without spin splitting.
    "hex_unsplit": Crystal("hexagonal, no spin splitting", [(3, 0, 0), (-1.5, 1.5 * SQ3, 0), (0, 0, 5)],
                           [(1, (0, 0, 0), 1.0)], [C6_HEX, C2_HEX, INVERSION], [(1, 0, 0), (0, 0, 1)],
                           split=lambda k: 0.0),
    # A tetragonal ferromagnetic perovskite: the metal's moment, three oxygens without one.
    "perovskite": Crystal("tetragonal ferromagnetic perovskite", TETRAGONAL,
                          [(1, (0, 0, 0), 3.0), (2, (H, 0, 0), 0.0), (2, (0, H, 0), 0.0), (2, (0, 0, H), 0.0)],
                          [C4Z, MIRROR_X, INVERSION], [(1, 0, 0), (0, 0, 1)]),
    # A chain of alternating moments along a1: every rotation keeps them about an ion and
    # reverses them about the point between two (and by the half-cell translation).  Its
    # bands are split as a ferromagnet's: the energies refute every reversing operation.
    "chain": Crystal("antiferromagnetic chain with split bands", TETRAGONAL,
                     [(1, (Fraction(1, 4), 0, 0), 1.0), (1, (Fraction(3, 4), 0, 0), -1.0)],
                     [(C2Z, ZERO, True), (C2X, ZERO, False), (INVERSION, ZERO, True), (E, (H, 0, 0), True)],
                     [(1, 0, 0), (0, 1, 0), (0, 0, 1)]),
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


def kpoint_ops(ops, time_reversal):
    """The operations on k-points, (M, swaps), with k -> -k added unless spin-orbit coupling."""
    out = {(on_kpoints(w), swaps) for w, _, swaps in ops}
    if time_reversal:
        out |= {(negate(m), swaps) for m, swaps in out}
    return sorted(out)


def wedge(ops, n, shift, time_reversal):
    """The irreducible points (first of each orbit in mesh order), each orbit's points on
    the mesh, its star size (distinct images modulo 1, on the mesh or off it), and for
    every point whether it takes its irreducible point's spin components swapped (only
    an operation that reverses the moments reaches it)."""
    kops = kpoint_ops(ops, time_reversal)
    REACHED_REVERSED.clear()
    points = mesh_points(n, shift)
    order = {address(k, n, shift): j for j, k in enumerate(points)}
    owner, swapped = [None] * len(points), [False] * len(points)
    reps = []
    for j, k in enumerate(points):
        if owner[j] is not None:
            continue
        members, star = {}, set()
        for m, swaps in kops:
            image = apply(m, k)
            star.add(tuple(x % 1 for x in image))
            a = address(image, n, shift)
            if a is not None:
                members[order[a]] = members.get(order[a], True) and swaps
                REACHED_REVERSED[order[a]] = REACHED_REVERSED.get(order[a], False) or swaps
        for i, sw in members.items():
            assert owner[i] is None, "the operations do not keep the mesh's orbits apart"
            owner[i], swapped[i] = len(reps), sw
        reps.append((j, sorted(members), len(star)))
    return points, owner, swapped, reps


# Grid points (mesh order) that some reversing operation reaches, whether or not a keeping
# one does too: a program that marks the rows it made through a reversing operation.
REACHED_REVERSED = {}


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


def operator_rows(crystal, ops):
    """The operator table's rows: irot, det, angle, Cartesian axis, fractional translation."""
    rows = []
    for i, (w, tau, _) in enumerate(ops, 1):
        d, angle, axis = axis_angle(crystal, w)
        rows.append(f"{i:5d}" + "".join(f"{x:13.6f}" for x in (d, angle, *axis, *(float(t) for t in tau))))
    return rows


def magmom_text(ions):
    """MAGMOM in the input's shorthand, one count*value per run of equal moments."""
    terms, run = [], []
    for _, _, m in ions:
        if run and run[-1] != m:
            terms.append(f"{len(run)}*{run[0]}")
            run = []
        run.append(m)
    terms.append(f"{len(run)}*{run[0]}")
    return " ".join(terms)


DEFAULT_BOX = [
    " -----------------------------------------------------------------------------",
    "|     You use a magnetic or noncollinear calculation, but did not specify     |",
    "|     the initial magnetic moment with the MAGMOM tag. Note that a            |",
    "|     default of 1 will be used for all atoms. This ferromagnetic setup       |",
    " -----------------------------------------------------------------------------"]


def head_lines(o, spin):
    """The input echo, the symmetry summary and the k-point input's mode lines."""
    L = [" running on    1 total cores", o.get("title", f" a synthetic listing: {o['crystal'].name}"), "", " INCAR:"]
    if o.get("incar_tags"):
        L.append(f"   ISPIN = {spin}")
        L += o.get("tags", [])
        if o.get("magmom"):
            L.append(f"   MAGMOM = {o['magmom']}")
        L += o.get("later_tags", [])
        L += ["   ENCUT = 400", ""]
    L += [" POTCAR:    PAW_PBE Xx 01Jan2000", ""]
    if o.get("default_box"):
        L += DEFAULT_BOX
    L += ["Analysis of symmetry for initial positions (statically):",
          "====================================================================="]
    found = o.get("found")
    if found is not None:
        L += [f" Subroutine INISYM returns: Found {found:2d} space group operations",
              f" (whereof {found:2d} operations are pure point group operations),",
              " and found     1 'primitive' translations"]
    L += ["", " KPOINTS: Automatic mesh                          "]
    if o.get("band_path"):
        L += ["  interpolating k-points between supplied coordinates", "  k-points in reciprocal lattice"]
    else:
        L += ["", "Automatic generation of k-mesh."]
    return L


def mesh_lines(o, recip):
    mesh = o["mesh"]
    L = [" Grid dimensions read from file:", f" generate k-points for:{mesh[0]:5d}{mesh[1]:5d}{mesh[2]:5d}", "",
         " Generating k-lattice:", "", "  Cartesian coordinates                     Fractional coordinates (reciprocal lattice)"]
    for i in range(3):
        cart = [recip[i][j] / mesh[i] for j in range(3)]
        frac = [1.0 / mesh[i] if j == i else (0.5 / mesh[i] if o.get("mesh_general") and j == (i + 1) % 3 else 0.0)
                for j in range(3)]
        L.append("   " + "".join(f"{x:13.9f}" for x in cart) + "   " + "".join(f"{x:13.9f}" for x in frac))
    shift = o.get("printed_shift", 0.5 if o.get("shift") else 0.0)
    L += ["", "  Length of vectors",
          "   " + "".join(f"{math.sqrt(sum(x * x for x in recip[i])) / mesh[i]:13.9f}" for i in range(3)), "",
          "  Shift w.r.t. Gamma in fractional coordinates (k-lattice)", "   " + "".join(f"{shift:13.9f}" for _ in range(3)), ""]
    return L


def list_lines(listed, irreducible, zone, recip):
    """The irreducible list (raw weights) and the full-zone list (k, weight, index, spinflp)."""
    L = []
    if irreducible is not None:
        L += [" ", " Subroutine IBZKPT returns following result:", " ===========================================", " ",
              f" Found {len(listed):6d} irreducible k-points:", " ", " Following reciprocal coordinates:",
              "            Coordinates               Weight"]
        L += ["".join(f"{float(x):10.6f}" for x in k) + f"{float(w):14.6f}" for k, w in irreducible]
        L += [" ", " Following cartesian coordinates:", "            Coordinates               Weight"]
        for k, w in irreducible:
            cart = [sum(float(k[i]) * recip[i][j] for i in range(3)) for j in range(3)]
            L.append("".join(f"{x:10.6f}" for x in cart) + f"{float(w):14.6f}")
        L.append(" ")
    if zone is not None:
        L += ["", " Subroutine IBZKPT_HF returns following result:", " ==============================================", " ",
              f" Found {len(zone):6d} k-points in 1st BZ",
              f" the following {len(zone):6d} k-points will be used (e.g. in the exchange kernel)",
              " Following reciprocal coordinates:   # in IRBZ"]
        for k, w, index, flip in zone:
            L.append("".join(f"{float(x):10.6f}" for x in k) + f"{w:14.8f}{index:4d} t-inv F" + (" spinflp" if flip else ""))
        L.append("")
    return L


def run_lines(o, listed, weights, ions, per_type, spin, bands, zone, recip):
    """The dimension line, the run's flags, the lattice, the k-point lists, the positions."""
    noncollinear = o.get("spin_orbit") or o.get("noncollinear")
    L = ["", "--------------------------------------------------------------------------------------------------------",
         "", "", " Dimension of arrays:",
         f"   k-points           NKPTS = {len(listed):6d}   k-points in BZ     NKDIM = "
         f"{len(zone) if zone else len(listed):6d}   number of bands    NBANDS= {bands:6d}",
         f"   number of dos      NEDOS =    301   number of ions     NIONS = {len(ions):6d}",
         "   ions per type =          " + "".join(f"{n:4d}" for n in per_type), "", " Startparameter for this run:"]
    if not o.get("no_ispin"):
        L.append(f"   ISPIN  =      {spin}    spin polarized calculation?")
    L += [f"   LNONCOLLINEAR =      {'T' if noncollinear else 'F'} non collinear calculations",
          f"   LSORBIT =      {'T' if o.get('spin_orbit') else 'F'}    spin-orbit coupling",
          f"   ISYM   =      {3 if zone else 2}    0-nonsym 1-usesym 2-fastsym",
          f"   LHFCALC =     {'T' if zone else 'F'}    Hartree Fock is set to", "",
          "  energy-cutoff  :      400.00", "  volume of cell :       27.00",
          "      direct lattice vectors                 reciprocal lattice vectors"]
    crystal = o["crystal"]
    for i in range(3):
        L.append("   " + "".join(f"{float(x):13.9f}" for x in crystal.direct[i]) + "   "
                 + "".join(f"{x:13.9f}" for x in recip[i]))
    L += ["", "  length of vectors", "", ""]
    total = sum(weights)
    lists = [("k-points in units of 2pi/SCALE and weight", True), ("k-points in reciprocal lattice and weights", False)]
    for title, cartesian in (lists if o.get("kpoint_list", True) else []):
        L.append(f" {title}: Automatic generation                    ")
        for j, (k, w) in enumerate(zip(listed, weights)):
            c = [sum(float(k[i]) * recip[i][m] for i in range(3)) for m in range(3)] if cartesian else [float(x) for x in k]
            nudge = o.get("weight_nudge", 0.0) if j == 1 else 0.0  # a printed weight off by more than its rounding
            L.append(" " + "".join(f"{x:12.8f}" for x in c) + f"{w / total + nudge:12.3f}")
        L.append(" ")
    L.append(" position of ions in fractional coordinates (direct lattice) ")
    L += [" " + "".join(f"{float(v):12.8f}" for v in x) for _, x, _ in ions]
    if o.get("nan_position"):
        L[-1] = "         nan  0.00000000  0.00000000"
    L += [" ", " position of ions in cartesian coordinates  (Angst):", ""]
    return L


def listing(o, listed, blocks, *, weights, irreducible=None, zone=None):
    """A listing in the layout real ones print.  o: the case's options (crystal, spin,
    bands, table rows, moments, ...); listed: the k-points (exact fractions, as wrapped
    for printing); blocks: their energies per spin and, per k-point, the header's
    coordinates; weights: the k-point list's raw weights; irreducible: (k, raw weight)
    rows of the irreducible list; zone: (k, weight, index, spinflp) rows of a full-zone
    list."""
    crystal, spin, bands = o["crystal"], o.get("spin", 1), o["bands"]
    species = sorted({s for s, _, _ in crystal.atoms})
    per_type = [sum(1 for s, _, _ in crystal.atoms if s == t) for t in species]
    ions = sorted(crystal.atoms, key=lambda a: species.index(a[0]))
    recip = crystal.reciprocal()
    L = head_lines(o, spin)
    if o.get("mesh"):
        L += mesh_lines(o, recip)
    if o.get("table") is not None:
        L += ["Space group operators:",
              " irot       det(A)        alpha          n_x          n_y          n_z        tau_x        tau_y        tau_z"]
        L += operator_rows(crystal, o["table"]) + [" "]
    L += list_lines(listed, irreducible, zone, recip)
    L += run_lines(o, listed, weights, ions, per_type, spin, bands, zone, recip)
    L += [" E-fermi :   5.0000     XC(G=0): -10.0000     alpha+bet :-10.0000", "", ""]
    for s in range(spin):
        if spin == 2:
            L += [f" spin component {s + 1}", ""]
        for j, (header, energies) in enumerate(blocks[s]):
            block(L, j + 1, header, energies)
    L.append("--------------------------------------------------------------------------------------------------------")
    if o.get("magnetization"):
        # As older programs print the moments per ion after the band energies.
        L += [" magnetization (x)", " ", "# of ion       s       p       d       tot", "------------------------------------------"]
        printed = o.get("printed_moments") or [m + 0.03 for _, _, m in ions]
        L += [f"{i + 1:5d}   {0.01:10.3f}{0.02:8.3f}{p - 0.03:8.3f}{p:8.3f}" for i, p in enumerate(printed)]
        L += ["--------------------------------------------------", "tot  0.0 0.0 0.0 0.0", " "]
    return "\n".join(L) + "\n"


# --- Cases -------------------------------------------------------------------------------------

# Each case: the crystal, the mesh n (shifted by half a step along each axis with shift),
# two spin components with spin=2; what its reduced listing prints (an operator table,
# the mesh lines, the full-zone list of a hybrid run, moments) and what bandcut must say:
# `note` the tail of the unfolding's note after the rotations' source, or `refused` /
# `warned` the whole line it must print instead of unfolding.
T = "table"
CASES = {
    "sc_table": dict(crystal="sc", n=(6, 6, 6), table=T),
    "sc_structure": dict(crystal="sc", n=(6, 6, 6)),
    "sc_shifted_spin": dict(crystal="sc", n=(4, 4, 4), shift=True, spin=2, found=48, magnetization=True,
                            note="; moments from the first table of moments, kept by every rotation"),
    "fcc_table": dict(crystal="fcc", n=(8, 8, 8), table=T, found=48),
    "fcc_structure_spin": dict(crystal="fcc", n=(6, 6, 6), spin=2, magmom="1*2.5", incar_tags=True, found=48,
                               note="; moments from MAGMOM, kept by every rotation"),
    # ISPIN not printed: the two spin components say that the run is spin-polarised.
    "fcc_spin_without_ispin": dict(crystal="fcc", n=(6, 6, 6), spin=2, magmom="1*2.5", incar_tags=True, found=48,
                                   no_ispin=True, note="; moments from MAGMOM, kept by every rotation"),
    "hex_table": dict(crystal="hex", n=(6, 6, 4), table=T, found=24),
    "hex_structure": dict(crystal="hex", n=(6, 6, 4), mesh=True),
    "hex_shifted_stars": dict(crystal="hex", n=(6, 6, 6), shift=True, stars=True, mesh=True, found=24),
    # Weights that count whole stars, on a mesh that breaks the cube's symmetry: the stars
    # are not one multiple of their shares of the grid.
    "sc_stars_uneven": dict(crystal="sc", n=(4, 4, 2), stars=True, table=T),
    "tet_table": dict(crystal="tet", n=(5, 5, 4), table=T, found=8),
    "tet_shifted_442": dict(crystal="tet", n=(4, 4, 2), shift=True, table=T, found=8),
    "tet_structure_spin": dict(crystal="tet", n=(4, 4, 4), spin=2, magmom="1*2.0 1*0.5", incar_tags=True, found=8,
                               note="; moments from MAGMOM, kept by every rotation"),
    "tet_spin_orbit": dict(crystal="tet", n=(4, 4, 4), spin_orbit=True, found=8),
    "tet_noncollinear": dict(crystal="tet", n=(4, 4, 4), noncollinear=True, table=T, found=8),
    # The stripes' moments make every rotation reverse them too (through the translation
    # by half a cell), but the bands are split: the calculation used only those that keep
    # them, as the spin-degeneracy check finds.
    "stripes_magmom": dict(crystal="stripes", n=(4, 4, 2), spin=2, magmom="2*1.0 2*-1.0", incar_tags=True, found=8,
                           note="; moments from MAGMOM: only the rotations that keep them, as the calculation used "
                                "(the energies refute the 8 that reverse them: at k-point 1 (0.000000 0.000000 0.000000) "
                                "band 1's spin components differ)"),
    "hybrid_extras": dict(crystal="sc", n=(4, 4, 4), hybrid=True, tail="; 3 zero-weight k-points left out"),
    # A hybrid run on the full mesh, a band path appended: placed, the path left out of the
    # grid and of the band selection (its band 1 would cross Ef).
    "hybrid_full_mesh": dict(crystal="sc", n=(4, 4, 4), hybrid=True, full_mesh=True,
                             placed="bandcut: note: placed the 64 k-points of the full 4 x 4 x 4 mesh; 3 zero-weight "
                                    "k-points left out"),
    "printed_weights_only": dict(crystal="hex", n=(6, 6, 4), printed_only=True),
    "triclinic_table": dict(crystal="triclinic", n=(5, 5, 5), table=T, found=1),
    "slab": dict(crystal="slab", n=(4, 4, 1), table=T, found=16),
    "hex_slab_spin": dict(crystal="hex_slab", n=(15, 15, 1), spin=2, table=T, found=24, magnetization=True,
                          note="; each fixes a listed point where the spin components differ, so each keeps the moments"),
    # Magnetic order: operations that reverse the moments swap the spin components.
    "altermagnet_table": dict(crystal="altermagnet", n=(4, 4, 4), spin=2, table=T, found=16, magmom="auto",
                              incar_tags=True, note="; moments from MAGMOM: 8 of the rotations reverse them, swapping "
                                                    "the spin components"),
    "altermagnet_structure": dict(crystal="altermagnet", n=(4, 4, 4), spin=2, found=16, magmom="auto", incar_tags=True,
                                  note="; moments from MAGMOM: 8 of the rotations reverse them, swapping the spin "
                                       "components"),
    "altermagnet_zone": dict(crystal="altermagnet", n=(4, 4, 2), spin=2, table=T, found=16, magnetization=True,
                             hybrid=True, note="; moments from the first table of moments: 8 of the rotations reverse "
                                               "them, swapping the spin components", tail="; 3 zero-weight k-points left out"),
    "afm_table": dict(crystal="afm", n=(4, 4, 4), spin=2, table=T, found=4, magmom="auto", incar_tags=True,
                      note="; moments from MAGMOM: 2 of the rotations reverse them, swapping the spin components"),
    "afm_zone": dict(crystal="afm", n=(4, 4, 4), spin=2, table=T, found=4, magmom="auto", incar_tags=True, hybrid=True,
                     note="; moments from MAGMOM: 2 of the rotations reverse them, swapping the spin components",
                     tail="; 3 zero-weight k-points left out"),
    # Cases that must not unfold, and the whole line that says why.  The stripes' magnetic
    # order unprinted: the default box says every ion starts at 1, and the structure alone
    # has more symmetry than the calculation used.
    "stripes_unprinted": dict(crystal="stripes", n=(4, 4, 2), spin=2, incar_tags=True, default_box=True,
                              refused="the 18 irreducible k-points do not unfold onto 4 x 4 x 2 (20 grid points reached "
                                      "from two irreducible k-points)"),
    "band_path": dict(crystal="sc", n=(6, 6, 6), band_path=True),
    "weights_swapped": dict(crystal="sc", n=(4, 4, 4), table=T, swap_weights=True,
                            refused="the 10 irreducible k-points do not unfold onto 4 x 4 x 4 (the weights of 2 irreducible "
                                    "k-points are not their shares of the grid)"),
    "zone_map_wrong": dict(crystal="sc", n=(4, 4, 4), hybrid=True, wrong_map=True,
                           refused="the 10 irreducible k-points do not unfold onto 4 x 4 x 4 (the full-zone list maps 2 "
                                   "grid points otherwise)"),
    "zone_row_off_grid": dict(crystal="sc", n=(4, 4, 4), hybrid=True, zone_off_grid=True,
                              refused="the 10 irreducible k-points do not unfold onto 4 x 4 x 4 (the full-zone list maps 1 "
                                      "grid points otherwise)"),
    "zone_out_of_order": dict(crystal="sc", n=(4, 4, 4), hybrid=True, zone_out_of_order=True, kpoint_list=False,
                              refused="no unfolding: the listing prints its k-points with four decimals only"),
    "zone_spinflp_wrong": dict(crystal="afm", n=(4, 4, 4), spin=2, table=T, found=4, magmom="auto", incar_tags=True,
                               hybrid=True, wrong_flip=True,
                               refused="the 21 irreducible k-points do not unfold onto 4 x 4 x 4 (the full-zone list marks "
                                       "1 grid points otherwise than the operations that reverse the moments reach them)"),
    "identity_replaced": dict(crystal="triclinic", n=(5, 5, 5), table="four-fold", found=1,
                              refused="no unfolding: the identity is not among the operations of the operator table"),
    "table_not_closed": dict(crystal="tet", n=(5, 5, 4), table="one row less", found=7,
                             refused="no unfolding: the operations of the operator table are no group: row 1 times row 6 "
                                     "with k -> -k is none of them"),
    "found_wrong": dict(crystal="sc", n=(6, 6, 6), table=T, found=47,
                        refused="no unfolding: the listing found 47 space group operations, the operator table gives 48 "
                                "rotations"),
    "mixed_shifts": dict(crystal="sc", n=(4, 4, 4), table=T, half_step=True,
                         refused="the 10 irreducible k-points do not unfold onto 4 x 4 x 4 (the k-points lie on grids of "
                                 "different shifts along b1); they lie on a 8 x 4 x 4 grid"),
    "blocks_swapped": dict(crystal="sc", n=(4, 4, 4), table=T, swap_blocks=True,
                           refused="no unfolding: the header of k-point block 2 (0.5000 0.0000 0.0000) is not k-point 2 "
                                   "(0.250000 0.000000 0.000000)"),
    "irreducible_rows_swapped": dict(crystal="sc", n=(4, 4, 4), table=T, swap_irreducible=True,
                                     refused="no unfolding: the irreducible list and the k-point list disagree at k-point 2 "
                                             "(0.250000 0.000000 0.000000)"),
    "shift_printed_wrong": dict(crystal="hex", n=(6, 6, 4), mesh=True, printed_shift=0.5,
                                refused="the 21 irreducible k-points do not unfold onto 6 x 6 x 4 (the listing's mesh is "
                                        "shifted by 0.5 0.5 0.5 steps, its k-points by 0 0 0)"),
    "mesh_general": dict(crystal="hex", n=(6, 6, 4), mesh=True, mesh_general=True,
                         refused="the 21 irreducible k-points do not unfold onto 6 x 6 x 4 (the listing's mesh is not "
                                 "laid along the reciprocal vectors)"),
    # The altermagnet's structure and antiferromagnetic moments, but ferromagnetic bands:
    # an operation that reverses the moments fixes the zone centre, where the spin
    # components differ.
    "ferro_as_altermagnet": dict(crystal="ferro", n=(4, 4, 4), spin=2, found=16, incar_tags=True,
                                 magmom="1*2.0 1*-2.0 4*0.0",
                                 refused="no unfolding: an operation that reverses the moments takes k-point 1 (0.000000 "
                                         "0.000000 0.000000) onto itself, yet its spin components differ by 0.4500 eV in "
                                         "band 1 (of the 4 compared, those up to the highest that can cross Ef): the "
                                         "moments are not those the calculation started from"),
    # The spin action decided by the energies, without moments: splitting at the zone
    # centre, which every row fixes; no splitting anywhere (the run ended non-magnetic).
    "ferro_table_no_moments": dict(crystal="ferro", n=(4, 4, 4), spin=2, table=T, found=16,
                                   note="; each fixes a listed point where the spin components differ, so each keeps the "
                                        "moments"),
    "unsplit_table_no_moments": dict(crystal="hex_unsplit", n=(3, 3, 1), spin=2, table=T, found=24,
                                     note="; the spin components agree at every listed point, so no rotation's spin action "
                                          "matters"),
    # A table of moments printed unsymmetrised: the oxygens' small moments (0.330 and 0.229
    # on two ions of one orbit) are no evidence; only the metal's dominant one is.
    "perovskite_noisy_moments": dict(crystal="perovskite", n=(4, 4, 4), spin=2, table=T, found=16, magnetization=True,
                                     printed_moments=[3.012, 0.330, 0.229, 0.431],
                                     note="; each fixes a listed point where the spin components differ, so each keeps "
                                          "the moments"),
    # Unconverged top bands (20 meV apart at the zone centre, which reversing rows fix) are
    # no evidence; the same in a band that crosses Ef refutes the moments.
    "afm_top_bands_loose": dict(crystal="afm", n=(4, 4, 4), spin=2, table=T, found=4, magmom="auto", incar_tags=True,
                                bands=8, perturb=([6, 7], 0.02),
                                note="; moments from MAGMOM: 2 of the rotations reverse them, swapping the spin components"),
    "afm_crossing_band_loose": dict(crystal="afm", n=(4, 4, 4), spin=2, table=T, found=4, magmom="auto", incar_tags=True,
                                    bands=8, perturb=([2], 0.02), refused="no unfolding: row 2 of the operator table keeps the moments by the energies (it takes "
                                            "k-point 1 (0.000000 0.000000 0.000000) onto itself, where band 3's spin components "
                                            "differ by 0.0200 eV), but reverses them by the moments of MAGMOM"),
    # The spin tolerance at its edge: 2.9 meV apart is equal, 3.1 meV is not.  The zone
    # centre is reached by keeping and reversing rows: the keeping ones decide which spin
    # component it takes, which shows in a band that crosses Ef.
    "afm_split_within_tolerance": dict(crystal="afm", n=(4, 4, 4), spin=2, table=T, found=4, magmom="auto",
                                       incar_tags=True, perturb=([2], 0.0029),
                                       note="; moments from MAGMOM: 2 of the rotations reverse them, swapping the spin "
                                            "components"),
    "afm_split_beyond_tolerance": dict(crystal="afm", n=(4, 4, 4), spin=2, table=T, found=4, magmom="auto",
                                       incar_tags=True, perturb=([2], 0.0031), refused="no unfolding: row 2 of the operator table keeps the moments by the energies (it "
                                               "takes k-point 1 (0.000000 0.000000 0.000000) onto itself, where band 3's spin "
                                               "components differ by 0.0031 eV), but reverses them by the moments of MAGMOM"),
    # The energies refute every reversing operation of the structure: those that keep the
    # moments stand on their own, whatever the full-zone list's spinflp marks say.
    "chain_split_zone": dict(crystal="chain", n=(4, 4, 4), spin=2, found=8, magmom="auto", incar_tags=True, hybrid=True,
                             marks="any", note="; moments from MAGMOM: only the rotations that keep them, as the calculation used (the energies "
                                  "refute the 8 that reverse them: at k-point 1 (0.000000 0.000000 0.000000) band 1's spin "
                                  "components differ)", tail="; 3 zero-weight k-points left out"),
    # Evidence that disagrees: the zone centre is split, the dominant moments reversed.
    "moments_against_energies": dict(crystal="ferro", n=(4, 4, 4), spin=2, table=T, found=16, incar_tags=True,
                                     magmom="1*2.0 1*-2.0 4*0.0", refused="no unfolding: row 5 of the operator table keeps the moments by the energies (it "
                                              "takes k-point 1 (0.000000 0.000000 0.000000) onto itself, where band 1's spin "
                                              "components differ by 0.4500 eV), but reverses them by the moments of MAGMOM"),
    # Where MAGMOM comes from: only its own tag line; two that disagree say nothing; a
    # comment may touch the values, and Fortran writes exponents with d.
    "magmom_in_the_title": dict(crystal="altermagnet", n=(4, 4, 2), spin=2, table=T, found=16, magnetization=True,
                                title=" MnO2 rutile FM MAGMOM=1 1 4*0",
                                note="; moments from the first table of moments: 8 of the rotations reverse them, "
                                     "swapping the spin components"),
    "magmom_in_another_tag": dict(crystal="altermagnet", n=(4, 4, 2), spin=2, table=T, found=16, magnetization=True,
                                  incar_tags=True, tags=["   SYSTEM = 1 -1 4*0 ! MAGMOM trial"],
                                  note="; moments from the first table of moments: 8 of the rotations reverse them, "
                                       "swapping the spin components"),
    "magmom_twice": dict(crystal="altermagnet", n=(4, 4, 4), spin=2, table=T, found=16, magmom="auto", incar_tags=True,
                         later_tags=["   MAGMOM = 6*1.0"], refused="no unfolding: MAGMOM is given twice, otherwise (lines 6 and 7): which the run read is not "
                                  "known; row 5 of the operator table fixes no listed point where the spin components differ"),
    "magmom_fortran_spelling": dict(crystal="altermagnet", n=(4, 4, 4), spin=2, table=T, found=16, incar_tags=True,
                                    magmom="1*2.0d0 1*-2.0D0 4*0# AFM",
                                    note="; moments from MAGMOM: 8 of the rotations reverse them, swapping the spin "
                                         "components"),
    # Spin component 2's blocks moved about: headers and all (the headers say so), or
    # their energies only (the zone centre's spin components then differ, where the
    # reversing rows fix it).
    "spin2_blocks_swapped": dict(crystal="sc", n=(4, 4, 4), shift=True, spin=2, found=48, magnetization=True,
                                 swap_spin2="blocks", read_refused="the header of k-point block 1 of spin component 2 (0.3750 0.1250 0.1250) is not "
                                              "that of spin component 1 (0.1250 0.1250 0.1250)"),
    "spin2_energies_swapped": dict(crystal="afm", n=(4, 4, 4), spin=2, table=T, found=4, magmom="auto", incar_tags=True,
                                   swap_spin2="energies", refused="no unfolding: row 2 of the operator table keeps the moments by the energies (it "
                                           "takes k-point 1 (0.000000 0.000000 0.000000) onto itself, where band 1's spin "
                                           "components differ by 0.6000 eV), but reverses them by the moments of MAGMOM"),
    # The highest band that can reach the file is compared: apart at the zone centre, it
    # refutes the moments.
    "afm_highest_compared_band": dict(crystal="afm", n=(4, 4, 4), spin=2, table=T, found=4, magmom="auto",
                                      incar_tags=True, bands=8, perturb=([3], 0.02), refused="no unfolding: row 2 of the operator table keeps the moments by the energies (it "
                                              "takes k-point 1 (0.000000 0.000000 0.000000) onto itself, where band 4's spin "
                                              "components differ by 0.0200 eV), but reverses them by the moments of MAGMOM"),
    # What the structure must be, checked on the operator table's route too where the
    # moments are needed.
    "table_structure_not_a_number": dict(crystal="afm", n=(4, 4, 4), spin=2, table=T, found=4, magmom="auto",
                                         incar_tags=True, nan_position=True, refused="no unfolding: position 6 of the structure is not a number; row 2 of the "
                                                 "operator table fixes no listed point where the spin components differ"),
    # The first listed k-point reached with its spin components swapped (a shifted mesh,
    # whose first point is no zone centre).
    "altermagnet_shifted": dict(crystal="altermagnet", n=(4, 4, 4), shift=True, spin=2, table=T, found=16,
                                magmom="auto", incar_tags=True,
                                note="; moments from MAGMOM: 8 of the rotations reverse them, swapping the spin components"),
    # Where no band crosses Ef, the band edges named are those of the points the file
    # holds, not the zero-weight extras (whose band 1 lies at 30 eV).
    "hybrid_extras_no_crossing": dict(crystal="sc", n=(4, 4, 4), hybrid=True, extra_energy=30.0, ef="40",
                                      tail="; 3 zero-weight k-points left out",
                                      warned="bandcut: warning: all bands lie below Ef = 40.000000: the highest ends at "
                                             "11.720000 (band 4)"),
    # Checks at their bounds: a point 0.015 steps off the grid; a printed weight 0.002 off its
    # share; more operations found than the table gives; full-zone rows naming k-point 0
    # and one beyond NKPTS.
    "point_a_little_off_the_grid": dict(crystal="sc", n=(4, 4, 4), table=T, off_grid=0.015, refused="the 10 irreducible k-points do not unfold onto 4 x 4 x 4 (k-point 2 (0.253750 "
                                                "0.000000 0.000000) lies off the grid); they lie on a 800 x 4 x 4 grid"),
    "printed_weight_off": dict(crystal="hex", n=(6, 6, 4), printed_only=True, weight_nudge=0.002, refused="the 21 irreducible k-points do not unfold onto 6 x 6 x 4 (the weights of 1 irreducible "
                                       "k-points are not their shares of the grid)"),
    "found_more": dict(crystal="sc", n=(6, 6, 6), table=T, found=49, refused="no unfolding: the listing found 49 space group operations, the operator table gives 48 "
                               "rotations"),
    "zone_names_kpoint_0": dict(crystal="sc", n=(4, 4, 4), hybrid=True, zone_index=0, refused="the 10 irreducible k-points do not unfold onto 4 x 4 x 4 (the weights of 10 "
                                        "irreducible k-points are not their shares of the grid)"),
    "zone_names_beyond": dict(crystal="sc", n=(4, 4, 4), hybrid=True, zone_index=14, refused="no unfolding: the full-zone list names k-point 14 of 13"),
    # The listing's count is the keeping operations': they alone must reach the grid, and
    # do not (the wedge is the whole group's).
    "altermagnet_found_keeping": dict(crystal="altermagnet", n=(4, 4, 4), spin=2, table=T, found=8, magmom="auto",
                                      incar_tags=True, refused="the 18 irreducible k-points do not unfold onto 4 x 4 x 4 (20 grid "
                                              "points unreached)"),
    # A table of moments that are all 0 is no source of moments: rows the energies leave
    # undecided are refused, not unfolded as keeping.
    "zero_moments_table": dict(crystal="altermagnet", n=(4, 4, 4), spin=2, table=T, found=16, magnetization=True,
                               printed_moments=[0.0] * 6, refused="no unfolding: the first table of moments gives every ion a moment of 0; row 5 of the "
                                        "operator table fixes no listed point where the spin components differ"),
    # A table of moments one ion short is no source either (each ion needs its moment).
    "short_moments_table": dict(crystal="altermagnet", n=(4, 4, 4), spin=2, table=T, found=16, magnetization=True,
                                printed_moments=[3.0, -3.0, 0.0, 0.0, 0.0], refused="no unfolding: the first table of moments "
                                "gives 5 moments for 6 ions; row 5 of the operator table fixes no listed point where the spin "
                                "components differ"),
}


def write(folder, sub, text):
    os.makedirs(os.path.join(folder, sub), exist_ok=True)
    with open(os.path.join(folder, sub, "OUTCAR"), "w") as f:
        f.write(text)


def options(c):
    """The listing's options for a case: its crystal, moments and operator table."""
    crystal = CRYSTALS[c["crystal"]]
    o = dict(c, crystal=crystal, bands=c.get("bands", 4))
    if c.get("magmom") == "auto":
        species = sorted({s for s, _, _ in crystal.atoms})
        o["magmom"] = magmom_text(sorted(crystal.atoms, key=lambda a: species.index(a[0])))
    table = c.get("table")
    if table == T:
        o["table"] = crystal.table_ops()
    elif table == "four-fold":  # the identity's row replaced by a four-fold rotation
        o["table"] = [(C4Z, ZERO, False)]
    elif table == "one row less":
        o["table"] = crystal.table_ops()[:1] + crystal.table_ops()[2:]
    return o


def write_band_path(c, folder):
    """Gamma to X and on to M, ten points a segment: on no mesh."""
    o = dict(options(c), table=CRYSTALS[c["crystal"]].table_ops(), found=len(CRYSTALS[c["crystal"]].group))
    path = [(Fraction(j, 20), 0, 0) for j in range(11)] + [(Fraction(1, 2), Fraction(j, 20), 0) for j in range(1, 11)]
    blocks = [[(k, [round(e, 4) for e in o["crystal"].energies(k, 4)]) for k in path]]
    write(folder, "reduced", listing(o, path, blocks, weights=[1] * len(path)))
    return len(path)


def check_model(crystal, points, owner, swapped, reps, spin):
    """The model's own energies obey its operations: each point's are its irreducible
    point's, swapped where the map says (or those at -k: a model with sine terms is not
    symmetric under time reversal, which the map adds, and the listings print the
    irreducible point's energies there)."""
    def close(x, y):
        return all(abs(a - b) < 1e-9 for a, b in zip(x, y))
    for j, k in enumerate(points):
        r = reps[owner[j]][0]
        for s in range(spin):
            theirs = crystal.spin_energies(points[r], 4, s ^ 1 if swapped[j] else s)
            minus = tuple(-x for x in k)
            assert close(crystal.spin_energies(k, 4, s), theirs) or close(crystal.spin_energies(minus, 4, s), theirs), \
                (crystal.name, k, s)


def zone_rows(c, points, owner, swapped, reps, listed, extras):
    """Every grid point naming its irreducible point, the extras naming themselves."""
    size = len(points)
    zone = [(k, 1 / size, i + 1, False) for i, k in enumerate(listed)]
    zone += [(k, 0.0, len(listed) + i + 1, False) for i, k in enumerate(extras)]
    for r, (j, members, _) in enumerate(reps):
        zone += [(points[m], 1 / size, r + 1, REACHED_REVERSED.get(m, False) if c.get("marks") == "any" else swapped[m])
                 for m in members if m != j]
    first = len(listed) + len(extras)
    if c.get("wrong_map"):
        # Two grid points of two orbits of the same size swap the points they name:
        # the counts (the weights) stay, the map does not.
        rows = {}
        for i in range(first, len(zone)):
            rows.setdefault(zone[i][2], []).append(i)
        one, two = [i for i, (_, members, _) in enumerate(reps) if len(members) == 6][:2]
        a, b = rows[one + 1][0], rows[two + 1][0]
        zone[a], zone[b] = (zone[a][0], zone[a][1], two + 1, False), (zone[b][0], zone[b][1], one + 1, False)
    if c.get("zone_off_grid"):
        k, w, i, f = zone[first]
        zone[first] = ((k[0] + Fraction(1, 100), k[1], k[2]), w, i, f)
    if c.get("zone_out_of_order"):
        zone[1], zone[2] = zone[2], zone[1]
    if "zone_index" in c:  # the first image row names another k-point
        k, w, i, f = zone[first]
        zone[first] = (k, w, c["zone_index"], f)
    if c.get("wrong_flip"):
        i = next(i for i in range(first, len(zone)) if zone[i][3])
        zone[i] = zone[i][:3] + (False,)
    return zone


def write_case(name, folder):
    c = CASES[name]
    if c.get("band_path"):
        return write_band_path(c, folder)
    o = options(c)
    crystal, n, shift, spin = o["crystal"], c["n"], c.get("shift", False), c.get("spin", 1)
    # The calculation's group: the table's rows where the listing prints a table of its
    # own (a subgroup, say), else the crystal's.
    points, owner, swapped, reps = wedge(crystal.ops, n, shift, not c.get("spin_orbit") and not c.get("noncollinear"))
    check_model(crystal, points, owner, swapped, reps, spin)
    # the text of each orbit's energies, printed alike at every member
    rep_energies = [[[round(e, 4) for e in crystal.spin_energies(points[j], o["bands"], s)] for (j, _, _) in reps]
                    for s in range(spin)]
    if c.get("perturb"):  # spin component 2 of some bands moved at the zone centre, in both listings
        bands, by = c["perturb"]
        for b in bands:
            rep_energies[1][0][b] = round(rep_energies[1][0][b] + by, 4)
    full_blocks = [[([wrapped(x) for x in k], rep_energies[s ^ 1 if swapped[j] else s][owner[j]]) for j, k in enumerate(points)]
                   for s in range(spin)]
    full = listing(dict(o, table=None, mesh=None, found=None, hybrid=False), points, full_blocks,
                   weights=[1] * len(points), irreducible=[(k, 1) for k in points])
    write(folder, "full", full)

    if c.get("full_mesh"):  # every grid point listed, naming itself
        reps = [(j, [j], 1) for j in range(len(points))]
        owner, swapped = list(range(len(points))), [False] * len(points)
        rep_energies = [[full_blocks[s][j][1] for j in range(len(points))] for s in range(spin)]
    listed = [points[j] for (j, _, _) in reps]
    raw = [len(members) if not c.get("stars") else star for (_, members, star) in reps]
    if c.get("swap_weights"):
        raw[1], raw[2] = raw[2], raw[1]
        assert raw[1] != raw[2]
    if c.get("half_step"):  # one irreducible point half a step along b1 off the mesh
        listed[1] = (listed[1][0] + Fraction(1, 2 * n[0]), listed[1][1], listed[1][2])
    if c.get("off_grid"):  # one irreducible point a little off its grid point, in steps along b1
        listed[1] = (listed[1][0] + Fraction(c["off_grid"]).limit_denominator(1000) / n[0], listed[1][1], listed[1][2])
    headers = [[wrapped(x) for x in k] for k in listed]
    red_blocks = [[(headers[r], rep_energies[s][r]) for r in range(len(reps))] for s in range(spin)]
    if c.get("swap_blocks"):
        for s in range(spin):
            red_blocks[s][1], red_blocks[s][2] = red_blocks[s][2], red_blocks[s][1]
    if c.get("swap_spin2") == "blocks":  # two blocks of spin component 2 exchanged, headers and all
        red_blocks[1][0], red_blocks[1][1] = red_blocks[1][1], red_blocks[1][0]
    elif c.get("swap_spin2") == "energies":  # only their energies exchanged
        (h0, e0), (h1, e1) = red_blocks[1][0], red_blocks[1][1]
        red_blocks[1][0], red_blocks[1][1] = (h0, e1), (h1, e0)
    irreducible = list(zip(listed, raw))
    if c.get("swap_irreducible"):
        same = [i for i in range(1, len(raw)) if raw[i] == raw[1]]
        irreducible[same[0]], irreducible[same[1]] = irreducible[same[1]], irreducible[same[0]]
    o["mesh"] = n if c.get("mesh") else None
    if c.get("hybrid"):
        # A short band path appended to the mesh as zero-weight points, with energies that
        # would make band 1 cross 5 eV.
        extras = [(Fraction(1, 2), Fraction(j, 10), 0) for j in range(1, 4)]
        zone = zone_rows(c, points, owner, swapped, reps, listed, extras)
        extra_blocks = [[([wrapped(x) for x in k], [c.get("extra_energy", 9.0)] + rep_energies[s][0][1:]) for k in extras]
                        for s in range(spin)]
        reduced = listing(o, listed + extras, [red_blocks[s] + extra_blocks[s] for s in range(spin)],
                          weights=raw + [0] * len(extras), zone=zone)
    elif c.get("printed_only"):
        reduced = listing(o, listed, red_blocks, weights=raw)
    else:
        reduced = listing(o, listed, red_blocks, weights=raw, irreducible=irreducible)
    write(folder, "reduced", reduced)
    return len(reps)


if __name__ == "__main__":
    if sys.argv[1:] == ["--list"]:
        print("\n".join(CASES))
    else:
        print(write_case(sys.argv[1], sys.argv[2]))
