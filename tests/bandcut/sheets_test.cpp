// The numbers of a Fermi surface against answers known exactly: the closed forms of one
// tetrahedron against sampling its linear interpolant; a free-electron sphere converging at
// second order in the grid step; a tight-binding band half filled by symmetry; a flat band
// at Ef; an insulator, whose implied level lies in its gap; the spin factor; a slab.
#include "cut_state.hpp"
#include "run_bandcut.hpp"
#include "sheets.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr double pi = 3.14159265358979323846;

// The closed forms against the fraction of points of the tetrahedron, drawn uniformly, at
// which the linear interpolant lies below the level; the density against the fraction's
// slope between two levels.
TEST(sheets, one_tetrahedron_against_its_interpolant) {
    const struct {
        std::array<double, 4> e;
        double level;
    } cases[] = {
        {{0, 1, 2, 3}, -0.5}, {{0, 1, 2, 3}, 0.5}, {{0, 1, 2, 3}, 1.5}, {{0, 1, 2, 3}, 2.5}, {{0, 1, 2, 3}, 3.5},
        {{3, 0, 2, 1}, 1.2},   // corners in any order
        {{0, 0, 2, 3}, 1.0},   // two equal lowest
        {{0, 1, 3, 3}, 2.0},   // two equal highest
        {{0, 2, 2, 3}, 2.5},   // two equal in the middle
        {{-0.3, 0.1, 0.4, 1.7}, 0.25},
    };
    std::mt19937_64 rng(7);
    std::exponential_distribution<double> draw(1.0);
    for (const auto& c : cases) {
        const auto share = bandcut::tetrahedron(c.e, c.level);
        constexpr int samples = 400000;
        const double h = 0.02;
        int below = 0, lower = 0, upper = 0;
        for (int i = 0; i < samples; ++i) {
            // Uniform in the simplex: normalised exponential weights of the corners.
            std::array<double, 4> w{draw(rng), draw(rng), draw(rng), draw(rng)};
            const double sum = w[0] + w[1] + w[2] + w[3];
            double e = 0;
            for (std::size_t k = 0; k < 4; ++k) e += w[k] / sum * c.e[k];
            below += e < c.level;
            lower += e < c.level - h;
            upper += e < c.level + h;
        }
        const std::string name = std::to_string(c.e[0]) + " " + std::to_string(c.e[1]) + " " + std::to_string(c.e[2]) + " " +
                                 std::to_string(c.e[3]) + " at " + std::to_string(c.level);
        EXPECT_NEAR(share.fraction, static_cast<double>(below) / samples, 3e-3) << name;
        const double slope = static_cast<double>(upper - lower) / samples / (2 * h);
        const auto up = bandcut::tetrahedron(c.e, c.level + h), down = bandcut::tetrahedron(c.e, c.level - h);
        EXPECT_NEAR((up.fraction - down.fraction) / (2 * h), slope, 0.03) << name;
        EXPECT_NEAR(share.density, (up.fraction - down.fraction) / (2 * h), 0.02) << name;  // the derivative's own
    }
    // Flat at the level: nothing lies below it (E < Ef), and no slope to count.
    const auto flat = bandcut::tetrahedron({1, 1, 1, 1}, 1.0);
    EXPECT_EQ(flat.fraction, 0.0);
    EXPECT_EQ(flat.density, 0.0);
    EXPECT_EQ(bandcut::tetrahedron({1, 1, 1, 1}, 1.0000001).fraction, 1.0);
}

