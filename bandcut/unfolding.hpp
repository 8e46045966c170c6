// Unfolding: the full k-point mesh rebuilt from the irreducible k-points a calculation
// lists, proved before it is used.
//
// A calculation with symmetry lists one k-point of each star: the band energy is the same
// at every k-point that a rotation M of the crystal's point group maps onto a listed one
// (E(M k) = E(k)), and at -k too when there is no spin-orbit coupling (time reversal).
// So each point of the nkx x nky x nkz mesh takes the energies of the irreducible
// k-point whose star holds it.  The mesh may be shifted by half a step along an axis;
// every irreducible point lies on the shifted mesh.
//
// Where the pieces come from: the irreducible points from the listing's list of them
// (with raw weights), or from its full-zone list (hybrid runs, which also map every grid
// point: our map must reproduce it), or else every listed k-point; coordinates from the
// list with the most decimals.  The rotations from the listing's operator table, or else
// from its crystal structure (with the magnetic moments for a spin-polarised run).
//
// The map is used only when it is proved: (a) every grid point is reached; (b) no grid
// point is reached from two irreducible points (else the operations are more than the
// calculation used: a magnetic order, say, that the listing does not print); (c) each
// irreducible point's share of the grid equals its weight's share (or, for listings that
// count whole stars, its star's share), so that the wedge is the calculation's own.
#pragma once

#include "bandgrid.hpp"
#include "listing.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace bandcut {

struct unfolding {
    std::vector<std::int32_t> kpoint_at;    // the listed k-point for each grid point
    std::vector<std::int32_t> irreducible;  // the listed k-points unfolded (extra points left out)
    std::array<double, 3> shift{};          // 0 or 1/2 per axis, in steps
    std::int64_t rotations = 0;             // distinct rotations, before time reversal
    bool time_reversal = false;
    const char* source = "";                // "the operator table" or "the crystal structure"
};

struct unfold_outcome {
    std::optional<unfolding> done;
    // When not done, a clause saying why, to follow "; ": "the listing holds a band path,
    // not a mesh", "no unfolding: <what the listing lacks>", or "the 36 irreducible
    // k-points do not unfold onto 8 x 8 x 8 (<the check that failed, with a count>)",
    // perhaps followed by "; they lie on a 6 x 6 x 6 grid".
    std::string why;
};

// Tries to unfold the listing's k-points onto the grid; the grid must not be empty.
unfold_outcome unfold(const listing& bands, const grid& g);

// The note of a successful unfolding, with its newline.
std::string unfolded_note(const unfolding& u, const grid& g);

// Where each grid point's energies come from: the listed k-point at its coordinates
// (placement); else the irreducible k-point whose star holds it (unfolding); else, on a
// grid no larger than the listing, the k-point at its place in the listing, as bandcut
// always did; else nowhere: the grid is refused.
struct grid_map {
    std::vector<std::int32_t> kpoint_at;  // empty: listing order
    std::vector<std::int32_t> counted;    // the k-points band selection looks at (empty: all)
    std::string said;                     // warning and note lines for standard error, in order
    std::string refused;                  // when not empty, why the grid is refused (one line, no newline)
};
grid_map map_grid(const listing& bands, const grid& g);

}  // namespace bandcut
