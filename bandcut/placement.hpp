// Where each listed k-point sits on the band-grid.
//
// The band-grid file wants the energies of grid point (ix, iy, iz) at value
// n = (ix * nky + iy) * nkz + iz of each band section.  Calculations list a full grid in
// an order of their own (commonly the first index fastest) and print each k-point's
// coordinates in units of the reciprocal vectors, wrapped into (-1/2, 1/2] and rounded to
// four decimals; those coordinates, not the listing order, say which point is which.
//
// With the first listed k-point as the origin s of the grid (grids may be shifted), a
// k-point at c sits on grid point
//     ix = round((c1 - s1) * nkx) mod nkx,   likewise iy and iz,
// if each coordinate lies within the printed precision of that point.  Only when the
// first nkx * nky * nkz listed k-points hit every grid point exactly once is that
// placement used; otherwise the k-points are taken in listing order, as bandcut always
// did, and a warning says which k-point disagrees.
#pragma once

#include "bandgrid.hpp"
#include "listing.hpp"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace bandcut {

// How far a coordinate may lie from its grid point, in units of the reciprocal vectors:
// the rounding of two four-decimal numbers (the coordinate and the origin), and a little.
inline constexpr double placement_tolerance = 1.05e-4;

// The listed k-point for each grid point n (see above), or an empty table when the
// listing order stands; in that case one warning line goes to `warn`.
std::vector<std::int32_t> place_on_grid(const listing& bands, const grid& g, std::FILE* warn);

}  // namespace bandcut
