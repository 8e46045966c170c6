// The route from the listing to the grid: where each grid point's energies come from.
//
//   1. placement: the listing holds the full mesh, and each k-point goes where its
//      coordinates say (placement.hpp);
//   2. unfolding: the listing holds a symmetry-reduced mesh, unfolded and proved
//      (unfolding.hpp);
//   3. listing order, on a grid no larger than the listing: the n-th listed k-point is
//      grid point n, as bandcut always did, with a warning that says why neither of the
//      above applied;
//   4. refusal: a grid larger than the listing.
// Whichever it is, zero-weight extra points (a band path appended to a hybrid run's mesh)
// take no part in choosing the bands, nor, on the unfolded grid, any k-point it does not
// use.  Other k-points listed after a placed mesh count, as they always did.
#pragma once

#include "grid.hpp"
#include "listing.hpp"
#include "placement.hpp"
#include "unfolding.hpp"

#include <cstdint>
#include <optional>
#include <vector>

namespace bandcut {

struct grid_map {
    using route = bandcut::route;  // the public header's
    route how = route::refused;
    // For each grid point what it takes from the listing; empty: listing order.
    std::vector<grid_entry> kpoint_at;
    // The distinct entries whose energies the file holds, which band selection looks at;
    // empty: every listed k-point.
    std::vector<grid_entry> counted;
    placement placed;                // how the placement went (its shift, or the first k-point that disagreed)
    std::optional<unfolding> unfolded;
    finding not_unfolded;            // why not, when the unfolding was tried and failed
    std::int64_t left_out = 0;  // zero-weight k-points, left out of the grid and of choosing the bands
    std::int64_t beyond = 0;    // other k-points listed after a placed mesh: not in the file, but they count
};

// `budget` bounds the symmetry work of the unfolding; `ef` is the Fermi energy the file's
// bands are chosen by.
grid_map map_grid(const listing& bands, const grid& g, const symmetry_budget& budget, float ef);

}  // namespace bandcut
