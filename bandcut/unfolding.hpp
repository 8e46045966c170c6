// Unfolding: the full k-point mesh rebuilt from the irreducible k-points a calculation
// lists, proved before it is used.
//
// A calculation with symmetry lists one k-point of each star: the band energy is the same
// at every k-point that an operation M of the crystal maps onto a listed one
// (E(M k) = E(k)), and at -k too without spin-orbit coupling (time reversal).  In a
// collinear magnet an operation that reverses the moments swaps the spin components
// instead (E_s(M k) = E_s'(k)).  So each point of the nkx x nky x nkz mesh takes the
// energies of the irreducible k-point whose star holds it, with its spin components
// swapped where only a reversing operation reaches it.  The mesh may be shifted by half a
// step along an axis; every irreducible point lies on the one shifted mesh.
//
// Whether the calculation reduced its mesh with the reversing operations too is seen in
// the listing, not assumed: the whole set is tried first, and where it fails the proof
// but the operations that keep the moments pass it, those are what the calculation used.
//
// The map is used only when it is proved, each failure naming itself:
//   the listing's count of operations is the set's; the set is a group (the identity is
//   in it, and every product of two, time reversal included); every irreducible point
//   lies on the mesh, all with one shift per axis; every grid point is reached; none is
//   reached from two irreducible points; where a reversing operation leaves an
//   irreducible point where it is (or takes it where a keeping one does), its two spin
//   components agree within 3 meV, band for band, over the bands that can reach the file
//   (else the moments are not the calculation's); each irreducible point's share of the
//   grid is its weight's share (or, for listings that count whole stars, its star's
//   share); a full-zone list maps every grid point as the map does, and its rows marked
//   "spinflp" are those that a reversing operation reaches.  The wedge's own checks (block
//   headers, lists that agree) are in wedge.hpp.
//
// The operations that keep the moments stand on their own where the listing's count of
// operations is theirs, or where the energies refute exactly the reversing ones (the spin
// check fails): then the full-zone list's "spinflp" marks, which describe the whole group,
// are not required to match.  Moments that disagree with the energies otherwise are a
// refusal, never a reason to fall back.
#pragma once

#include "finding.hpp"
#include "grid.hpp"
#include "listing.hpp"
#include "operations.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace bandcut {

struct unfolding {
    // For each grid point the listed k-point whose energies it takes, and whether its spin
    // components are swapped.
    std::vector<grid_entry> kpoint_at;
    std::vector<std::int32_t> irreducible;  // the listed k-points unfolded (extra points left out)
    std::array<double, 3> shift{};          // 0 or 1/2 per axis, in steps
    std::int64_t rotations = 0;             // distinct rotations used, before time reversal
    std::int64_t reversing = 0;             // of them, those that reverse the moments (swap the spins)
    std::int64_t left_out = 0;              // rotations that reverse the moments, not used: the calculation did not
    bool time_reversal = false;
    op_source source = op_source::crystal_structure;
    moment_origin moments = moment_origin::none;  // where the moments came from; none when none were used
    bool spins_agree = false;  // spin-polarised, with spin components that agree at every listed point
    bool by_energies = false;  // spin-polarised, every operation decided by the energies alone
    std::int64_t compared = 0;  // bands compared between the spin components
    // Where the energies refuted the reversing operations left out: the listed k-point (from
    // 0), its coordinates and the band (from 0; -1: not refuted there).
    std::int64_t refuted_k = 0;
    dvec3 refuted_c{};
    std::int64_t refuted_band = -1;
};

struct unfold_outcome {
    std::optional<unfolding> done;
    // When not done, why: what the listing lacks, or the check of the map that failed,
    // with the points, the grid and the grid they lie on.
    finding why;
};

// Tries to unfold the listing's k-points onto the grid; the grid must not be empty.
// `budget` bounds the symmetry work; `ef` is the Fermi energy the file's bands are chosen
// by (with the listing's own, it says which bands can reach the file).
unfold_outcome unfold(const listing& bands, const grid& g, const symmetry_budget& budget, float ef);

}  // namespace bandcut
