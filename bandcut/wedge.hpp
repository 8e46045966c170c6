// The irreducible k-points of a symmetry-reduced mesh: which listed k-points they are,
// where they lie and what weight the calculation gave each.
//
// Where they come from: the hybrid runs' full-zone list (every grid point, naming its
// irreducible point; zero-weight extra points, a band path appended to the mesh, name
// themselves and are left out), else the irreducible list with its raw weights, else
// every listed k-point with the three-decimal weights of the k-point list.  Coordinates
// come from the list with the most decimals, and each k-point block's header must name
// the same point: the blocks are the energies the grid takes.
#pragma once

#include "finding.hpp"
#include "listing.hpp"

#include <cstdint>
#include <optional>
#include <vector>

namespace bandcut {

struct wedge {
    std::vector<std::int32_t> listed;  // which listed k-points (counting from 0)
    std::vector<dvec3> c;              // their coordinates, in units of the reciprocal vectors
    std::vector<double> weight;
    // Raw weights of the irreducible list, counts of full-zone rows, or the k-point
    // list's normalised three-decimal weights.
    enum { raw, counts, printed } kind = raw;
};

// The irreducible k-points, or why the listing does not give them.
std::optional<wedge> irreducible_points(const listing& bands, finding& why);

}  // namespace bandcut
