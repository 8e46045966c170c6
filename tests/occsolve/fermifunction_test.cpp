#include <occsolve/fermifunction.hpp>
#include <occsolve/occsolve.h>
#include <occsolve/params.hpp>

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>

namespace {

using occsolve::fermifunction::dfermi;
using occsolve::fermifunction::fermi;
using occsolve::params::kB;

TEST(fermi, occupations_and_weights) {
    const double kT300 = kB * 300;
    const struct {
        const char* name;
        double energy, level, t;
        int nspin;
        double occupation, weight;
    } cases[] = {
        {"at the level", 5.0, 5.0, 300, 1, 1.0, 1 / (2 * kT300)},
        {"at the level, two channels", 5.0, 5.0, 300, 2, 0.5, 1 / (4 * kT300)},
        {"1 eV above at 100 K", 6.0, 5.0, 100, 1, 0.0, 0.0},
        {"1 eV below at 100 K", 4.0, 5.0, 100, 1, 2.0, 0.0},
        {"1 eV below, two channels", 4.0, 5.0, 100, 2, 1.0, 0.0},
        {"three channels: g is the float nearest 2/3", -10.0, 5.0, 300, 3, static_cast<double>(2.0f / 3.0f), 0.0},
        {"zero temperature above", 5.5, 5.0, 0, 1, 0.0, 0.0},
        {"zero temperature below", 4.5, 5.0, 0, 2, 1.0, 0.0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fermi(c.energy, c.level, c.t, c.nspin), c.occupation) << c.name;
        EXPECT_DOUBLE_EQ(dfermi(c.energy, c.level, c.t, c.nspin), c.weight) << c.name;
        // Through C, each argument in its place (the Fortran host checks its own).
        EXPECT_EQ(std::bit_cast<std::uint64_t>(occsolve_fermi(c.energy, c.level, c.t, c.nspin)),
                  std::bit_cast<std::uint64_t>(fermi(c.energy, c.level, c.t, c.nspin)))
            << c.name;
        EXPECT_EQ(std::bit_cast<std::uint64_t>(occsolve_dfermi(c.energy, c.level, c.t, c.nspin)),
                  std::bit_cast<std::uint64_t>(dfermi(c.energy, c.level, c.t, c.nspin)))
            << c.name;
    }
}

TEST(fermi, cut_offs_take_the_formula_at_exactly_40) {
    // x = (energy - level) / kT is exactly +-40 for these values.
    const double kT = kB * 1000;
    const double e40 = 40 * kT;
    ASSERT_EQ(e40 / kT, 40.0);
    EXPECT_EQ(fermi(e40, 0.0, 1000, 1), 2.0 / (std::exp(40.0) + 1.0));
    EXPECT_EQ(fermi(-e40, 0.0, 1000, 1), 2.0 / (std::exp(-40.0) + 1.0));
    EXPECT_GT(dfermi(e40, 0.0, 1000, 1), 0.0);
    EXPECT_EQ(fermi(40.0001 * kT, 0.0, 1000, 1), 0.0);
    EXPECT_EQ(fermi(-40.0001 * kT, 0.0, 1000, 1), 2.0);
    EXPECT_EQ(dfermi(-40.0001 * kT, 0.0, 1000, 1), 0.0);
}

TEST(fermi, zero_temperature_at_the_level_is_not_a_number) {
    EXPECT_TRUE(std::isnan(fermi(5.0, 5.0, 0, 1)));
    EXPECT_TRUE(std::isnan(dfermi(5.0, 5.0, 0, 1)));
}

// dfermi is the derivative of fermi with respect to the level.
TEST(fermi, weight_is_the_derivative) {
    for (double e : {4.9, 4.99, 5.0, 5.03, 5.1}) {
        const double h = 1e-6;
        const double slope = (fermi(e, 5.0 + h, 300, 1) - fermi(e, 5.0 - h, 300, 1)) / (2 * h);
        EXPECT_NEAR(dfermi(e, 5.0, 300, 1), slope, 1e-6 * std::fabs(slope) + 1e-9) << e;
    }
}

}  // namespace
