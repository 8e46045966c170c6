#include "operations.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

using bandcut::dvec3;
using bandcut::int3x3;
using bandcut::operator_row;

const std::array<dvec3, 3> tetragonal{{{4.0616348, 0, 0}, {0, 4.0616348, 0}, {0, 0, 5.2539808}}};
const std::array<dvec3, 3> rotated_fcc{
    {{3.8395896, 0, 0}, {1.9197948, 3.32518213, 0}, {1.9197948, 1.10839404, 3.13501178}}};
const std::array<dvec3, 3> hexagonal{{{3, 0, 0}, {-1.5, 2.598076211, 0}, {0, 0, 5}}};
const std::array<dvec3, 3> cubic{{{3, 0, 0}, {0, 3, 0}, {0, 0, 3}}};

// Rows of the operator table as operations on k-points (M = (W^-1)^T of the W each row
// gives on positions).  On the hexagonal cell the
// six-fold's action on k-points is (W^-1)^T = ((0,-1,0),(1,1,0),(0,0,1)), not the
// ((1,-1,0),(1,0,0),(0,0,1)) it is on positions: a cubic cell cannot tell the two apart.
TEST(operations, operator_rows_as_integer_matrices) {
    const struct {
        const char* name;
        std::array<dvec3, 3> lattice;
        operator_row row;
        std::optional<int3x3> m;
    } cases[] = {
        {"tetragonal four-fold about -z", tetragonal, {1, 90, {0, 0, -1}, {}}, int3x3{{{0, 1, 0}, {-1, 0, 0}, {0, 0, 1}}}},
        {"rotated fcc, improper four-fold", rotated_fcc, {-1, 90, {-0.707107, -0.408248, 0.577350}, {}},
         int3x3{{{-1, 0, 1}, {-1, 0, 0}, {-1, 1, 0}}}},
        {"hexagonal six-fold", hexagonal, {1, 60, {0, 0, 1}, {}}, int3x3{{{0, -1, 0}, {1, 1, 0}, {0, 0, 1}}}},
        {"hexagonal two-fold about a1", hexagonal, {1, 180, {1, 0, 0}, {}}, int3x3{{{1, 0, 0}, {-1, -1, 0}, {0, 0, -1}}}},
        {"hexagonal mirror normal to c", hexagonal, {-1, 180, {0, 0, 1}, {}}, int3x3{{{1, 0, 0}, {0, 1, 0}, {0, 0, -1}}}},
        {"identity, printed with its noise", cubic, {1, 0.000001, {1, 0, 0}, {}}, int3x3{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}}},
        {"inversion", cubic, {-1, 0, {1, 0, 0}, {}}, int3x3{{{-1, 0, 0}, {0, -1, 0}, {0, 0, -1}}}},
        {"179.999999 degrees, six-decimal axis", cubic, {1, 179.999999, {0.707107, -0.707107, 0}, {}},
         int3x3{{{0, -1, 0}, {-1, 0, 0}, {0, 0, -1}}}},
        {"45 degrees: no operation of a cubic lattice", cubic, {1, 45, {0, 0, 1}, {}}, std::nullopt},
        {"a six-fold on a cubic lattice", cubic, {1, 60, {0, 0, 1}, {}}, std::nullopt},
        {"a zero axis", cubic, {1, 90, {0, 0, 0}, {}}, std::nullopt},
        {"a determinant that is not +-1", cubic, {0.5, 90, {0, 0, 1}, {}}, std::nullopt},
        {"a translation not a number", cubic, {1, 90, {0, 0, 1}, {0, NAN, 0}}, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto op = bandcut::table_operation(c.row, c.lattice);
        EXPECT_EQ(op ? std::optional<int3x3>(bandcut::kpoint_action(op->w)) : std::nullopt, c.m) << c.name;
    }
}

