#include "sections.hpp"

#include <gtest/gtest.h>

#include <array>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace {

using bandcut::mesh_sections;

// Feeds the lines of `before` (before the dimension line) and `after` to a reader.
mesh_sections read(const std::string& before, const std::string& after = "") {
    bandcut::section_reader r;
    std::istringstream a(before), b(after);
    long number = 0;
    for (std::string line; std::getline(a, line);) r.see(line, ++number);
    r.see("   k-points           NKPTS =      4   k-points in BZ     NKDIM =      4   number of bands    NBANDS=      8",
          ++number);
    r.dimension_line_seen();
    for (std::string line; std::getline(b, line);) r.see(line, ++number);
    return r.sections();
}

const std::string table_5x =
    " KPOINTS: Automatic mesh                          \n"
    "\n"
    "Automatic generation of k-mesh.\n"
    "Space group operators:\n"
    " irot     det(A)      alpha        n_x        n_y        n_z      tau_x      tau_y      tau_z\n"
    "    1     1.000000     0.000000     1.000000     0.000000     0.000000     0.000000     0.000000     0.000000\n"
    "    2    -1.000000   179.999999     0.000000     1.000000     0.000000     0.250000     0.000000    -0.750000\n"
    " \n"
    " Subroutine IBZKPT returns following result:\n"
    " ===========================================\n"
    " \n"
    " Found      3 irreducible k-points:\n"
    " \n"
    " Following reciprocal coordinates:\n"
    "            Coordinates               Weight\n"
    "  0.000000  0.000000  0.000000      1.000000\n"
    "  0.250000  0.000000  0.000000      6.000000\n"
    " -0.416667  0.416667  0.416667     12.000000\n"
    " \n"
    " Following cartesian coordinates:\n"
    "            Coordinates               Weight\n"
    "  0.000000  0.000000  0.000000      1.000000\n"
    "  0.083333  0.000000  0.000000      6.000000\n"
    "  0.138889  0.138889  0.138889     12.000000\n"
    " \n"
    " TETIRR: Found   2119 inequivalent tetrahedra from    93750\n";

TEST(sections, a_mesh_run_with_its_operator_table) {
    const auto s = read("Analysis of symmetry for initial positions (statically):\n"
                        " Subroutine GETGRP returns: Found 48 space group operations\n"
                        " Subroutine INISYM returns: Found 24 space group operations\n"
                        " (whereof 12 operations are pure point group operations),\n" +
                        table_5x + " Subroutine GETGRP returns: Found  4 space group operations\n");
    EXPECT_EQ(s.operations_found, 24);  // the last before the k-point input
    EXPECT_FALSE(s.band_path);
    ASSERT_EQ(s.operators.size(), 2u);  // the narrow header spacing is matched by its words
    EXPECT_EQ(s.operators[1].det, -1.0);
    EXPECT_EQ(s.operators[1].alpha, 179.999999);
    EXPECT_EQ(s.operators[1].axis, (bandcut::dvec3{0, 1, 0}));
    EXPECT_EQ(s.operators[1].tau, (bandcut::dvec3{0.25, 0, -0.75}));
    EXPECT_EQ(s.malformed_operator_line, 0);
    ASSERT_EQ(s.irreducible.size(), 3u);  // the Cartesian twin is not taken
    EXPECT_EQ(s.irreducible[2].c, (bandcut::dvec3{-0.416667, 0.416667, 0.416667}));
    EXPECT_EQ(s.irreducible[2].weight, 12.0);
}

// A row that is not nine numbers is a damaged table: its line is kept, the rows after it
// are not read as a table.
TEST(sections, a_damaged_operator_row_is_named) {
    const struct {
        const char* row;
        long line;  // 0: a sound table
    } cases[] = {
        {"    2     1.000000    90.000000     0.000000     0.000000     1.000000     0.000000     0.000000     0.000000", 0},
        {"    2     1.000000    90.000000     0.000000     0.000000     1.000000     0.000000     0.000000", 7},
        {"    2     1.000000    nine     0.000000     0.000000     1.000000     0.000000     0.000000     0.000000", 7},
        {"    2     1.000000    90.000000     0.000000     0.000000     1.000000     0.000000     0.000000     0.0  x", 7},
    };
    for (const auto& c : cases) {
        const auto s = read(std::string(" KPOINTS: Automatic mesh\n\nAutomatic generation of k-mesh.\nSpace group operators:\n") +
                            " irot  det(A)  alpha  n_x  n_y  n_z  tau_x  tau_y  tau_z\n"
                            "    1     1.000000     0.000000     1.000000     0.000000     0.000000     0.000000     0.000000"
                            "     0.000000\n" + c.row + "\n \n");
        EXPECT_EQ(s.malformed_operator_line, c.line) << c.row;
        EXPECT_EQ(s.operators.size(), c.line ? 1u : 2u) << c.row;
    }
}

