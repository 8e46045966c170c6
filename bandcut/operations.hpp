// The symmetry operations of a crystal, as they act on k-points and on the two spin
// components of a collinear magnet.
//
// Coordinates: a k-point is written in units of the reciprocal vectors b1, b2, b3, an
// ion's position in units of the direct vectors a1, a2, a3 (a_i . b_j = 1 if i = j, else
// 0; the listing prints b without the factor 2 pi).  An operation maps positions as
// x' = W x + tau, W an integer matrix and tau a fraction of the cell: in Cartesian space
// it rotates by R = A W A^-1 (A's columns are a1, a2, a3).  On k-points it acts as
// M = B^-1 R B = (W^-1)^T (B's columns are b1, b2, b3): the inverse transpose, not W
// itself, as a hexagonal cell shows (its six-fold W is not orthogonal).  The band energy
// is the same at k and at M k.
//
// Magnetic order.  In a collinear spin-polarised calculation without spin-orbit coupling
// an operation of the structure either keeps every initial moment (ion i's moment is that
// of the ion it lands on), and then E_s(M k) = E_s(k) for both spin components s; or
// reverses every moment, and then E_s(M k) = E_s'(k), the two components swapped (an
// antiferromagnet's operation that carries the up-moment sites onto the down-moment
// ones); or neither, and it is no symmetry of the calculation.  Zero moments are both
// kept and reversed.
//
// Example: a tetragonal cell with a1 = (4.06, 0, 0), a2 = (0, 4.06, 0), a3 = (0, 0, 5.25);
// the four-fold rotation about -z (det 1, 90 degrees, axis (0, 0, -1)) acts on k-points as
// M = ((0, 1, 0), (-1, 0, 0), (0, 0, 1)), row by row.
//
// This is the only unit that calls spglib; everything it hands spglib is checked first.
#pragma once

#include "finding.hpp"
#include "sections.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace bandcut {

using int3x3 = std::array<std::array<int, 3>, 3>;  // row by row

// The product a b of two 3 x 3 matrices given row by row.
template <class T>
std::array<std::array<T, 3>, 3> product(const std::array<std::array<T, 3>, 3>& a, const std::array<std::array<T, 3>, 3>& b) {
    std::array<std::array<T, 3>, 3> c{};
    for (std::size_t i = 0; i < 3; ++i)
        for (std::size_t j = 0; j < 3; ++j)
            for (std::size_t k = 0; k < 3; ++k) c[i][j] += a[i][k] * b[k][j];
    return c;
}

// x' = W x + tau.
struct operation {
    int3x3 w;
    dvec3 tau;
};

// An operation as it acts on k-points, and whether it swaps the spin components.
struct kpoint_operation {
    int3x3 m;
    bool swaps = false;
    friend bool operator==(const kpoint_operation&, const kpoint_operation&) = default;
    friend auto operator<=>(const kpoint_operation&, const kpoint_operation&) = default;
};

// One row of the operator table as an operation of the lattice whose direct vectors are
// the rows of `direct`; empty when an entry of W lies more than 1e-3 from an integer (the
// wrong lattice, or a misread row).
std::optional<operation> table_operation(const operator_row& row, const std::array<dvec3, 3>& direct);

// (W^-1)^T for an integer W of determinant +-1: the operation on k-points of the
// operation W on positions.
int3x3 kpoint_action(const int3x3& w);

// The crystal structure as the listing prints it after its dimension line.
struct structure {
    std::array<dvec3, 3> direct{};  // a1, a2, a3, Cartesian A, one per row
    std::vector<dvec3> positions;   // fractional (direct) coordinates
    std::vector<int> types;         // species of each ion, counting from 1
};

// The symmetry work a listing warrants, in proportion to its size.
//
// spglib's search over n ions, the rarest species holding m of them, tries each of those m
// ions as a translation and maps every ion under each: measured on a 2-core machine it
// takes 1.1e-6 n m seconds (2048 ions of two species placed at random: 2.2 s; 4000: 10 s),
// a little more per pair as n grows, and less where more species share the ions.  The
// bound predicts 2e-6 n m seconds and allows 0.25 s plus 50 ns per byte of the listing
// (25 times what reading it costs), at most 2 s.  Telling which operations keep the
// moments is bounded by the listing's bytes too (classify).
struct symmetry_budget {
    std::uint64_t listing_bytes = 0;
    double seconds = 0;  // what spglib's predicted time may be
    static symmetry_budget for_listing(std::uint64_t bytes);
    static double predicted_seconds(std::int64_t ions, std::int64_t rarest);
};

// Why the structure cannot be searched for symmetry (none when it can): a lattice that
// is not finite, spans no volume or has a length outside 0.1 A to 10^4 A; a position
// that is not finite; two ions of one species on one site.
finding structure_fault(const structure& s);

// Why spglib is not asked for the structure's operations (none when it may be): its
// predicted time exceeds what `budget` allows.
finding search_fault(const structure& s, const symmetry_budget& budget);

// Every operation of the structure (each rotation once per pure translation of a
// supercell), found by spglib with a tolerance of 1e-5 A on positions.  The structure
// must have passed structure_fault.  Empty when spglib finds none.
std::vector<operation> structure_operations(const structure& s);

// What one operation does to the moments (one per ion, zero moments both kept and
// reversed): `keeps` when every ion lands on one of the same moment, `reverses` when every
// ion lands on one of the opposite moment; `lost`, the ion (counting from 0) that it maps
// onto no ion of its species, else -1 (then neither holds).  The structure must have
// passed structure_fault.
struct moment_action {
    bool keeps = false, reverses = false;
    std::int64_t lost = -1;
};
moment_action act_on_moments(const operation& op, const structure& s, const std::vector<double>& moments);

// What each operation does to the moments (one per ion; zero moments are both kept and
// reversed), as k-point operations: (M, no swap) for one that keeps them, (M, swap) for
// one that reverses them, nothing for one that does neither or maps an ion onto no ion
// of its species; distinct.  `moments` empty: every operation that maps the structure
// onto itself keeps them (no magnetic order).  The structure must have passed
// structure_fault.  Empty, with `beyond_bound` set, when the work would exceed what
// `budget` warrants.
std::vector<kpoint_operation> classify(const std::vector<operation>& ops, const structure& s,
                                       const std::vector<double>& moments, const symmetry_budget& budget,
                                       bool& beyond_bound);

}  // namespace bandcut
