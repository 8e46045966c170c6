#include "account.hpp"
#include "bandgrid.hpp"
#include "selection.hpp"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <cstdio>
#include <limits>
#include <numeric>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using bandcut::grid;
using bandcut::listing;

// A listing of `nkpts` k-points whose band energies are given k-point by k-point.
// Grid entries written k, or k + nkpts where the spin components are swapped.
std::vector<bandcut::grid_entry> entries(const std::vector<std::int32_t>& written, std::int32_t nkpts) {
    std::vector<bandcut::grid_entry> out;
    for (const auto k : written) out.push_back({k % nkpts, k >= nkpts});
    return out;
}

listing make_listing(std::int32_t nkpts, std::int32_t nbands, const std::vector<float>& e, int nspin = 1) {
    listing l;
    l.nkpts = nkpts;
    l.nbands = nbands;
    l.nspin = nspin;
    const auto per_spin = static_cast<std::size_t>(nkpts) * static_cast<std::size_t>(nbands);
    for (int s = 0; s < nspin; ++s) {
        l.eband[static_cast<std::size_t>(s)] = bandcut::make_table<float>(per_spin);
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
    EXPECT_EQ(bandcut::select_bands(l, 0.0f), (std::vector<std::int64_t>{1, 3, 5}));
}

// The warning a run without a crossing band gives, with its newline; empty when none.
std::string no_crossing(const listing& l, float ef) {
    bandcut::account said;
    bandcut::explain_no_crossing(said, l, ef, bandcut::nearest_band_edges(l, ef));
    return said.empty() ? "" : said.front().text + "\n";
}

TEST(selection, no_crossing_says_where_the_bands_lie) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        const char* name;
        std::vector<float> e;  // two k-points of three bands
        float ef;
        const char* warning;
    } cases[] = {
        {"in a gap", {1, 5, 9, 2, 6, 8}, 4.4934f,
         "bandcut: warning: no band crosses Ef = 4.493400: the bands below end at 2.000000 (band 1), the bands above "
         "begin at 5.000000 (band 2)\n"},
        {"a band touching Ef lies with its other values", {1, 5, 4, 2, 6, 8}, 4.0f,
         "bandcut: warning: no band crosses Ef = 4.000000: the bands below end at 2.000000 (band 1), the bands above "
         "begin at 4.000000 (band 3)\n"},
        {"a band ending at Ef lies below", {1, 5, 9, 4, 6, 8}, 4.0f,
         "bandcut: warning: no band crosses Ef = 4.000000: the bands below end at 4.000000 (band 1), the bands above "
         "begin at 5.000000 (band 2)\n"},
        {"all above", {5, 6, 7, 5.5f, 6.5f, 7.5f}, 1.0f,
         "bandcut: warning: all bands lie above Ef = 1.000000: the lowest begins at 5.000000 (band 1)\n"},
        {"all below", {5, 6, 7, 5.5f, 6.5f, 7.5f}, 10.0f,
         "bandcut: warning: all bands lie below Ef = 10.000000: the highest ends at 7.500000 (band 3)\n"},
        {"a band of no numbers is on neither side", {nan, 6, 7, nan, 6.5f, 7.5f}, 10.0f,
         "bandcut: warning: all bands lie below Ef = 10.000000: the highest ends at 7.500000 (band 3)\n"},
        {"Ef not a number", {5, 6, 7, 5.5f, 6.5f, 7.5f}, nan, ""},
        {"every band at the nearest edge is named", {1, 3, 9, 3, 2, 9}, 4.0f,
         "bandcut: warning: no band crosses Ef = 4.000000: the bands below end at 3.000000 (bands 1 and 2), the bands "
         "above begin at 9.000000 (band 3)\n"},
        {"three at one edge", {3, 3, 3, 1, 2, 0}, 4.0f,
         "bandcut: warning: all bands lie below Ef = 4.000000: the highest ends at 3.000000 (bands 1, 2 and 3)\n"},
    };
    for (const auto& c : cases) {
        const auto l = make_listing(2, 3, c.e);
        ASSERT_TRUE(bandcut::select_bands(l, c.ef).empty()) << c.name;
        EXPECT_EQ(no_crossing(l, c.ef), c.warning) << c.name;
    }
    // The bands of the second spin component say so; no k-point, no line.
    const auto spin = make_listing(1, 2, {1, 2, 3, 7}, 2);
    EXPECT_EQ(no_crossing(spin, 5.0f),
              "bandcut: warning: no band crosses Ef = 5.000000: the bands below end at 3.000000 (band 1 of spin component "
              "2), the bands above begin at 7.000000 (band 2 of spin component 2)\n");
    const auto both = make_listing(1, 2, {1, 7, 1, 7}, 2);
    EXPECT_EQ(no_crossing(both, 5.0f),
              "bandcut: warning: no band crosses Ef = 5.000000: the bands below end at 1.000000 (band 1, and band 1 of spin "
              "component 2), the bands above begin at 7.000000 (band 2, and band 2 of spin component 2)\n");
    EXPECT_EQ(no_crossing(make_listing(0, 3, {}), 5.0f), "");
}