TEST(operations, kpoints_turn_by_the_inverse_transpose) {
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

// The operations of model crystals, through spglib, and what each does to the moments:
// (M, no swap) for those that keep them, (M, swap) for those that reverse them.
TEST(operations, of_model_structures_with_their_moments) {
    const std::array<dvec3, 3> doubled{{{6, 0, 0}, {0, 3, 0}, {0, 0, 3}}};
    const std::array<dvec3, 3> square{{{3, 0, 0}, {0, 3, 0}, {0, 0, 4.5}}};
    const std::vector<double> none, same{1.0, 1.0}, opposite{1.0, -1.0}, stripes{1.0, 1.0, -1.0, -1.0}, zero{0.0, 0.0};
    const struct {
        const char* name;
        bandcut::structure s;
        const std::vector<double>& moments;
        std::size_t keeping, reversing;  // distinct M of each kind
    } cases[] = {
        {"simple cubic", {cubic, {{0, 0, 0}}, {1}}, none, 48, 0},
        {"hexagonal", {hexagonal, {{0, 0, 0}}, {1}}, none, 24, 0},
        {"square lattice, two-ion basis along c", {square, {{0, 0, 0}, {0, 0, 0.37}}, {1, 2}}, none, 8, 0},
        {"a supercell repeats each rotation: kept once", {doubled, {{0, 0, 0}, {0.5, 0, 0}}, {1, 1}}, none, 16, 0},
        {"equal moments: all kept", {doubled, {{0, 0, 0}, {0.5, 0, 0}}, {1, 1}}, same, 16, 0},
        // The translation by half the cell carries each moment onto its opposite: every
        // rotation also reverses them (the bands of both spins are alike).
        {"opposite moments: each rotation keeps and reverses", {doubled, {{0, 0, 0}, {0.5, 0, 0}}, {1, 1}}, opposite, 16, 16},
        {"zero moments are kept and reversed", {doubled, {{0, 0, 0}, {0.5, 0, 0}}, {1, 1}}, zero, 16, 16},
        {"striped moments break the four-fold axis", {square, {{0, 0, 0}, {0.5, 0, 0}, {0, 0.5, 0}, {0.5, 0.5, 0}}, {1, 1, 1, 1}},
         stripes, 8, 8},
    };
    for (const auto& c : cases) {
        ASSERT_FALSE(bandcut::structure_fault(c.s)) << c.name;
        bool beyond = true;
        const auto ops = bandcut::classify(bandcut::structure_operations(c.s), c.s, c.moments, bandcut::symmetry_budget::for_listing(1 << 20), beyond);
        EXPECT_FALSE(beyond) << c.name;
        std::size_t keeping = 0, reversing = 0;
        for (const auto& op : ops) ++(op.swaps ? reversing : keeping);
        EXPECT_EQ(keeping, c.keeping) << c.name;
        EXPECT_EQ(reversing, c.reversing) << c.name;
    }
}

}  // namespace

