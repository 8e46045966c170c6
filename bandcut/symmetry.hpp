// The point-group operations of a crystal as they act on k-points.
//
// Coordinates: a k-point is written in units of the reciprocal vectors b1, b2, b3, an
// ion's position in units of the direct vectors a1, a2, a3 (a_i . b_j = 1 if i = j, else
// 0; the listing prints b without the factor 2 pi).  An operation rotates Cartesian space
// by R.  On positions it is the integer matrix W = A^-1 R A (A's columns are a1, a2, a3);
// on k-points it is M = B^-1 R B (B's columns are b1, b2, b3), which is (W^-1)^T: the
// inverse transpose, not W itself, as a hexagonal cell shows (its six-fold W is not
// orthogonal).  The band energy is the same at k and at M k.
//
// Example: a tetragonal cell with a1 = (4.06, 0, 0), a2 = (0, 4.06, 0), a3 = (0, 0, 5.25);
// the four-fold rotation about -z (det 1, 90 degrees, axis (0, 0, -1)) acts on k-points as
// M = ((0, 1, 0), (-1, 0, 0), (0, 0, 1)), row by row.
#pragma once

#include "sections.hpp"

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace bandcut {

using int3x3 = std::array<std::array<int, 3>, 3>;  // row by row

// One row of the operator table as an operation on k-points, in the lattice whose
// reciprocal vectors are the rows of `reciprocal`; empty when an entry of M lies more
// than 1e-3 from an integer (the wrong lattice, or a misread row).
std::optional<int3x3> kpoint_rotation(const operator_row& row, const std::array<dvec3, 3>& reciprocal);

// (W^-1)^T for an integer W of determinant +-1: the operation on k-points of the
// operation W on positions.
int3x3 kpoint_action(const int3x3& w);

// The distinct rotations W of the crystal's space group (a supercell's pure translations
// repeat each rotation; it is kept once), found with a tolerance of 1e-5 A on positions.
// With `moments` (one per ion), only the operations that carry every ion onto one of the
// same moment count; operations that would flip the moments are left out.  `types` names
// each ion's species.  Empty when no operation is found (the identity always is, for a
// crystal that makes sense).
std::vector<int3x3> crystal_rotations(const std::array<dvec3, 3>& direct, const std::vector<dvec3>& positions,
                                      const std::vector<int>& types, const std::vector<double>* moments);

}  // namespace bandcut
