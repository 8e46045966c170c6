// Band selection and the band-grid file "FS.bsxf", from which Fermi surfaces are drawn.
//
// Only bands that cross the Fermi energy make up the Fermi surface: a band is kept when
// its smallest energy over all k-points lies strictly below Ef and its largest strictly
// above (single-precision comparisons).  Bands count from 0 in the code and from 1 in
// the file; the bands of a second spin component follow those of the first, so with
// NBANDS = 52 the file's band 53 is band 1 of spin component 2.
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
// k-point the listing gives for that point (see `placement`), or of the n-th listed one.
#pragma once

#include "listing.hpp"

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

namespace bandcut {

// The k-point mesh of the calculation, as given on the command line.  A dimension of 0 or
// less makes the grid empty (the driver refuses such a grid).
struct grid {
    std::int32_t nkx = 0;
    std::int32_t nky = 0;
    std::int32_t nkz = 0;

    // nkx * nky * nkz (0 when any is 0 or less), computed without overflow.
    std::int64_t points() const;
};

// The bands that cross `ef`, ascending: index s * NBANDS + b for band b of spin
// component s.  Only the k-points listed in `kpoints` count (all when it is empty): an
// unfolded listing's extra points are no part of the grid.
std::vector<std::int64_t> select_bands(const listing& bands, float ef, std::span<const std::int32_t> kpoints = {});

// For a listing where no band crosses `ef`: one warning line (with its newline) naming
// the band maximum nearest below Ef and the band minimum nearest above it, to help choose
// a better Ef; empty with no k-point, no band or an Ef that is not a number.
std::string no_crossing_warning(const listing& bands, float ef, std::span<const std::int32_t> kpoints = {});

struct write_options {
    // Bytes formatted before they are handed to the stream.  Small in tests, so that they
    // reach the flushes.
    std::size_t block = std::size_t{1} << 20;
    // Bytes of band energies gathered out of the table in one pass over it: as many bands
    // as fit, at least one.  Small in tests, so that they take several passes.
    std::size_t gather = std::size_t{16} << 20;
};

// Writes the band-grid file (the closed grid above) for the selected bands `nstore`.
// `kpoint_at[n]` is the listed k-point whose energies go to mesh point n; when it is
// empty, the n-th listed k-point does.  The grid must not be empty.  Returns false if a
// write failed, at which point it stops.
bool write_bandgrid(std::FILE* out, const listing& bands, float ef, const grid& g,
                    std::span<const std::int64_t> nstore, std::span<const std::int32_t> kpoint_at,
                    const write_options& options = {});

}  // namespace bandcut