// The cells' split: around the shortest main diagonal, the first of equal ones.
TEST(sheets, cells_split_around_the_shortest_diagonal) {
    using dvec3 = bandcut::dvec3;
    const struct {
        bandcut::grid g;
        std::array<dvec3, 3> b;
        int diagonal;
    } cases[] = {
        {{4, 4, 4}, {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}}, 0},              // a cube: all equal, the first
        {{4, 4, 4}, {{{1, 0, 0}, {-0.5, 0.866025404, 0}, {0, 0, 1}}}, 0},  // b1 + b2 short
        {{4, 4, 4}, {{{1, 0, 0}, {0.5, 0.866025404, 0}, {0, 0, 1}}}, 1},   // -b1 + b2 short
        {{4, 4, 4}, {{{1, 0, 0}, {0, 1, 0}, {0.5, 0, 0.8}}}, 1},           // -b1 + b2 + b3 and b1 + b2 - b3 alike: the first
        {{4, 4, 2}, {{{1, 0, 0}, {0, 1, 0}, {0, 0.4, 0.4}}}, 2},           // b1 - b2 + b3 and b1 + b2 - b3 alike: the first
        {{4, 4, 4}, {{{1, 0, 0}, {0, 1, 0}, {0.3, 0.3, 0.5}}}, 3},         // b1 + b2 - b3 alone
    };
    for (const auto& c : cases) {
        const int d = bandcut::split_diagonal(c.g, c.b);
        EXPECT_EQ(d, c.diagonal);
        // The six tetrahedra share the diagonal and fill the cell: each 1/6 of it.
        for (const auto& t : bandcut::cell_tetrahedra(d)) {
            EXPECT_EQ(t[0][0] + t[3][0], 1);
            EXPECT_EQ(t[0][1] + t[3][1], 1);
            EXPECT_EQ(t[0][2] + t[3][2], 1);
            std::array<std::array<int, 3>, 3> edge{};
            for (std::size_t k = 0; k < 3; ++k)
                for (std::size_t a = 0; a < 3; ++a) edge[k][a] = t[k + 1][a] - t[0][a];
            const int det = edge[0][0] * (edge[1][1] * edge[2][2] - edge[1][2] * edge[2][1]) -
                            edge[0][1] * (edge[1][0] * edge[2][2] - edge[1][2] * edge[2][0]) +
                            edge[0][2] * (edge[1][0] * edge[2][1] - edge[1][1] * edge[2][0]);
            EXPECT_EQ(std::abs(det), 1);
        }
    }
}

// A listing of a full mesh with `extra` lines after its dimension line (NELECT, flags).
bandcut::cut_state cut_of(int n1, int n2, int n3, const std::function<std::vector<double>(int, int, int)>& bands,
                           float ef, const std::string& extra = "", bool spin = false) {
    std::string text = bandcut_test::listing_text(bandcut_test::mesh(n1, n2, n3, 0.0, bands));
    text.insert(text.find('\n', text.find("NBANDS")) + 1, extra);
    if (spin) {  // the same bands again as spin component 2
        const auto blocks = text.substr(text.find("\n k-point ") + 1, text.rfind("-----") - 75 - text.find("\n k-point ") - 1);
        text.insert(text.rfind("-----") - 75, " spin component 2\n\n" + blocks);
    }
    std::FILE* in = fmemopen(text.data(), text.size(), "r");
    auto r = bandcut::run_cut(in, "OUTCAR", {n1, n2, n3}, ef);
    std::fclose(in);
    return r;
}

double cos2pi(double x) { return std::cos(2 * pi * x); }