TEST(grid, points_never_overflow) {
    const std::int32_t big = std::numeric_limits<std::int32_t>::max();
    EXPECT_EQ((grid{2, 3, 4}.points()), 24);
    EXPECT_EQ((grid{-2, 3, 4}.points()), 0);
    EXPECT_EQ((grid{2, 0, 4}.points()), 0);
    EXPECT_EQ((grid{big, big, 2}.points()), std::int64_t{big} * big * 2);  // just below 2^63
    // nkx * nky exactly (2^63 - 1) / 3 rounded down: the product fits, 2^63 - 2.
    EXPECT_EQ((grid{1431655766, big, 3}.points()), std::int64_t{1431655766} * big * 3);
    EXPECT_EQ((grid{big, big, big}.points()), grid::too_many);
}

std::string written(const listing& l, float ef, const grid& g, const std::vector<std::int64_t>& nstore,
                    const std::vector<std::int32_t>& kpoint_at = {}, std::size_t block = std::size_t{1} << 20,
                    std::size_t gather = std::size_t{16} << 20) {
    std::FILE* f = std::tmpfile();
    const auto map = entries(kpoint_at, l.nkpts);
    EXPECT_TRUE(bandcut::write_bandgrid(f, l, ef, g, nstore, {map, false, l.nkpts}, {block, gather}));
    std::string text(static_cast<std::size_t>(std::ftell(f)), '\0');
    std::rewind(f);
    EXPECT_EQ(std::fread(text.data(), 1, text.size(), f), text.size());
    std::fclose(f);
    const auto start = text.find(" BAND:");
    return start == std::string::npos ? "" : text.substr(start, text.find("  END_BANDGRID_3D") - start);
}

// One row of a band section: "  v  " per value, then the newline.
std::string row(std::initializer_list<int> values) {
    std::string r;
    for (int v : values) r += "  " + std::to_string(v) + ".000000  ";
    return r + "\n";
}

