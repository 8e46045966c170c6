// Band selection and the band-grid file "FS.bsxf", from which Fermi surfaces are drawn.
//
// Only bands that cross the Fermi energy make up the Fermi surface: a band is kept when
// its smallest energy over all k-points lies strictly below Ef and its largest strictly
// above (single-precision comparisons).  Bands count from 0 in the code and from 1 in
// the file; the bands of a second spin component follow those of the first, so with
// NBANDS = 52 the file's band 53 is band 1 of spin component 2.
//
// Value order.  Each band section lists nkx * nky * nkz energies, the first grid index
// slowest and the third fastest; grid point (ix, iy, iz), counting from 0, is value
//     n = (ix * nky + iy) * nkz + iz
// of the section.  Each (ix, iy) row ends with a newline and each ix plane with an empty
// line.  With nkx = 1, nky = 2, nkz = 3 a section reads
//      BAND: 4
//       e0    e1    e2
//       e3    e4    e5
//     (empty line)
// where en is the energy at grid point n: the energy of the k-point the listing gives
// for that point (see `placement`), or of the n-th listed k-point.
#pragma once

#include "listing.hpp"

#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

namespace bandcut {

// The k-point grid of the band-grid file, as given on the command line.  A dimension
// of 0 or less makes the grid empty.
struct grid {
    std::int32_t nkx = 0;
    std::int32_t nky = 0;
    std::int32_t nkz = 0;

    // nkx * nky * nkz (0 when any is 0 or less), computed without overflow.
    std::int64_t points() const;
};

// The bands that cross `ef`, ascending: index s * NBANDS + b for band b of spin
// component s.
std::vector<std::int32_t> select_bands(const listing& bands, float ef);

// Writes the band-grid file for the selected bands `nstore`.  `kpoint_at[n]` is the
// listed k-point whose energies go to grid point n; when it is empty, the n-th listed
// k-point does.  Returns false if a write failed.
bool write_bandgrid(std::FILE* out, const listing& bands, float ef, const grid& g,
                    std::span<const std::int32_t> nstore, std::span<const std::int32_t> kpoint_at);

}  // namespace bandcut