TEST(sheets, known_answers) {
    // -(cos + cos + cos) on a 3 A cube: E(k + (1/2, 1/2, 1/2)) = -E(k), so half of the zone
    // lies below 0 on any even grid; the same on a slab (one point along b3).
    const auto tight = [](int n) {
        return [n](int i, int j, int k) { return std::vector<double>{-(cos2pi(1.0 * i / n) + cos2pi(1.0 * j / n) + cos2pi(1.0 * k / n))}; };
    };
    const auto slab = [](int i, int j, int) { return std::vector<double>{-(cos2pi(i / 8.0) + cos2pi(j / 8.0))}; };
    // An insulator: a full band from -3 to -1 and an empty one from 1 to 3.
    const auto insulator = [](int i, int j, int k) {
        const double s = (cos2pi(i / 4.0) + cos2pi(j / 4.0) + cos2pi(k / 4.0)) / 3;
        return std::vector<double>{-2 + s, 2 + s};
    };
    const std::string nelect2 = "   NELECT =       2.0000    total number of electrons\n";
    const struct {
        const char* name;
        bandcut::cut_state r;
        double ef;
        double electrons;  // below ef, per cell
        double factor;
        double level_of_nelect_lo, level_of_nelect_hi;  // where the implied level must lie (both 0: none asked)
    } cases[] = {
        {"half filling, 4^3", cut_of(4, 4, 4, tight(4), 0.0f), 0.0, 1.0, 2, 0, 0},
        {"half filling, 6^3", cut_of(6, 6, 6, tight(6), 0.0f), 0.0, 1.0, 2, 0, 0},
        {"half filling, a slab", cut_of(8, 8, 1, slab, 0.0f), 0.0, 1.0, 2, 0, 0},
        {"half filling, spin-polarised", cut_of(4, 4, 4, tight(4), 0.0f, "   ISPIN  =      2\n", true), 0.0, 1.0, 1, 0, 0},
        {"half filling, spin-orbit", cut_of(4, 4, 4, tight(4), 0.0f, "   LSORBIT =      T    spin-orbit coupling\n"), 0.0,
         0.5, 1, 0, 0},
        {"a flat band at Ef", cut_of(4, 4, 4, [](int, int, int) { return std::vector<double>{1.5}; }, 1.5f), 1.5, 0.0, 2, 0, 0},
        {"an insulator, its level in the gap", cut_of(4, 4, 4, insulator, 0.0f, nelect2), 0.0, 2.0, 2, -1, 1},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(c.r.ok) << c.name << ": " << c.r.said.back().text;
        EXPECT_FALSE(bandcut::sheets_fault(c.r)) << c.name;
        EXPECT_EQ(bandcut::spin_factor(c.r), c.factor) << c.name;
        const auto count = bandcut::electrons_below(c.r, c.ef);
        EXPECT_NEAR(count.electrons, c.electrons, 1e-12) << c.name;
        if (c.level_of_nelect_hi > c.level_of_nelect_lo) {
            ASSERT_TRUE(c.r.bands.mesh.nelect) << c.name;
            const auto level = bandcut::level_for(c.r, *c.r.bands.mesh.nelect);
            ASSERT_TRUE(level) << c.name;
            EXPECT_GT(*level, c.level_of_nelect_lo) << c.name;
            EXPECT_LT(*level, c.level_of_nelect_hi) << c.name;
            EXPECT_EQ(bandcut::electrons_below(c.r, *level).electrons, *c.r.bands.mesh.nelect) << c.name;
        }
        // Each sheet: electrons and holes make a full band; the level the grid implies for
        // the count at ef gives that count back.
        for (const auto& s : bandcut::sheets_at(c.r, c.ef)) {
            EXPECT_NEAR(s.electrons + s.holes, c.factor, 1e-12) << c.name;
            EXPECT_EQ(s.holes_carry, s.electrons >= c.factor / 2) << c.name;
        }
    }
    // A band that crosses: its electrons, holes and density of states from the sheet.
    const auto half = cut_of(6, 6, 6, tight(6), 0.0f);
    const auto sheets = bandcut::sheets_at(half, 0.0);
    ASSERT_EQ(sheets.size(), 1u);
    EXPECT_NEAR(sheets[0].electrons, 1.0, 1e-12);
    EXPECT_NEAR(sheets[0].carriers, 1.0 / 27e-24, 1e6);  // a 27 A^3 cell
    EXPECT_NEAR(sheets[0].dos, bandcut::electrons_below(half, 0.0).dos, 1e-12);
    const auto level = bandcut::level_for(half, 1.0);
    ASSERT_TRUE(level);
    EXPECT_NEAR(*level, 0.0, 1e-6);
    // No level holds fewer than none or more than the full bands' electrons.
    EXPECT_FALSE(bandcut::level_for(half, -0.5));
    EXPECT_FALSE(bandcut::level_for(half, 2.5));
    EXPECT_TRUE(bandcut::level_for(half, 2.0));
    // A flat band: its one energy is the level for any count it can hold.
    const auto flat = cut_of(2, 2, 2, [](int, int, int) { return std::vector<double>{1.5}; }, 1.5f);
    EXPECT_EQ(bandcut::level_for(flat, 1.0), std::optional<double>(1.5));
}

// The free-electron sphere, E = hbar^2 k^2 / 2m - 5 eV: the fraction of the zone below Ef
// converges to (4/3) pi kF^3 / V_zone at second order in the grid step.
TEST(sheets, a_free_electron_sphere_converges_at_second_order) {
    constexpr double hbar2_2m = 3.80998208;
    const double kf = std::sqrt((-3.5 + 5.0) / hbar2_2m);  // Ef = -3.5 eV: a sphere well inside the zone
    const double zone = std::pow(2 * pi / 3, 3);             // a 3 A cube, 2 pi included
    const double exact = 4.0 / 3 * pi * kf * kf * kf / zone;
    std::vector<double> error;
    for (const int n : {8, 16, 32}) {
        const auto r = cut_of(n, n, n, [n](int i, int j, int k) {
            const auto wrap = [n](int m) { return (m > n / 2 ? m - n : m) / static_cast<double>(n); };
            const double kx = 2 * pi * wrap(i) / 3, ky = 2 * pi * wrap(j) / 3, kz = 2 * pi * wrap(k) / 3;
            return std::vector<double>{hbar2_2m * (kx * kx + ky * ky + kz * kz) - 5};
        }, -3.5f);
        ASSERT_TRUE(r.ok);
        error.push_back(std::fabs(bandcut::electrons_below(r, -3.5).electrons / 2 - exact));
    }
    // Halving the step divides the error by about four.
    EXPECT_GT(error[0] / error[1], 2.8);
    EXPECT_LT(error[0] / error[1], 5.5);
    EXPECT_GT(error[1] / error[2], 2.8);
    EXPECT_LT(error[1] / error[2], 5.5);
    EXPECT_LT(error[2], 1e-2 * exact);
}

}  // namespace