TEST(writer, band_sections_are_closed_grids) {
    // Band 2 has the value 10 + k at the k-th listed k-point.
    const auto l = make_listing(6, 2, {0, 10, 1, 11, 2, 12, 3, 13, 4, 14, 5, 15});
    const auto twice = [](const std::string& plane) { return plane + plane; };
    const struct {
        const char* name;
        grid g;
        std::vector<std::int32_t> kpoint_at;
        std::string section;
    } cases[] = {
        // mesh point n = iy * 3 + iz; the last iz repeats the first, the last iy the first
        // row, and the plane ix = 1 repeats the plane ix = 0
        {"1 x 2 x 3", {1, 2, 3}, {},
         " BAND: 2 \n" + twice(row({10, 11, 12, 10}) + row({13, 14, 15, 13}) + row({10, 11, 12, 10}) + "\n")},
        {"3 x 1 x 2: a plane per ix", {3, 1, 2}, {},
         " BAND: 2 \n" + twice(row({10, 11, 10})) + "\n" + twice(row({12, 13, 12})) + "\n" + twice(row({14, 15, 14})) + "\n" +
             twice(row({10, 11, 10})) + "\n"},
        {"fewer points than k-points", {1, 1, 2}, {}, " BAND: 2 \n" + twice(twice(row({10, 11, 10})) + "\n")},
        {"a single point: 2 x 2 x 2 of it", {1, 1, 1}, {}, " BAND: 2 \n" + twice(twice(row({10, 10})) + "\n")},
        {"placed k-points", {1, 1, 3}, {5, 0, 2}, " BAND: 2 \n" + twice(twice(row({15, 10, 12, 15})) + "\n")},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(written(l, 5.0f, c.g, {1}, c.kpoint_at), c.section) << c.name;
        // Formatted a byte, seven bytes, or a few values at a time: the same file.
        for (const std::size_t block : {1, 7, 64})
            EXPECT_EQ(written(l, 5.0f, c.g, {1}, c.kpoint_at, block), c.section) << c.name << " " << block;
    }
}

// Bands of both spin components, gathered one, two or all at a time: the same sections,
// each value printf's "  %f  " of its band at its k-point, or, where the map takes a
// k-point with its spin components swapped (entries from NKPTS on), of the band of the
// same number in the other component.
TEST(writer, bands_gathered_in_groups_write_alike) {
    const grid g{2, 1, 3};
    const std::int32_t nkpts = 12, nbands = 5;
    std::vector<float> e(2 * nkpts * nbands);
    for (std::size_t i = 0; i < e.size(); ++i) e[i] = static_cast<float>((i * 7919) % 1000) / 8.0f;
    // The longest values "%f" prints, so that a block of 50, 51 or 52 bytes has no room,
    // just room, or room to spare for one.
    e[0] = -std::numeric_limits<float>::max();
    e[2 * nbands] = std::numeric_limits<float>::max();
    const auto l = make_listing(nkpts, nbands, e, 2);
    const std::vector<std::int64_t> nstore{0, 2, 3, 6, 9};
    const std::vector<std::int32_t> maps[] = {{}, {11, 3, 5, 0, 7, 1}, {11 + nkpts, 3, 5 + nkpts, 0, 7, 1 + nkpts}};
    for (const auto& kpoint_at : maps) {
        std::string expected;
        for (const auto band : nstore) {
            expected += " BAND: " + std::to_string(band + 1) + " \n";
            for (std::int32_t ix = 0; ix <= g.nkx; ++ix) {
                for (std::int32_t iy = 0; iy <= g.nky; ++iy) {
                    for (std::int32_t iz = 0; iz <= g.nkz; ++iz) {
                        const auto n = static_cast<std::size_t>(((ix % g.nkx) * g.nky + iy % g.nky) * g.nkz + iz % g.nkz);
                        const std::int64_t entry = kpoint_at.empty() ? static_cast<std::int64_t>(n) : kpoint_at[n];
                        const std::int64_t spin = (band / nbands + (entry >= nkpts)) % 2, k = entry % nkpts;
                        char v[64];
                        std::snprintf(v, sizeof v, "  %f  ",
                                      static_cast<double>(e[static_cast<std::size_t>((spin * nkpts + k) * nbands + band % nbands)]));
                        expected += v;
                    }
                    expected += "\n";
                }
                expected += "\n";
            }
        }
        const bool swaps = !kpoint_at.empty() && kpoint_at[0] >= nkpts;
        for (const std::size_t gather : {0u, 1u, 2u * 6 * 4, 12u * 4 * 2 + 3, 16u << 20, 50u, 51u, 52u}) {
            const std::size_t block = gather >= 50 && gather <= 52 ? gather : std::size_t{1} << 20;
            std::FILE* f = std::tmpfile();
            const auto map = entries(kpoint_at, nkpts);
            ASSERT_TRUE(bandcut::write_bandgrid(f, l, 5.0f, g, nstore, {map, swaps, nkpts}, {block, gather}));
            std::string text(static_cast<std::size_t>(std::ftell(f)), '\0');
            std::rewind(f);
            ASSERT_EQ(std::fread(text.data(), 1, text.size(), f), text.size());
            std::fclose(f);
            const auto start = text.find(" BAND:");
            EXPECT_EQ(text.substr(start, text.find("  END_BANDGRID_3D") - start), expected) << gather;
        }
    }
}

