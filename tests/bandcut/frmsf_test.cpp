// The second viewer's file from analytic bands: a free-electron band E = hbar^2 k^2 / 2m - E0
// listed over Gamma-centred, half-shifted and Monkhorst-Pack meshes.  Each value must lie
// where the kind the file names puts it (k recomputed from the kind's formula), and the
// Fermi speed must be hbar k / m within the bound that the four printed decimals leave
// (central differences are exact for a band quadratic along each axis).
#include "cut_state.hpp"
#include "frmsf.hpp"
#include "run_bandcut.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double hbar2_2m = 3.80998208;  // hbar^2 / 2 m_e, eV A^2
constexpr double e0 = 5.0;

using vec = std::array<double, 3>;

double wrap(double x) { return x - std::round(x); }  // into [-1/2, 1/2]

// The lattice block of a listing, and its reciprocal vectors as printed (9 decimals).
struct lattice {
    std::array<vec, 3> a;
    std::array<vec, 3> b{};
    std::string text;
    explicit lattice(const std::array<vec, 3>& direct) : a(direct) {
        const double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                           a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
        for (std::size_t i = 0; i < 3; ++i)
            for (std::size_t j = 0; j < 3; ++j) {
                const auto& u = a[(i + 1) % 3];
                const auto& v = a[(i + 2) % 3];
                const vec cross{u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
                char x[32];
                std::snprintf(x, sizeof x, "%.9f", cross[j] / det);
                b[i][j] = std::stod(x);
            }
        for (std::size_t i = 0; i < 3; ++i) {
            char row[160];
            std::snprintf(row, sizeof row, "   %13.9f%13.9f%13.9f   %13.9f%13.9f%13.9f\n", a[i][0], a[i][1], a[i][2], b[i][0],
                          b[i][1], b[i][2]);
            text += row;
        }
    }
    // k in 1/A, 2 pi included, of the point x (units of b).
    vec k(const vec& x) const {
        vec k{};
        for (std::size_t c = 0; c < 3; ++c)
            for (std::size_t i = 0; i < 3; ++i) k[c] += 2 * pi * x[i] * b[i][c];
        return k;
    }
    double energy(const vec& x) const {
        const auto kk = k({wrap(x[0]), wrap(x[1]), wrap(x[2])});
        return hbar2_2m * (kk[0] * kk[0] + kk[1] * kk[1] + kk[2] * kk[2]) - e0;
    }
};

struct frmsf_file {
    std::array<long, 3> n{};
    int kind = -1;
    long bands = 0;
    std::vector<double> values;  // the energies, then the speeds
};

frmsf_file parse(const std::string& text) {
    std::istringstream in(text);
    frmsf_file f;
    in >> f.n[0] >> f.n[1] >> f.n[2] >> f.kind >> f.bands;
    double x = 0;
    for (int i = 0; i < 9; ++i) in >> x;
    while (in >> x) f.values.push_back(x);
    return f;
}

// The kind's x_i (i from 0) along an axis of n points.
double kind_x(int kind, int i, int n) {
    if (kind == 0) return (2.0 * (i + 1) - 1 - n) / (2.0 * n);
    if (kind == 2) return (2.0 * (i + 1) - 1) / (2.0 * n);
    return static_cast<double>(i) / n;
}

TEST(frmsf, free_electron_bands_in_place_with_their_fermi_speed) {
    const lattice cubic({vec{3, 0, 0}, vec{0, 3, 0}, vec{0, 0, 3}});
    const lattice hexagonal({vec{3, 0, 0}, vec{-1.5, 2.598076211, 0}, vec{0, 0, 5}});
    const struct {
        const char* name;
        const lattice& cell;
        std::array<int, 3> n;
        vec shift;
        int kind;
        bool in_place;
        bool spin = false;  // a second spin component 0.5 eV higher
    } cases[] = {
        {"Gamma-centred, even", cubic, {4, 4, 4}, {0, 0, 0}, 1, true},
        {"Gamma-centred, odd", cubic, {5, 5, 5}, {0, 0, 0}, 1, true},
        {"half-shifted, even", cubic, {6, 6, 6}, {0.5, 0.5, 0.5}, 2, true},
        {"half-shifted, odd", cubic, {5, 5, 5}, {0.5, 0.5, 0.5}, 2, true},
        {"Monkhorst-Pack, mixed", cubic, {6, 5, 4}, {0.5, 0, 0.5}, 0, true},
        {"Monkhorst-Pack, hexagonal", hexagonal, {6, 6, 3}, {0.5, 0.5, 0}, 0, true},
        {"Gamma-centred, hexagonal", hexagonal, {6, 6, 4}, {0, 0, 0}, 1, true},
        {"spin-polarised, half-shifted", cubic, {4, 4, 4}, {0.5, 0.5, 0.5}, 2, true, true},
        // An even axis unshifted beside a shifted one: no kind says so; kind 1, warned.
        {"a shift no kind expresses", cubic, {4, 4, 4}, {0.5, 0, 0.5}, 1, false},
    };
    const float ef = -2.0f;
    for (const auto& c : cases) {
        const auto band = [&](int i1, int i2, int i3) {
            const vec x{(i1 + c.shift[0]) / c.n[0], (i2 + c.shift[1]) / c.n[1], (i3 + c.shift[2]) / c.n[2]};
            return std::vector<double>{c.cell.energy(x), c.cell.energy(x) + 100};
        };
        std::string text = bandcut_test::listing_text(bandcut_test::mesh(c.n[0], c.n[1], c.n[2], c.shift, band), 1,
                                                      c.cell.text);
        if (c.spin) {
            const auto up = bandcut_test::listing_text(bandcut_test::mesh(c.n[0], c.n[1], c.n[2], c.shift, [&](int i, int j, int k) {
                auto e = band(i, j, k);
                for (auto& x : e) x += 0.5;
                return e;
            }), 1, c.cell.text);
            text = text.substr(0, text.rfind("-----") - 75) + " spin component 2\n\n" + up.substr(up.find("\n k-point ") + 1);
        }
        std::FILE* in = fmemopen(text.data(), text.size(), "r");
        const auto r = bandcut::run_cut(in, "OUTCAR", {c.n[0], c.n[1], c.n[2]}, ef);
        std::fclose(in);
        ASSERT_TRUE(r.ok) << c.name << ": " << r.said.back().text;
        ASSERT_EQ(r.selected.size(), c.spin ? 2u : 1u) << c.name;
        char* buffer = nullptr;
        std::size_t size = 0;
        std::FILE* out = open_memstream(&buffer, &size);
        ASSERT_TRUE(bandcut::write_frmsf(out, r.bands, r.ef, r.g, r.selected, r.values(), r.shift)) << c.name;
        std::fclose(out);
        const std::string whole(buffer, size);
        std::free(buffer);
        // The same bytes a band at a time through blocks of 64 bytes; a full disk is reported.
        out = open_memstream(&buffer, &size);
        ASSERT_TRUE(bandcut::write_frmsf(out, r.bands, r.ef, r.g, r.selected, r.values(), r.shift, {64, 1}));
        std::fclose(out);
        EXPECT_EQ(std::string(buffer, size), whole) << c.name;
        std::free(buffer);
        std::FILE* full = std::fopen("/dev/full", "w");
        ASSERT_TRUE(full);
        EXPECT_FALSE(bandcut::write_frmsf(full, r.bands, r.ef, r.g, r.selected, r.values(), r.shift, {64, 1})) << c.name;
        std::fclose(full);
        const auto f = parse(whole);
        const long points = static_cast<long>(c.n[0]) * c.n[1] * c.n[2];
        EXPECT_EQ(f.n, (std::array<long, 3>{c.n[0], c.n[1], c.n[2]})) << c.name;
        EXPECT_EQ(f.kind, c.kind) << c.name;
        EXPECT_EQ(bandcut::frmsf_kind(r.g, r.shift).in_place, c.in_place) << c.name;
        ASSERT_EQ(f.values.size(), static_cast<std::size_t>(2 * f.bands * points)) << c.name;
        // Every value at the point its kind names (or, where no kind can, at the grid's own
        // points in the kind's order); each speed hbar k / m where the differences stay
        // inside the zone.
        const double rounding = 5e-5 + 2e-6;  // four printed decimals, and single precision
        double bound = 0;
        for (std::size_t a = 0; a < 3; ++a) {
            double along = 0;
            for (std::size_t i = 0; i < 3; ++i) along += c.cell.a[a][i] * c.cell.a[a][i];
            bound += c.n[a] * rounding * std::sqrt(along) / (2 * pi);
        }
        bound = bound / bandcut::hbar_ev_s * 1e-10 / 1e5 + 1e-5;
        for (long s = 0; s < f.bands; ++s) {
            long v = 0;
            for (int i = 0; i < c.n[0]; ++i)
                for (int j = 0; j < c.n[1]; ++j)
                    for (int l = 0; l < c.n[2]; ++l, ++v) {
                        vec x{kind_x(f.kind, i, c.n[0]), kind_x(f.kind, j, c.n[1]), kind_x(f.kind, l, c.n[2])};
                        if (!c.in_place)
                            x = {(i + c.shift[0]) / c.n[0], (j + c.shift[1]) / c.n[1], (l + c.shift[2]) / c.n[2]};
                        const double expected = c.cell.energy(x) + (s == 1 ? 0.5 : 0.0) - ef;
                        EXPECT_NEAR(f.values[static_cast<std::size_t>(s * points + v)], expected, 1e-4)
                            << c.name << " band " << s << " value " << i << " " << j << " " << l;
                        bool inside = true;
                        for (std::size_t a = 0; a < 3; ++a)
                            inside = inside && std::fabs(wrap(x[a])) < 0.5 - 1.0 / c.n[a] - 1e-9;
                        if (!inside) continue;
                        const auto k = c.cell.k({wrap(x[0]), wrap(x[1]), wrap(x[2])});
                        const double speed = 2 * hbar2_2m * std::sqrt(k[0] * k[0] + k[1] * k[1] + k[2] * k[2]) /
                                             bandcut::hbar_ev_s * 1e-10 / 1e5;
                        EXPECT_NEAR(f.values[static_cast<std::size_t>((f.bands + s) * points + v)], speed, bound)
                            << c.name << " band " << s << " speed " << i << " " << j << " " << l;
                    }
        }
    }
}

}  // namespace
