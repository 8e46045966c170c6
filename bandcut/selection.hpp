// Band selection: only the bands that cross the Fermi energy make up the Fermi surface.
//
// A band is kept when its smallest energy over the k-points the file holds lies strictly
// below Ef and its largest strictly above (single-precision comparisons).  Bands count
// from 0 here and from 1 in the file; the bands of a second spin component follow those of
// the first, so with NBANDS = 52 the file's band 53 is band 1 of spin component 2.
#pragma once

#include "grid.hpp"
#include "listing.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace bandcut {

// The bands that cross `ef`, ascending: index s * NBANDS + b for band b of spin
// component s.  `counted` names the entries the file holds (a listed k-point, its spin
// components swapped at a grid point reached through an operation that reverses the
// moments); empty: every listed k-point.
// The search starts from +-10000 eV, not from the largest float, as it always has: a
// band lying wholly above 10000 eV counts as reaching down to 10000 eV, and one wholly
// below -10000 eV as reaching up to it.
std::vector<std::int64_t> select_bands(const listing& bands, float ef, std::span<const grid_entry> counted = {});

// Each band's lowest and highest energy in spin component `spin` (lo and hi, NBANDS each)
// over the entries counted (empty: every listed k-point), starting from lo_start and
// hi_start; a value that is not a number leaves them as they are.
void band_extremes(const listing& bands, int spin, std::span<const grid_entry> counted, std::vector<float>& lo,
                   std::vector<float>& hi, float lo_start, float hi_start);

// For a listing where no band crosses `ef`: the band maximum nearest below it and the band
// minimum nearest above it (not-a-number values left out; a band touching Ef lies on the
// side of its other values), each with every band (s * NBANDS + b) that ends or begins
// there.  Empty sides when no band lies there, or with no k-point, no band or an Ef that
// is not a number.
struct band_edge {
    float value;
    std::vector<std::int64_t> bands;
};
struct band_edges {
    std::optional<band_edge> below, above;
};
band_edges nearest_band_edges(const listing& bands, float ef, std::span<const grid_entry> counted = {});

}  // namespace bandcut