TEST(writer, head_of_the_file) {
    const auto l = make_listing(6, 1, {0, 0, 0, 0, 0, 0});
    std::FILE* f = std::tmpfile();
    ASSERT_TRUE(bandcut::write_bandgrid(f, l, -0.5f, {1, 2, 3}, {}, {}));
    std::string text(static_cast<std::size_t>(std::ftell(f)), '\0');
    std::rewind(f);
    ASSERT_EQ(std::fread(text.data(), 1, text.size(), f), text.size());
    std::fclose(f);
    EXPECT_EQ(text,
              "BEGIN_INFO\n  Fermi Energy: -0.50000\nEND_INFO\n\nBEGIN_BLOCK_BANDGRID_3D\n  one_word_comment \n"
              "  BEGIN_BANDGRID_3D\n  0 \n 2 3 4 \n 0 0 0\n 1.000000 0.000000 0.000000 \n 0.000000 1.000000 0.000000 \n"
              " 0.000000 0.000000 1.000000 \n  END_BANDGRID_3D\nEND_BLOCK_BANDGRID_3D\n");
}

// Random meshes, placed and in listing order: read back, every value of the closed grid
// is that of its mesh point, so the last plane along each axis repeats the first.
TEST(writer, random_closed_grids_repeat_their_first_planes) {
    std::mt19937 rng(31);
    int placed = 0, listed = 0;
    for (int trial = 0; trial < 300; ++trial) {
        const grid g{1 + static_cast<std::int32_t>(rng() % 5), 1 + static_cast<std::int32_t>(rng() % 5),
                     1 + static_cast<std::int32_t>(rng() % 5)};
        const auto points = static_cast<std::int32_t>(g.points());
        const std::int32_t nkpts = points + static_cast<std::int32_t>(rng() % 3);
        std::vector<float> e(static_cast<std::size_t>(nkpts));
        for (auto& x : e) x = static_cast<float>(rng() % 100000) / 64.0f;
        const auto l = make_listing(nkpts, 1, e);
        std::vector<std::int32_t> kpoint_at;
        if (rng() % 2) {
            std::vector<std::int32_t> k(static_cast<std::size_t>(nkpts));
            std::iota(k.begin(), k.end(), 0);
            std::shuffle(k.begin(), k.end(), rng);
            kpoint_at.assign(k.begin(), k.begin() + points);
            ++placed;
        } else {
            ++listed;
        }
        std::istringstream text(written(l, 0.0f, g, {0}, kpoint_at));
        std::string band_line;
        std::getline(text, band_line);
        const std::int64_t cx = g.nkx + 1, cy = g.nky + 1, cz = g.nkz + 1;
        std::vector<double> v(static_cast<std::size_t>(cx * cy * cz));
        for (auto& x : v) ASSERT_TRUE(text >> x);
        const auto at = [&](std::int64_t ix, std::int64_t iy, std::int64_t iz) {
            return v[static_cast<std::size_t>((ix * cy + iy) * cz + iz)];
        };
        for (std::int64_t ix = 0; ix < cx; ++ix)
            for (std::int64_t iy = 0; iy < cy; ++iy)
                for (std::int64_t iz = 0; iz < cz; ++iz) {
                    const std::int64_t n = ((ix % g.nkx) * g.nky + iy % g.nky) * g.nkz + iz % g.nkz;
                    const auto k = kpoint_at.empty() ? n : kpoint_at[static_cast<std::size_t>(n)];
                    ASSERT_EQ(at(ix, iy, iz), e[static_cast<std::size_t>(k)]) << ix << " " << iy << " " << iz;
                    if (ix == g.nkx) {
                        ASSERT_EQ(at(ix, iy, iz), at(0, iy, iz));
                    }
                    if (iy == g.nky) {
                        ASSERT_EQ(at(ix, iy, iz), at(ix, 0, iz));
                    }
                    if (iz == g.nkz) {
                        ASSERT_EQ(at(ix, iy, iz), at(ix, iy, 0));
                    }
                }
    }
    EXPECT_GT(placed, 100);
    EXPECT_GT(listed, 100);
}

