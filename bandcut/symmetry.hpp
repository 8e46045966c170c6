// The symmetry a calculation used to reduce its k-point mesh, from what its listing
// prints: the operations of its operator table, or else those of its crystal structure;
// for a collinear spin-polarised run each decided keeping or reversing the moments
// (operations.hpp).
//
// Evidence, strongest first.  The band energies: only the bands that can reach the file
// count (those up to the highest whose range over the listed points straddles Ef; a run's
// top bands are left unconverged by its eigensolver and are no evidence).  Where their two
// spin components agree within 3 meV at every listed point, swapping them changes no
// value, and no operation's spin action matters.  Where they differ at a listed point, no
// operation that fixes that point can reverse the moments (a reversing one would make them
// equal there).  Then the moments the listing gives: MAGMOM in its input echo, the note
// that every ion starts from a moment of 1, or, in older listings, the first table of
// moments the run printed.  The identity keeps.
//
// A printed operator table is the run's own magnetic group, printed after the run analysed
// its own magnetic order: every row keeps or reverses, none is dropped.  Each row is
// decided by the energies, else by the dominant moments (at least half the largest: the
// small moments induced on other ions, which a table of moments prints unsymmetrised, are
// no evidence), else as the identity; evidence that disagrees, and a row nothing decides,
// are refusals naming the row.  Operations found from the structure are classified by the
// moments (ion by ion: keeping, reversing, or neither and left out), unless the energies
// show that no spin action matters.
#pragma once

#include "finding.hpp"
#include "listing.hpp"
#include "operations.hpp"

#include <cstdint>
#include <optional>
#include <vector>

namespace bandcut {

// What the band energies of a spin-polarised listing say about the spin action of its
// operations.
struct spin_evidence {
    std::int64_t compared = 0;  // bands compared, from the lowest
    // A listed point where a compared band's spin components differ by more than 3 meV.
    struct split {
        std::int32_t listed;  // the listed k-point, counting from 0
        dvec3 c;              // its coordinates
        std::int64_t band;    // the first band that splits there, counting from 0
        double by;            // eV
    };
    std::vector<split> splits;
    bool agree() const { return splits.empty(); }
};

// Beyond this (eV) two spin components of a band differ: self-consistency leaves up to
// about 1.3 meV between states that symmetry makes equal; real spin splittings are tens of
// meV.
inline constexpr double spin_tolerance = 0.003 + 1e-6;

// Whether the k-point operation m fixes c (in units of the reciprocal vectors), modulo a
// reciprocal lattice vector, or, with time reversal, takes it to -c.
bool fixes(const int3x3& m, const dvec3& c, bool time_reversal);

struct calculation_symmetry {
    // Distinct, before time reversal; `swaps` where the operation reverses the moments.
    std::vector<kpoint_operation> ops;
    // The table row each operation came from (counting from 1), 0 for the structure's.
    std::vector<std::int64_t> rows;
    bool time_reversal = false;  // k -> -k too: no spin-orbit coupling, no non-collinear spins
    op_source source = op_source::crystal_structure;
    moment_origin moments = moment_origin::none;  // where the moments came from; none when none were used
    // The spin components agree at every listed point: no operation's spin action matters.
    bool spins_agree = false;
    // Rows decided by the energies alone (no moments were needed).
    bool by_energies = false;
};

// The calculation's operations, or why there are none to be had.  `budget` bounds the symmetry work; `evidence` is what the
// energies say (empty for a run without spin polarisation).
std::optional<calculation_symmetry> symmetry_of(const listing& bands, const symmetry_budget& budget,
                                                const spin_evidence& evidence, finding& why);

}  // namespace bandcut
