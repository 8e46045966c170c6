#include "symmetry.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

using bandcut::dvec3;
using bandcut::int3x3;
using bandcut::operator_row;

// The reciprocal vectors (rows, without 2 pi) of the direct ones: the rows of (A^T)^-1.
std::array<dvec3, 3> reciprocal_of(const std::array<dvec3, 3>& a) {
    const double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                       a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    std::array<dvec3, 3> b{};
    for (std::size_t i = 0; i < 3; ++i) {  // b_i = (a_j x a_k) / det
        const dvec3& u = a[(i + 1) % 3];
        const dvec3& v = a[(i + 2) % 3];
        b[i] = {(u[1] * v[2] - u[2] * v[1]) / det, (u[2] * v[0] - u[0] * v[2]) / det, (u[0] * v[1] - u[1] * v[0]) / det};
    }
    return b;
}

const std::array<dvec3, 3> tetragonal{{{4.0616348, 0, 0}, {0, 4.0616348, 0}, {0, 0, 5.2539808}}};
const std::array<dvec3, 3> rotated_fcc{
    {{3.8395896, 0, 0}, {1.9197948, 3.32518213, 0}, {1.9197948, 1.10839404, 3.13501178}}};
const std::array<dvec3, 3> hexagonal{{{3, 0, 0}, {-1.5, 2.598076211, 0}, {0, 0, 5}}};
const std::array<dvec3, 3> cubic{{{3, 0, 0}, {0, 3, 0}, {0, 0, 3}}};

// Rows of the operator table as operations on k-points.  On the hexagonal cell the
// six-fold's action on k-points is (W^-1)^T = ((0,-1,0),(1,1,0),(0,0,1)), not the
// ((1,-1,0),(1,0,0),(0,0,1)) it is on positions: a cubic cell cannot tell the two apart.
TEST(symmetry, operator_rows_as_integer_matrices) {
    const struct {
        const char* name;
        std::array<dvec3, 3> lattice;
        operator_row row;
        std::optional<int3x3> m;
    } cases[] = {
        {"tetragonal four-fold about -z", tetragonal, {1, 90, {0, 0, -1}}, int3x3{{{0, 1, 0}, {-1, 0, 0}, {0, 0, 1}}}},
        {"rotated fcc, improper four-fold", rotated_fcc, {-1, 90, {-0.707107, -0.408248, 0.577350}},
         int3x3{{{-1, 0, 1}, {-1, 0, 0}, {-1, 1, 0}}}},
        {"hexagonal six-fold", hexagonal, {1, 60, {0, 0, 1}}, int3x3{{{0, -1, 0}, {1, 1, 0}, {0, 0, 1}}}},
        {"hexagonal two-fold about a1", hexagonal, {1, 180, {1, 0, 0}}, int3x3{{{1, 0, 0}, {-1, -1, 0}, {0, 0, -1}}}},
        {"hexagonal mirror normal to c", hexagonal, {-1, 180, {0, 0, 1}}, int3x3{{{1, 0, 0}, {0, 1, 0}, {0, 0, -1}}}},
        {"identity, printed with its noise", cubic, {1, 0.000001, {1, 0, 0}}, int3x3{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}}},
        {"inversion", cubic, {-1, 0, {1, 0, 0}}, int3x3{{{-1, 0, 0}, {0, -1, 0}, {0, 0, -1}}}},
        {"179.999999 degrees, six-decimal axis", cubic, {1, 179.999999, {0.707107, -0.707107, 0}},
         int3x3{{{0, -1, 0}, {-1, 0, 0}, {0, 0, -1}}}},
        {"45 degrees: no operation of a cubic lattice", cubic, {1, 45, {0, 0, 1}}, std::nullopt},
        {"a six-fold on a cubic lattice", cubic, {1, 60, {0, 0, 1}}, std::nullopt},
        {"a zero axis", cubic, {1, 90, {0, 0, 0}}, std::nullopt},
        {"a determinant that is not +-1", cubic, {0.5, 90, {0, 0, 1}}, std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(bandcut::kpoint_rotation(c.row, reciprocal_of(c.lattice)), c.m) << c.name;
}

TEST(symmetry, kpoints_turn_by_the_inverse_transpose) {
    const struct {
        int3x3 w, m;
    } cases[] = {
        {{{{1, -1, 0}, {1, 0, 0}, {0, 0, 1}}}, {{{0, -1, 0}, {1, 1, 0}, {0, 0, 1}}}},         // hexagonal six-fold
        {{{{0, 0, 1}, {-1, -1, -1}, {0, 1, 0}}}, {{{-1, 0, 1}, {-1, 0, 0}, {-1, 1, 0}}}},      // the rotated fcc row
        {{{{0, -1, 0}, {1, 0, 0}, {0, 0, 1}}}, {{{0, -1, 0}, {1, 0, 0}, {0, 0, 1}}}},          // orthogonal: W itself
        {{{{-1, 0, 0}, {0, -1, 0}, {0, 0, -1}}}, {{{-1, 0, 0}, {0, -1, 0}, {0, 0, -1}}}},      // inversion
    };
    for (const auto& c : cases) EXPECT_EQ(bandcut::kpoint_action(c.w), c.m);
}

// Distinct rotations of model crystals, through spglib; moments keep only the operations
// that keep them.
TEST(symmetry, crystal_rotations_of_model_structures) {
    const std::array<dvec3, 3> doubled{{{6, 0, 0}, {0, 3, 0}, {0, 0, 3}}};
    const std::array<dvec3, 3> square{{{3, 0, 0}, {0, 3, 0}, {0, 0, 4.5}}};
    const std::vector<double> same{1.0, 1.0}, opposite{1.0, -1.0}, stripes{1.0, 1.0, -1.0, -1.0};
    const struct {
        const char* name;
        std::array<dvec3, 3> lattice;
        std::vector<dvec3> positions;
        std::vector<int> types;
        const std::vector<double>* moments;
        std::size_t rotations;
    } cases[] = {
        {"simple cubic", cubic, {{0, 0, 0}}, {1}, nullptr, 48},
        {"hexagonal", hexagonal, {{0, 0, 0}}, {1}, nullptr, 24},
        {"square lattice, two-ion basis along c", square, {{0, 0, 0}, {0, 0, 0.37}}, {1, 2}, nullptr, 8},
        {"a supercell repeats each rotation: kept once", doubled, {{0, 0, 0}, {0.5, 0, 0}}, {1, 1}, nullptr, 16},
        {"equal moments keep them all", doubled, {{0, 0, 0}, {0.5, 0, 0}}, {1, 1}, &same, 16},
        {"opposite moments drop the translation, not a rotation", doubled, {{0, 0, 0}, {0.5, 0, 0}}, {1, 1}, &opposite, 16},
        {"striped moments break the four-fold axis", square, {{0, 0, 0}, {0.5, 0, 0}, {0, 0.5, 0}, {0.5, 0.5, 0}},
         {1, 1, 1, 1}, &stripes, 8},
    };
    for (const auto& c : cases)
        EXPECT_EQ(bandcut::crystal_rotations(c.lattice, c.positions, c.types, c.moments).size(), c.rotations) << c.name;
    EXPECT_TRUE(bandcut::crystal_rotations(cubic, {}, {}, nullptr).empty());
    EXPECT_TRUE(bandcut::crystal_rotations(cubic, {{0, 0, 0}}, {1, 2}, nullptr).empty());
}

}  // namespace