// The writer's own check: an unbuffered stream on a full device fails at its first write,
// which only the writer sees (nothing is left for a final flush to report).
// Whatever the stream's buffering: a line-buffered stream takes a failed write whole and
// only sets its error flag, which the writer must read.
TEST(writer, reports_a_failed_write) {
    const auto l = make_listing(1, 1, {0});
    const std::vector<std::int64_t> nstore{0};
    for (const int mode : {_IONBF, _IOLBF, _IOFBF}) {
        std::FILE* full = std::fopen("/dev/full", "w");
        ASSERT_NE(full, nullptr);
        std::setvbuf(full, nullptr, mode, mode == _IONBF ? 0 : 64);
        EXPECT_FALSE(bandcut::write_bandgrid(full, l, 0.0f, {1, 1, 1}, nstore, {}, {16})) << mode;
        std::fclose(full);
    }
}

// After the first failed write nothing more is formatted or written: a huge grid on a
// full disk ends at once.  The grid's map of k-points ends in a page that cannot be
// read: a writer that went on past the row where the disk filled would fault there.
TEST(writer, stops_at_the_first_failed_write) {
    struct device {
        std::size_t room, writes_after_full = 0;
    } dev{4096};
    cookie_io_functions_t io{};
    io.write = [](void* cookie, const char*, std::size_t size) -> ssize_t {
        auto& d = *static_cast<device*>(cookie);
        if (d.room < size) {
            ++d.writes_after_full;
            return -1;
        }
        d.room -= size;
        return static_cast<ssize_t>(size);
    };
    std::FILE* f = fopencookie(&dev, "w", io);
    ASSERT_NE(f, nullptr);
    std::setvbuf(f, nullptr, _IONBF, 0);
    const long page = sysconf(_SC_PAGESIZE);
    auto* pages = static_cast<char*>(mmap(nullptr, static_cast<std::size_t>(2 * page), PROT_READ | PROT_WRITE,
                                          MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(pages, MAP_FAILED);
    std::memset(pages, 0, static_cast<std::size_t>(page));  // every grid point takes k-point 0
    ASSERT_EQ(mprotect(pages + page, static_cast<std::size_t>(page), PROT_NONE), 0);
    // A thousand values a row: the disk fills inside the first row, long before the
    // readable part of the map (page / 8 entries) is used up.
    const std::span<const bandcut::grid_entry> map(reinterpret_cast<const bandcut::grid_entry*>(pages), 1000000);
    const auto l = make_listing(1, 1, {1.5f});
    const std::vector<std::int64_t> nstore{0};
    EXPECT_FALSE(bandcut::write_bandgrid(f, l, 0.0f, {1000, 1000, 1}, nstore, {map, false, 1}, {64}));
    std::fclose(f);
    munmap(pages, static_cast<std::size_t>(2 * page));
    EXPECT_GE(dev.writes_after_full, 1u);
    EXPECT_LE(dev.writes_after_full, 2u);  // one fwrite: the C library may try its device twice
}

}  // namespace
