// The band-grid file "FS.bsxf", from which Fermi surfaces are drawn.
//
// The grid is closed: the viewer reads n values along an axis as spanning its
// reciprocal vector from 0 to 1 inclusive, the last value being the periodic image of
// the first.  A calculation's nkx x nky x nkz mesh is therefore written as
// (nkx+1) x (nky+1) x (nkz+1) values, the dimensions line saying nkx+1 nky+1 nkz+1, and
// the value at (ix, iy, iz) is that of mesh point (ix mod nkx, iy mod nky, iz mod nkz).
//
// Value order.  Each band section lists its values with the first index slowest and the
// third fastest; each (ix, iy) row ends with a newline and each ix plane with an empty
// line.  With nkx = 1, nky = 2, nkz = 2 a section reads
//      BAND: 4
//       e0    e1    e0
//       e2    e3    e2
//       e0    e1    e0
//     (empty line)
//       e0    e1    e0     (ix = 1: the image of the plane ix = 0)
//       e2    e3    e2
//       e0    e1    e0
//     (empty line)
// where en is the energy at mesh point n = (ix * nky + iy) * nkz + iz: the energy of the
// k-point the route (route.hpp) gives that point, or of the n-th listed one.
#pragma once

#include "grid.hpp"
#include "listing.hpp"

#include <cstdint>
#include <cstdio>
#include <span>

namespace bandcut {

struct write_options {
    // Bytes formatted before they are handed to the stream.  Small in tests, so that they
    // reach the flushes.
    std::size_t block = std::size_t{1} << 20;
    // Bytes of band energies gathered out of the table in one pass over it: as many bands
    // as fit, at least one.  Small in tests, so that they take several passes.
    std::size_t gather = std::size_t{16} << 20;
};

// Where the grid's values come from: `kpoint_at[n]` is what mesh point n takes from the
// listing (`swaps` says whether any entry is swapped; NKPTS is the listing's); when it is
// empty, the n-th listed k-point's energies go to mesh point n.
struct grid_source {
    std::span<const grid_entry> kpoint_at;
    bool swaps = false;
    std::int32_t nkpts = 0;
};

// Writes the band-grid file (the closed grid above) for the selected bands `nstore`
// (s * NBANDS + b).  The grid must not be empty.  Returns false if a write failed (or the
// stream reports an error), at which point it stops: nothing after it is formatted, and
// no entry of the map beyond the rows written is read.
bool write_bandgrid(std::FILE* out, const listing& bands, float ef, const grid& g, std::span<const std::int64_t> nstore,
                    grid_source values, const write_options& options = {});

}  // namespace bandcut