TEST(sections, mesh_lines_of_newer_listings) {
    const auto s = read(" KPOINTS: Automatic kpoint scheme                 \n"
                        "\n"
                        "Automatic generation of k-mesh.\n"
                        " Grid dimensions read from file:\n"
                        " generate k-points for:    6    6    4\n"
                        "\n"
                        " Generating k-lattice:\n"
                        "\n"
                        "  Cartesian coordinates                     Fractional coordinates (reciprocal lattice)\n"
                        "     0.067861021 -0.039179579  0.000000000     0.166666667  0.000000000  0.000000000\n"
                        "     0.067861021  0.039179579  0.000000000     0.000000000  0.166666667  0.000000000\n"
                        "     0.000000000  0.000000000  0.033333333     0.000000000  0.000000000  0.250000000\n"
                        "\n"
                        "  Length of vectors\n"
                        "     0.078359157  0.078359157  0.033333333\n"
                        "\n"
                        "  Shift w.r.t. Gamma in fractional coordinates (k-lattice)\n"
                        "     0.500000000  0.500000000  0.000000000\n");
    EXPECT_EQ(s.mesh, (std::array<std::int64_t, 3>{6, 6, 4}));
    EXPECT_FALSE(s.mesh_general);
    EXPECT_EQ(s.mesh_shift, (bandcut::dvec3{0.5, 0.5, 0}));
    const auto general = read(" Generating k-lattice:\n\n  header coordinates\n"
                              "     0.1 0.0 0.0     0.166666667  0.166666667  0.000000000\n"
                              "     0.0 0.1 0.0     0.000000000  0.166666667  0.000000000\n"
                              "     0.0 0.0 0.1     0.000000000  0.000000000  0.250000000\n");
    EXPECT_TRUE(general.mesh_general);
}

TEST(sections, band_paths_by_their_mode_lines) {
    for (const char* mode : {"  interpolating k-points between supplied coordinates\n  k-points in reciprocal lattice\n",
                             "\nInterpolating k-points between supplied coordinates.\n"}) {
        const auto s = read(std::string(" KPOINTS: Monkhorst-Pack\n") + mode +
                            " Following reciprocal coordinates:\n"
                            "            Coordinates               Weight\n"
                            "  0.000000  0.000000  0.000000      0.005000\n");
        EXPECT_TRUE(s.band_path) << mode;
        EXPECT_TRUE(s.irreducible.empty()) << "a path's list is no irreducible list";
    }
    EXPECT_FALSE(read(" KPOINTS: Automatically generated mesh\n  k-points in reciprocal lattice\n").band_path);
}

TEST(sections, full_zone_lists_in_both_forms) {
    const auto s = read(" Subroutine IBZKPT_HF returns following result:\n"
                        " ==============================================\n"
                        " \n"
                        " Found    276 k-points in 1st BZ\n"
                        " the following    276 k-points will be used (e.g. in the exchange kernel)\n"
                        " Following reciprocal coordinates:   # in IRBZ\n"
                        "  0.000000  0.000000  0.000000    0.00462963   1 t-inv F\n"
                        "  0.500000  0.500000  0.500000    0.00000000  17 t-inv F\n"
                        " -0.500000 -0.333333 -0.833333    0.00462963  16 t-inv F\n"
                        "  1.000000  0.000000  0.000000    1.00000000   2 t-inv F\n"
                        "  0.000000 -0.250000  0.000000    0.01562500   2 t-inv F spinflp\n"
                        "  0.000000 -0.250000  0.000000    0.01562500   2 t-inv F spinflip\n"
                        "\n");
    ASSERT_EQ(s.zone.size(), 5u);  // an unknown last token ends the list
    EXPECT_FALSE(s.zone[3].spin_flip);
    EXPECT_TRUE(s.zone[4].spin_flip);
    EXPECT_EQ(s.zone[4].index, 2);
    EXPECT_EQ(s.zone[1].weight, 0.0);
    EXPECT_EQ(s.zone[1].index, 17);
    EXPECT_EQ(s.zone[2].c[2], -0.833333);
    EXPECT_EQ(s.zone[3].weight, 1.0);  // a weight that looks like an index
    EXPECT_EQ(s.zone[3].index, 2);
    const auto older = read(" Subroutine IBZKPT_HF returns following result:\n"
                            " Following reciprocal coordinates:   # in IRBZ\n"
                            "  0.000000  0.000000  0.000000       1 t-inv F\n"
                            "  0.500000  0.000000  0.000000       2 t-inv F\n");
    ASSERT_EQ(older.zone.size(), 2u);
    EXPECT_EQ(older.zone[1].index, 2);
    EXPECT_EQ(older.zone[1].weight, 1.0);
}

