// Where each listed k-point sits on the band-grid.
//
// The band-grid file wants the energies of grid point (ix, iy, iz) at value
// n = (ix * nky + iy) * nkz + iz of each band section.  Calculations list a full grid in
// an order of their own (commonly the first index fastest) and print each k-point's
// coordinates in units of the reciprocal vectors, wrapped into (-1/2, 1/2] and rounded to
// four decimals; those coordinates, not the listing order, say which point is which.
//
// Grid indices count from the zone centre.  A mesh may be shifted off it (by half a
// step, commonly); the shift f, in steps, is read off the first listed k-point s:
//     f = s n - floor(s n)     so 0 <= f < 1 (within rounding of 0 or 1 it is 0, of 1/2 it is 1/2)
// and a k-point at c sits on grid point
//     ix = round(c1 nkx - f1) mod nkx,   likewise iy and iz,
// if each coordinate lies within the printed precision of that point.  Index 0 is thus
// the point at f/n, whichever point the listing starts from.  Only when the first
// nkx * nky * nkz listed k-points hit every grid point exactly once is that placement
// used; otherwise the route (route.hpp) tries the unfolding next.
#pragma once

#include "finding.hpp"
#include "grid.hpp"
#include "listing.hpp"

#include <array>
#include <cstdint>
#include <vector>

namespace bandcut {

// How far a coordinate may lie from its grid point, in units of the reciprocal vectors:
// the rounding of two four-decimal numbers (the coordinate and the origin), and a little.
inline constexpr double placement_tolerance = 1.05e-4;

struct placement {
    // The listed k-point for each grid point n; empty when the listing does not hold the
    // grid (then `k` and `why` name the first k-point that disagrees).
    std::vector<std::int32_t> kpoint_at;
    std::array<double, 3> shift{};  // f per axis, in steps
    std::int64_t k = 0;              // counting from 0
    cause why = cause::none;         // kpoint_off_grid or kpoint_repeats

    bool placed() const { return !kpoint_at.empty(); }
};

// Places the first nkx * nky * nkz listed k-points by their coordinates (see above).  The
// grid must have at least one point along each axis and no more than NKPTS points.
placement place_on_grid(const listing& bands, const grid& g);

}  // namespace bandcut
