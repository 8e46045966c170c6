// Fermi contours: the lines E(k) = Ef in one plane of the grid, the plane of third index
// `plane` (0: the plane through the zone centre spanned by b1 and b2; for a slab, one
// k-point along b3, the whole Fermi surface), drawn inside that plane's own zone.
//
// Frame and units: Cartesian, 1/A with 2 pi, in the plane's own axes: x along b1, y
// perpendicular to it within the plane, counter-clockwise (b2 has y > 0).  A grid point
// (i, j) lies at ((i + s1) / N1) B1 + ((j + s2) / N2) B2, B_i = 2 pi b_i in that frame and
// s_i the mesh's shift in steps: a shifted mesh is drawn where its points are.
//
// Method: marching triangles on the periodic grid.  Each cell (i, j)..(i+1, j+1) is split
// into two triangles along its shorter Cartesian diagonal (of two equal within 1e-9
// relative, the one from (i, j) to (i+1, j+1)), so that every crossing is unambiguous;
// E - Ef is linear inside each triangle, so a contour is one straight segment per
// triangle, its ends placed by linear interpolation along the triangle's edges.  A point
// lies below Ef when E < Ef (single-precision energies, compared in double): a band that
// only touches Ef from above draws nothing.  Error: the contour of the piecewise-linear
// interpolant, off the true one by at most about h^2 |E''| / (8 |grad E|) for cell edges of
// length h (second order in the step).
//
// The zone of the plane is the Wigner-Seitz cell of its lattice (B1, B2): the points
// nearer the zone centre than to any other lattice point, a hexagon or a rectangle,
// counter-clockwise.  The triangles are walked over every periodic image that meets it
// and the segments clipped to it, so that a pocket at a corner of the grid's cell shows
// whole, and segments sharing a crossed edge join into polylines: closed ones (last
// point = first) and ones that end on the zone's boundary.
#pragma once

#include "cut_state.hpp"
#include "finding.hpp"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace bandcut {

using point2 = std::array<double, 2>;

// The plane's lattice in its own frame: B1 and B2, 1/A with 2 pi.
struct plane_lattice {
    point2 b1{}, b2{};
};
// From the listing's reciprocal vectors (rows, 1/A without 2 pi).
plane_lattice plane_of(const std::array<dvec3, 3>& reciprocal);

// The Wigner-Seitz cell of the lattice, counter-clockwise from the vertex of lowest angle.
std::vector<point2> wigner_seitz(const plane_lattice& lattice);

struct polyline {
    std::vector<point2> points;
    bool closed = false;  // the last point repeats the first
};

// The periodic grid of one band in one plane: n1 x n2 values, value(i, j) = E - Ef (eV) at
// grid point (i, j), i along b1; shifted by `shift` steps.
struct plane_grid {
    std::int32_t n1 = 0, n2 = 0;
    point2 shift{};
    std::function<double(std::int32_t, std::int32_t)> value;
};

// The contour E = Ef of one band, clipped to `zone` (convex, counter-clockwise).
std::vector<polyline> trace_contours(const plane_grid& grid, const plane_lattice& lattice, const std::vector<point2>& zone);

// Of two diagonals of a cell (i, j)..(i+1, j+1): true for the one from (i, j) to
// (i+1, j+1), the shorter or one of two equal within 1e-9 relative.
bool main_diagonal(const plane_lattice& lattice, std::int32_t n1, std::int32_t n2);

// Everything one picture shows: the zone, and for each band crossing Ef (s * NBANDS + b,
// ascending) its contours in the plane.
struct band_contours {
    int spin = 0;           // from 0
    std::int32_t band = 0;  // from 0
    std::vector<polyline> lines;
};
struct contour_set {
    float ef = 0;
    std::int32_t plane = 0, planes = 1;  // the plane's third index, of N3
    double k3 = 0;                       // where it lies along b3, in units of b3
    std::vector<point2> zone;
    std::vector<band_contours> bands;
};

// Why the grid of `r` has no plane `plane` to draw (none: it has): no grid (no_grid), a
// mesh in listing order, whose points lie nowhere known (no_plane), or a plane index
// outside 0..N3-1 (plane_off_grid).
finding contours_fault(const cut_state& r, std::int32_t plane);

// The contours at `ef` of the bands that cross it (band selection's rule) in plane
// `plane` of a grid contours_fault accepts.
contour_set contours_of(const cut_state& r, float ef, std::int32_t plane);

}  // namespace bandcut