TEST(sections, moments_of_the_input_echo) {
    using runs = std::vector<std::pair<std::int64_t, double>>;
    constexpr std::int64_t most = std::numeric_limits<std::int64_t>::max();
    const struct {
        const char* line;
        bool given, readable;
        runs moments;
        std::int64_t count;
        std::array<long, 2> lines = {3, 0};  // the tag line, and one that disagrees
    } cases[] = {
        {"   MAGMOM = 4*3.0 4*-3.0", true, true, {{4, 3}, {4, -3}}, 8},
        {"   MAGMOM = 1.5 -0.5 2*0", true, true, {{1, 1.5}, {1, -0.5}, {2, 0}}, 4},
        {"   MAGMOM = 2*1 ! ferromagnetic", true, true, {{2, 1}}, 2},
        {"   MAGMOM = 2*1# AFM", true, true, {{2, 1}}, 2},  // a comment touching the values
        {"   MAGMOM = 1.5d0 2*-0.5D0", true, true, {{1, 1.5}, {2, -0.5}}, 3},  // Fortran's exponent letter
        {"   MAGMOM = 2*x", true, false, {}, 0},
        {"   MAGMOM = -2*1", true, false, {}, 0},
        {"   MAGMOM = 2*1\n   MAGMOM = 2*1", true, true, {{2, 1}}, 2},  // again, the same
        {"   MAGMOM = 2*1\n   ENCUT = 400\n   MAGMOM = 3*-1", true, true, {{2, 1}}, 2, {3, 5}},  // otherwise
        {"   MAGMOM = 99999999999*1", true, true, {{99999999999, 1}}, 99999999999},  // counted, not expanded
        {"   MAGMOM = 9223372036854775807*1 2*1", true, true, {{most, 1}, {2, 1}}, most},
        // Only the tag's own line: not a title, not another tag's value or comment.
        {" MnO2 rutile FM MAGMOM=1 1 4*0", false, false, {}, 0, {0, 0}},
        {"   SYSTEM = 1 -1 4*0 ! MAGMOM trial", false, false, {}, 0, {0, 0}},
        {"   MAGMOMENTS = 2*1", false, false, {}, 0, {0, 0}},
    };
    for (const auto& c : cases) {
        const auto s = read(std::string(" INCAR:\n   ISPIN = 2\n") + c.line + "\n");
        EXPECT_EQ(s.magmom_given, c.given) << c.line;
        EXPECT_EQ(s.magmom_readable, c.readable) << c.line;
        EXPECT_EQ(s.magmom_lines, c.lines) << c.line;
        if (c.readable) {
            EXPECT_EQ(s.magmom, c.moments) << c.line;
            EXPECT_EQ(s.magmom_count, c.count) << c.line;
        }
    }
    // Many-body runs say so in their ALGO.
    for (const auto& [line, algo] : std::vector<std::pair<std::string, std::string>>{
             {"   ALGO = GW0", "GW0"}, {"   ALGO = evgw", "evgw"}, {"   ALGO = Normal", ""}, {" ALGO = ACFDT ! RPA", "ACFDT"}}) {
        const auto s = read(" INCAR:\n" + line + "\n");
        EXPECT_EQ(s.many_body, algo) << line;
        EXPECT_EQ(s.many_body_line, algo.empty() ? 0 : 2) << line;
    }
    // The warning box that names the tag gives no moments, but says what they were.
    const auto box = read("|     the initial magnetic moment with the MAGMOM tag. Note that a            |\n"
                          "|     default of 1 will be used for all atoms. This ferromagnetic setup       |\n");
    EXPECT_FALSE(box.magmom_given);
    EXPECT_TRUE(box.default_moments);
}

