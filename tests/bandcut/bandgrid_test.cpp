#include "bandgrid.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

namespace {

using bandcut::grid;
using bandcut::listing;

// A listing of `nkpts` k-points whose band energies are given k-point by k-point.
listing make_listing(std::int32_t nkpts, std::int32_t nbands, const std::vector<float>& e, int nspin = 1) {
    listing l;
    l.nkpts = nkpts;
    l.nbands = nbands;
    l.nspin = nspin;
    const auto per_spin = static_cast<std::size_t>(nkpts) * static_cast<std::size_t>(nbands);
    for (int s = 0; s < nspin; ++s) {
        l.eband[static_cast<std::size_t>(s)].reset(new float[per_spin]);
        std::copy_n(e.begin() + static_cast<std::ptrdiff_t>(s * per_spin), per_spin, l.eband[static_cast<std::size_t>(s)].get());
    }
    l.reciprocal = {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
    return l;
}

TEST(selection, strict_crossing_in_single_precision) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        const char* name;
        std::vector<float> band;  // one band over four k-points
        float ef;
        bool selected;
    } cases[] = {
        {"crosses", {4.0f, 5.0f, 6.0f, 7.0f}, 5.5f, true},
        {"largest equals Ef", {4.0f, 5.0f, 5.5f, 5.0f}, 5.5f, false},
        {"smallest equals Ef", {5.5f, 6.0f, 7.0f, 6.5f}, 5.5f, false},
        {"just around Ef", {std::nextafter(5.5f, 0.0f), std::nextafter(5.5f, 9.0f), 5.5f, 5.5f}, 5.5f, true},
        {"wholly below", {1.0f, 2.0f, 3.0f, 4.0f}, 5.5f, false},
        {"not-a-number ignored", {4.0f, nan, 6.0f, nan}, 5.5f, true},
        // The search starts from +-10000 eV, so a band wholly above 10000 eV counts as
        // reaching down to 10000 eV: kept as the band-grid files have always had it.
        {"above the sentinel", {20000.0f, 30000.0f, 25000.0f, 21000.0f}, 15000.0f, true},
        {"infinite Ef", {4.0f, 5.0f, 6.0f, 7.0f}, std::numeric_limits<float>::infinity(), false},
    };
    for (const auto& c : cases) {
        const auto l = make_listing(4, 1, c.band);
        EXPECT_EQ(bandcut::select_bands(l, c.ef).size(), c.selected ? 1u : 0u) << c.name;
    }
}

TEST(selection, spin_components_continue_the_numbering) {
    // Two k-points, three bands, two spin components; bands 2 (spin 1) and 1, 3 (spin 2) cross 0.
    const auto l = make_listing(2, 3, {-5, -1, 2, -4, 1, 3, /* spin 2 */ -1, -3, -2, 1, -2, 4}, 2);
    EXPECT_EQ(bandcut::select_bands(l, 0.0f), (std::vector<std::int32_t>{1, 3, 5}));
}

TEST(grid, points_never_overflow) {
    const std::int32_t big = std::numeric_limits<std::int32_t>::max();
    EXPECT_EQ((grid{2, 3, 4}.points()), 24);
    EXPECT_EQ((grid{-2, 3, 4}.points()), 0);
    EXPECT_EQ((grid{2, 0, 4}.points()), 0);
    EXPECT_EQ((grid{big, big, big}.points()), std::numeric_limits<std::int64_t>::max());
}

std::string written(const listing& l, float ef, const grid& g, const std::vector<std::int32_t>& nstore,
                    const std::vector<std::int32_t>& kpoint_at = {}) {
    std::FILE* f = std::tmpfile();
    EXPECT_TRUE(bandcut::write_bandgrid(f, l, ef, g, nstore, kpoint_at));
    std::string text(static_cast<std::size_t>(std::ftell(f)), '\0');
    std::rewind(f);
    EXPECT_EQ(std::fread(text.data(), 1, text.size(), f), text.size());
    std::fclose(f);
    const auto start = text.find(" BAND:");
    return start == std::string::npos ? "" : text.substr(start, text.find("  END_BANDGRID_3D") - start);
}

TEST(writer, band_sections_follow_the_grid) {
    const auto l = make_listing(6, 2, {0, 10, 1, 11, 2, 12, 3, 13, 4, 14, 5, 15});
    const struct {
        const char* name;
        grid g;
        std::vector<std::int32_t> kpoint_at;
        const char* section;
    } cases[] = {
        {"1 x 2 x 3", {1, 2, 3}, {},
         " BAND: 2 \n  10.000000    11.000000    12.000000  \n  13.000000    14.000000    15.000000  \n\n"},
        {"3 x 1 x 2: a plane per ix", {3, 1, 2}, {},
         " BAND: 2 \n  10.000000    11.000000  \n\n  12.000000    13.000000  \n\n  14.000000    15.000000  \n\n"},
        {"fewer points than k-points", {1, 1, 2}, {}, " BAND: 2 \n  10.000000    11.000000  \n\n"},
        {"nkx = 0", {0, 2, 3}, {}, " BAND: 2 \n"},
        {"nkz = 0", {1, 1, 0}, {}, " BAND: 2 \n\n\n"},
        {"negative nky", {2, -1, 3}, {}, " BAND: 2 \n\n\n"},
        {"placed k-points", {1, 1, 3}, {5, 0, 2}, " BAND: 2 \n  15.000000    10.000000    12.000000  \n\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(written(l, 5.0f, c.g, {1}, c.kpoint_at), c.section) << c.name;
}

TEST(writer, head_of_the_file) {
    const auto l = make_listing(1, 1, {0});
    std::FILE* f = std::tmpfile();
    ASSERT_TRUE(bandcut::write_bandgrid(f, l, -0.5f, {-1, 2, 3}, {}, {}));
    std::string text(static_cast<std::size_t>(std::ftell(f)), '\0');
    std::rewind(f);
    ASSERT_EQ(std::fread(text.data(), 1, text.size(), f), text.size());
    std::fclose(f);
    EXPECT_EQ(text,
              "BEGIN_INFO\n  Fermi Energy: -0.50000\nEND_INFO\n\nBEGIN_BLOCK_BANDGRID_3D\n  one_word_comment \n"
              "  BEGIN_BANDGRID_3D\n  0 \n -1 2 3 \n 0 0 0\n 1.000000 0.000000 0.000000 \n 0.000000 1.000000 0.000000 \n"
              " 0.000000 0.000000 1.000000 \n  END_BANDGRID_3D\nEND_BLOCK_BANDGRID_3D\n");
}

TEST(writer, reports_a_failed_write) {
    const auto l = make_listing(1, 1, {0});
    std::FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    const std::vector<std::int32_t> nstore{0};
    EXPECT_FALSE(bandcut::write_bandgrid(full, l, 0.0f, {1, 1, 1}, nstore, {}));
    std::fclose(full);
}

}  // namespace