namespace {

// What makes a structure unfit for the search, the first fault named; the bound on one
// site (2e-5 of the cell), across the edges of the index's buckets and the cell's wrap.
TEST(operations, structure_faults) {
    using C = bandcut::cause;
    std::vector<dvec3> many;  // 128 ions: the index splits the cell into 4 x 4 x 4 buckets
    for (int i = 0; i < 128; ++i) many.push_back({(i % 8) / 8.0 + 0.01, (i / 8 % 4) / 4.0 + 0.1, (i / 32) / 4.0 + 0.1});
    auto edge = many;
    edge[0] = {0.25 - 1e-6, 0.6, 0.6};
    edge[1] = {0.25 + 1e-6, 0.6, 0.6};
    const std::array<dvec3, 3> short_a1{{{0.05, 0, 0}, {0, 3, 0}, {0, 0, 3}}};
    const std::array<dvec3, 3> flat{{{3, 0, 0}, {0, 3, 0}, {3, 3, 0.003}}};  // a volume 7e-4 of the lengths' product
    const std::array<dvec3, 3> thin{{{3, 0, 0}, {0, 3, 0}, {3, 3, 0.005}}};  // 1.2e-3
    const struct {
        const char* name;
        bandcut::structure s;
        bandcut::cause fault;
        std::array<std::int64_t, 3> n{};  // the ions and their species, the lattice vector
        double value = 0;                 // its length
    } cases[] = {
        {"two sites 5e-5 apart", {cubic, {{0, 0, 0}, {0, 0, 5e-5}}, {1, 1}}, C::none},
        {"one site, 1e-6 apart", {cubic, {{0, 0, 0}, {0, 0, 1e-6}}, {1, 1}}, C::one_site, {1, 2, 1}},
        {"one site across the cell's wrap", {cubic, {{0, 0, 0.9999995}, {0, 0, 0}}, {1, 1}}, C::one_site, {1, 2, 1}},
        {"one site across a bucket's edge", {cubic, edge, std::vector<int>(128, 1)}, C::one_site, {1, 2, 1}},
        {"one site, the second species", {cubic, {{0, 0, 0}, {0.5, 0, 0}, {0.5, 0, 1e-6}}, {1, 2, 2}}, C::one_site, {2, 3, 2}},
        {"two species on one site", {cubic, {{0, 0, 0}, {0, 0, 1e-6}}, {1, 2}}, C::none},
        {"a lattice vector of 0.05 A", {short_a1, {{0, 0, 0}}, {1}}, C::lattice_length, {1, 0, 0}, 0.05},
        {"a lattice nearly flat", {flat, {{0, 0, 0}}, {1}}, C::no_volume},
        {"a thin lattice", {thin, {{0, 0, 0}}, {1}}, C::none},
    };
    for (const auto& c : cases) {
        const auto f = bandcut::structure_fault(c.s);
        EXPECT_EQ(f.why, c.fault) << c.name;
        EXPECT_EQ(f.n, c.n) << c.name;
        EXPECT_EQ(f.value, c.value) << c.name;
    }
}

// An operation that maps an ion onto no ion of its species is no symmetry of the
// structure: left out, the ion named; what the moments say of the others.
TEST(operations, an_ion_mapped_onto_nothing_disqualifies_the_operation) {
    const bandcut::structure s{cubic, {{0, 0, 0}, {0.5, 0.2, 0}}, {1, 2}};
    const bandcut::operation identity{{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}}, {0, 0, 0}};
    const bandcut::operation four_fold{{{{0, -1, 0}, {1, 0, 0}, {0, 0, 1}}}, {0, 0, 0}};
    bool beyond = true;
    const auto ops = bandcut::classify({identity, four_fold}, s, {1.0, 0.0}, bandcut::symmetry_budget::for_listing(1 << 20),
                                       beyond);
    ASSERT_EQ(ops.size(), 1u);
    EXPECT_EQ(ops[0].m, identity.w);
    const auto lost = bandcut::act_on_moments(four_fold, s, {1.0, 0.0});
    EXPECT_EQ(lost.lost, 1);
    EXPECT_FALSE(lost.keeps || lost.reverses);
    // Two moments exchanged by a translation: reversed when opposite, kept when equal.
    const bandcut::structure pair{cubic, {{0, 0, 0}, {0.5, 0, 0}}, {1, 1}};
    const bandcut::operation half{{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}}, {0.5, 0, 0}};
    const auto reverses = bandcut::act_on_moments(half, pair, {1.0, -1.0});
    EXPECT_TRUE(reverses.reverses && !reverses.keeps);
    const auto keeps = bandcut::act_on_moments(half, pair, {1.0, 1.0});
    EXPECT_TRUE(keeps.keeps && !keeps.reverses);
}

// The symmetry work a listing warrants: 0.25 s and 50 ns a byte, at most 2 s; spglib's time
// predicted from the ions and the rarest species.
TEST(operations, the_symmetry_budget) {
    EXPECT_EQ(bandcut::symmetry_budget::for_listing(0).seconds, 0.25);
    EXPECT_DOUBLE_EQ(bandcut::symmetry_budget::for_listing(8400000).seconds, 0.67);
    EXPECT_EQ(bandcut::symmetry_budget::for_listing(std::uint64_t{1} << 40).seconds, 2.0);
    EXPECT_DOUBLE_EQ(bandcut::symmetry_budget::predicted_seconds(4096, 2048), 2e-6 * 4096 * 2048);
    const bandcut::structure two_species{cubic, {{0, 0, 0}, {0.5, 0.5, 0.5}, {0.5, 0, 0}}, {1, 1, 2}};
    EXPECT_FALSE(bandcut::search_fault(two_species, {100, 6e-6}));  // 3 ions, 1 of the rarest: 6e-6 s
    const auto beyond = bandcut::search_fault(two_species, {100, 5.9e-6});
    EXPECT_EQ(beyond.why, bandcut::cause::search_too_long);
    EXPECT_EQ(beyond.n, (std::array<std::int64_t, 3>{3, 1, 100}));
    EXPECT_DOUBLE_EQ(beyond.value, 6e-6);
    EXPECT_EQ(beyond.limit, 5.9e-6);
}

}  // namespace