TEST(sections, the_run_after_its_dimension_line) {
    const auto s = read(" INCAR:\n   ISPIN = 1\n   LSORBIT = .TRUE.\n"
                        "  direct lattice vectors                    reciprocal lattice vectors\n"
                        "     3.003358414 -3.003358414  0.000000000     0.166480297 -0.166480297 -0.166480297\n",
                        "   number of dos      NEDOS =    301   number of ions     NIONS =      3\n"
                        "   ions per type =               2   1\n"
                        " Startparameter for this run:\n"
                        "   ISPIN  =      2    spin polarized calculation?\n"
                        "   LNONCOLLINEAR =      F non collinear calculations\n"
                        "   LSORBIT =      T    spin-orbit coupling\n"
                        "      direct lattice vectors                 reciprocal lattice vectors\n"
                        "     4.192000000  0.000000000  0.000000000     0.238549618  0.000000000  0.000000000\n"
                        "     0.000000000  4.192000000  0.000000000     0.000000000  0.238549618  0.000000000\n"
                        "     0.000000000  0.000000000  4.192000000     0.000000000  0.000000000  0.238549618\n"
                        "\n"
                        " k-points in units of 2pi/SCALE and weight: Automatic generation\n"
                        "   0.00892048  0.00000000  0.00000000       0.001\n"
                        " \n"
                        " k-points in reciprocal lattice and weights: Automatic generation\n"
                        "   0.00000000  0.00000000  0.00000000       0.000\n"
                        "   0.06666667  0.00000000  0.00000000       0.001\n"
                        " \n"
                        " position of ions in fractional coordinates (direct lattice) \n"
                        "   0.00000000  0.00000000  0.00000000\n"
                        "   0.50000000  0.50000000  0.50000000\n"
                        "   0.25000000  0.25000000  0.25000000\n"
                        " \n"
                        " position of ions in cartesian coordinates  (Angst):\n"
                        "   0.00000000  0.00000000  0.00000000\n");
    EXPECT_EQ(s.nions, 3);
    EXPECT_EQ(s.ions_per_type, (std::vector<std::int64_t>{2, 1}));
    EXPECT_EQ(s.ispin, 2);  // the run's own, not the input echo's
    EXPECT_FALSE(s.noncollinear);
    EXPECT_TRUE(s.spin_orbit);
    ASSERT_EQ(s.kpoints.size(), 2u);  // not the Cartesian list
    EXPECT_EQ(s.kpoints[1].c[0], 0.06666667);
    ASSERT_EQ(s.positions.size(), 3u);  // not the Cartesian positions
    EXPECT_EQ(s.positions[2][1], 0.25);
}

// Counts of 1000 and more fill their four columns and touch the count before them: read
// by column where the counts read by blanks do not add up to NIONS.
TEST(sections, ion_counts_that_touch_are_split_by_column) {
    const struct {
        const char* line;
        int nions;
        std::vector<std::int64_t> counts;
    } cases[] = {
        {"   ions per type =               4   4", 8, {4, 4}},
        {"   ions per type =            10001000", 2000, {1000, 1000}},
        {"   ions per type =            1000   1100010001000", 4001, {1000, 1, 1000, 1000, 1000}},
        {"   ions per type =               1   11000", 1002, {1, 1, 1000}},
        {"   ions per type =           12345   4", 12349, {12345, 4}},   // a wide first field: its own
        {"   ions per type =           10000   4", 10004, {10000, 4}},   // no field begins with 0
        {"   ions per type =            10001000", 10001000, {10001000}},  // NIONS says it is one count
        {"   ions per type =            10001000   ", 2000, {1000, 1000}},  // trailing blanks
        {"   ions per type =            1000100x", 2000, {}},  // not a count
        {"   ions per type =               010001000", 2000, {0, 1000, 1000}},  // a species of none touches too
    };
    for (const auto& c : cases) {
        const auto s = read("", "   number of ions     NIONS = " + std::to_string(c.nions) + "\n" + c.line + "\n");
        EXPECT_EQ(s.ions_per_type, c.counts) << c.line;
    }
}

}  // namespace

namespace {

// The first table of moments after the band energies: the last column of each ion's row.
TEST(sections, moments_the_run_printed) {
    const std::string head = " magnetization (x)\n \n# of ion       s       p       d       tot\n"
                             "------------------------------------------\n";
    const struct {
        const char* name;
        std::string table;
        bool read;
        std::vector<double> moments;
    } cases[] = {
        {"s p d tot", head + "    1       -0.002  -0.030   0.000  -0.031\n    2        0.020   0.053   3.667   3.740\n"
                             "--------------------------------------------------\ntot   0.0 0.0 0.0 3.7\n",
         true, {-0.031, 3.74}},
        {"s p d f tot", head + "    1  0.1 0.1 0.1 0.1 -2.5\n---------\n", true, {-2.5}},
        {"a row out of order", head + "    2  0.1 0.1 0.1 -2.5\n---------\n", false, {}},
        {"cut short", head + "    1  0.1 0.1 0.1 -2.5\n", false, {}},
    };
    for (const auto& c : cases) {
        bandcut::mesh_sections m;
        bandcut::magnetization_reader r(m);
        std::istringstream lines("text before it\n" + c.table + " magnetization (x)\n" + head + "    1 9 9 9 9\n---\n");
        for (std::string line; std::getline(lines, line);) r.see(line);
        EXPECT_EQ(m.magnetization_read, c.read) << c.name;
        EXPECT_EQ(m.magnetization, c.moments) << c.name;
        EXPECT_TRUE(r.done() || !c.read) << c.name;
    }
}

}  // namespace
