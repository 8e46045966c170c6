// Fermi contours against shapes known exactly: free-electron circles on square and
// hexagonal lattices (every vertex within the interpolation error of kF), a pocket at the
// hexagonal zone's corner, lines that cross the zone, a 3D mesh cut at its centre, shifted
// meshes; the zone of the plane against the Wigner-Seitz property; the picture's parts.
#include "contours.hpp"
#include "run_bandcut.hpp"
#include "svg.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double hbar2_2m = 3.80998208;  // eV A^2
using bandcut::point2;
using rows = std::array<std::array<double, 3>, 3>;

// The lattice block of a listing: direct vectors (rows, A) and the reciprocal ones.
std::string lattice_text(const rows& a, rows& b) {
    const double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                       a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    for (std::size_t i = 0; i < 3; ++i)  // b_i = a_j x a_k / det
        for (std::size_t c = 0; c < 3; ++c) {
            const auto &u = a[(i + 1) % 3], &v = a[(i + 2) % 3];
            b[i][c] = (u[(c + 1) % 3] * v[(c + 2) % 3] - u[(c + 2) % 3] * v[(c + 1) % 3]) / det;
        }
    std::string text;
    char line[120];
    for (std::size_t i = 0; i < 3; ++i) {
        std::snprintf(line, sizeof line, "%16.9f%13.9f%13.9f%16.9f%13.9f%13.9f\n", a[i][0], a[i][1], a[i][2], b[i][0], b[i][1],
                      b[i][2]);
        text += line;
    }
    return text;
}

const rows square{{{3, 0, 0}, {0, 3, 0}, {0, 0, 20}}};
const rows cube{{{3, 0, 0}, {0, 3, 0}, {0, 0, 3}}};
// a1 and a2 at 120 degrees, b1 along x: the listing's Cartesian frame is the plane's.
const rows hexagonal{{{1.5 * std::sqrt(3.0), -1.5, 0}, {0, 3, 0}, {0, 0, 20}}};

// A band over the mesh from its Cartesian energy E(k) (k in 1/A, 2 pi included), taken at
// the image of k nearest the zone centre's images, so that it is periodic.
struct model {
    const rows& a;
    std::array<int, 3> n;
    std::array<double, 3> shift;
    std::function<double(const point2&, double)> energy;  // (kx, ky), kz
    float ef;
};

bandcut::cut_state cut_of(const model& m) {
    rows b{};
    const std::string lattice = lattice_text(m.a, b);
    const auto bands = [&](int i, int j, int k) {
        const std::array<double, 3> x{(i + m.shift[0]) / m.n[0], (j + m.shift[1]) / m.n[1], (k + m.shift[2]) / m.n[2]};
        double best = 1e300;
        for (int p = -2; p <= 2; ++p)
            for (int q = -2; q <= 2; ++q)
                for (int r = -1; r <= 1; ++r) {
                    std::array<double, 3> kc{};
                    for (std::size_t c = 0; c < 3; ++c)
                        kc[c] = 2 * pi * ((x[0] + p) * b[0][c] + (x[1] + q) * b[1][c] + (x[2] + r) * b[2][c]);
                    best = std::min(best, m.energy({kc[0], kc[1]}, kc[2]));
                }
        return std::vector<double>{best};
    };
    std::string text = bandcut_test::listing_text(bandcut_test::mesh(m.n[0], m.n[1], m.n[2], m.shift, bands), 1, lattice);
    std::FILE* in = fmemopen(text.data(), text.size(), "r");
    auto r = bandcut::run_cut(in, "OUTCAR", {m.n[0], m.n[1], m.n[2]}, m.ef);
    std::fclose(in);
    return r;
}

// A free-electron pocket of radius kf about `centre` (at kz = z), at Ef = 0.
std::function<double(const point2&, double)> pocket(point2 centre, double kf, double z = 0) {
    return [=](const point2& k, double kz) {
        const double dx = k[0] - centre[0], dy = k[1] - centre[1];
        return hbar2_2m * (dx * dx + dy * dy + (kz - z) * (kz - z) - kf * kf);
    };
}

double distance(point2 p, point2 q) { return std::hypot(p[0] - q[0], p[1] - q[1]); }

// The Cartesian frame of the hexagonal plane: B1 along x, |B| = 4 pi / (3 sqrt 3).
const double hex_b = 4 * pi / (3 * std::sqrt(3.0));
const point2 hex_k{hex_b / std::sqrt(3.0) * std::cos(pi / 6), hex_b / std::sqrt(3.0) * std::sin(pi / 6)};  // a zone corner

TEST(contours, pockets_lie_on_their_circles) {
    const struct {
        const char* name;
        model m;
        point2 centre;  // of the one closed contour expected, in the plane's frame
        double kf;
    } cases[] = {
        {"a circle on a square lattice", {square, {16, 16, 1}, {0, 0, 0}, pocket({0, 0}, 0.5), 0.0f}, {0, 0}, 0.5},
        {"a circle on a hexagonal lattice", {hexagonal, {15, 15, 1}, {0, 0, 0}, pocket({0, 0}, 0.6), 0.0f}, {0, 0}, 0.6},
        {"a circle on a mesh shifted by half a step", {square, {16, 16, 1}, {0.5, 0.5, 0}, pocket({0, 0}, 0.5), 0.0f}, {0, 0}, 0.5},
        {"a circle on a mesh shifted along b1 only", {square, {16, 16, 1}, {0.5, 0, 0}, pocket({0, 0}, 0.5), 0.0f}, {0, 0}, 0.5},
        {"a sphere of a 3D mesh cut at its centre", {cube, {12, 12, 6}, {0, 0, 0}, pocket({0, 0}, 0.6), 0.0f}, {0, 0}, 0.6},
        // One pocket about the corner K (E(k) takes the nearest of K's images): drawn whole
        // once, about one of the three corners equivalent to K, not in three pieces.
        {"a pocket at the zone's corner", {hexagonal, {15, 15, 1}, {0, 0, 0}, pocket(hex_k, 0.3), 0.0f}, hex_k, 0.3},
        {"a pocket off the zone centre on a square lattice", {square, {16, 16, 1}, {0, 0, 0}, pocket({0.4, 0.2}, 0.3), 0.0f},
         {0.4, 0.2}, 0.3},
    };
    for (const auto& c : cases) {
        const auto r = cut_of(c.m);
        ASSERT_TRUE(r.ok) << c.name << ": " << r.said.back().text;
        ASSERT_FALSE(bandcut::contours_fault(r, 0)) << c.name;
        const auto set = bandcut::contours_of(r, c.m.ef, 0);
        ASSERT_EQ(set.bands.size(), 1u) << c.name;
        const auto& lines = set.bands[0].lines;
        ASSERT_EQ(lines.size(), 1u) << c.name;
        ASSERT_TRUE(lines[0].closed) << c.name;
        EXPECT_EQ(lines[0].points.front(), lines[0].points.back()) << c.name;
        // Linear interpolation along an edge of length h misplaces a crossing of a circle of
        // radius kF by at most about h^2 / (8 kF); the mesh's step is about 0.13-0.2 1/A.
        const double h = 2 * pi / 3 / std::min(c.m.n[0], c.m.n[1]) * (c.m.a[1][0] != 0 ? 1.2 : 1.0);
        const double tolerance = h * h / (2 * c.kf);
        // The corner pocket: about whichever of the three corners equivalent to K it was
        // drawn at (K plus a lattice vector).
        point2 centre = c.centre;
        if (c.centre == hex_k) {
            point2 mean{0, 0};
            for (const point2 p : lines[0].points) mean = {mean[0] + p[0], mean[1] + p[1]};
            const auto count = static_cast<double>(lines[0].points.size());
            mean = {mean[0] / count, mean[1] / count};
            double nearest = 1e300;
            for (const point2 corner : set.zone)
                if (distance(corner, mean) < nearest) nearest = distance(corner, mean), centre = corner;
            EXPECT_LT(nearest, tolerance) << c.name;
            const point2 d{centre[0] - hex_k[0], centre[1] - hex_k[1]};  // in units of B1 = (b, 0), B2 = b (1/2, sqrt 3 / 2)
            const double m2 = d[1] / (hex_b * std::sqrt(3.0) / 2), m1 = d[0] / hex_b - m2 / 2;
            EXPECT_NEAR(m1, std::round(m1), 1e-9) << c.name;
            EXPECT_NEAR(m2, std::round(m2), 1e-9) << c.name;
        }
        for (const point2 p : lines[0].points) EXPECT_NEAR(distance(p, centre), c.kf, tolerance) << c.name;
        EXPECT_GE(lines[0].points.size(), 12u) << c.name;  // a polygon of many sides, not a piece of one
    }
}

// Where a pocket or a line cannot be drawn: a band touching Ef only at its minimum is no
// band crossing Ef; one crossing it away from the plane has no contour there; a grid in
// listing order or a plane off the grid has no plane.
TEST(contours, bands_without_contours_and_grids_without_planes) {
    const auto touching = cut_of({square, {8, 8, 1}, {0, 0, 0}, pocket({0, 0}, 0), 0.0f});
    ASSERT_TRUE(touching.ok);
    EXPECT_TRUE(bandcut::contours_of(touching, 0.0f, 0).bands.empty());
    const auto elsewhere = cut_of({cube, {8, 8, 8}, {0, 0, 0}, pocket({0, 0}, 0.5, pi / 3), 0.0f});
    ASSERT_TRUE(elsewhere.ok);
    const auto set = bandcut::contours_of(elsewhere, 0.0f, 0);
    ASSERT_EQ(set.bands.size(), 1u);
    EXPECT_TRUE(set.bands[0].lines.empty());
    EXPECT_EQ(bandcut::contours_of(elsewhere, 0.0f, 4).bands[0].lines.size(), 1u);  // the plane through Z: one pocket
    for (const std::int32_t plane : {8, -1}) {
        const auto off = bandcut::contours_fault(elsewhere, plane);
        EXPECT_EQ(off.why, bandcut::cause::plane_off_grid) << plane;
        EXPECT_EQ(off.n, (std::array<std::int64_t, 3>{plane, 8, 0}));
    }
    EXPECT_FALSE(bandcut::contours_fault(elsewhere, 7));
    auto in_order = cut_of({cube, {8, 8, 8}, {0, 0, 0}, pocket({0, 0}, 0.5, pi / 3), 0.0f});
    in_order.how = bandcut::grid_map::route::listing_order;
    EXPECT_EQ(bandcut::contours_fault(in_order, 0).why, bandcut::cause::no_plane);
    in_order.ok = false;
    EXPECT_EQ(bandcut::contours_fault(in_order, 0).why, bandcut::cause::no_grid);
}

// A band that depends on x1 alone (k = x1 B1 + x2 B2, x1 = k . a1 / 2 pi) crosses Ef along
// two lines parallel to b2, x1 = +-q: each image of each line clipped to the zone, once,
// its ends on the zone's boundary; on a lattice long along b1, lines far from the zone
// centre beside a short period.
TEST(contours, lines_across_the_zone_are_clipped_to_it) {
    const rows oblong{{{3, 0, 0}, {0, 12, 0}, {0, 0, 20}}};
    const struct {
        const char* name;
        const rows& a;
        std::array<int, 3> n;
        std::array<double, 3> shift;
        double q;
    } cases[] = {
        {"a square lattice", square, {16, 16, 1}, {0, 0, 0}, 0.25},
        {"a hexagonal lattice", hexagonal, {15, 15, 1}, {0, 0, 0}, 0.25},
        {"a hexagonal lattice, shifted mesh", hexagonal, {12, 12, 1}, {0.5, 0.5, 0}, 0.25},
        {"a rectangular lattice, B1 four times B2", oblong, {20, 5, 1}, {0, 0, 0}, 0.4},
    };
    for (const auto& c : cases) {
        rows b{};
        lattice_text(c.a, b);
        // The listing's Cartesian frame is the plane's in these lattices.
        const auto x1 = [&](const point2& k) { return (k[0] * c.a[0][0] + k[1] * c.a[0][1]) / (2 * pi); };
        const auto wave = [&](const point2& k, double) { return std::cos(2 * pi * c.q) - std::cos(2 * pi * x1(k)); };
        const auto r = cut_of({c.a, c.n, c.shift, wave, 0.0f});
        ASSERT_TRUE(r.ok) << c.name;
        const auto set = bandcut::contours_of(r, 0.0f, 0);
        ASSERT_EQ(set.bands.size(), 1u) << c.name;
        const auto& lines = set.bands[0].lines;
        ASSERT_EQ(lines.size(), 2u) << c.name;
        std::vector<double> sides;
        for (const auto& line : lines) {
            EXPECT_FALSE(line.closed) << c.name;
            for (const point2 p : line.points) EXPECT_NEAR(std::fabs(x1(p)), c.q, 2e-3) << c.name;
            sides.push_back(x1(line.points[0]));
            // Both ends on the zone's boundary: on one of its sides' lines.
            for (const point2 end : {line.points.front(), line.points.back()}) {
                double gap = 1e300;
                for (std::size_t k = 0; k < set.zone.size(); ++k) {
                    const point2 q = set.zone[k], e{set.zone[(k + 1) % set.zone.size()][0] - q[0], set.zone[(k + 1) % set.zone.size()][1] - q[1]};
                    gap = std::min(gap, std::fabs(e[0] * (end[1] - q[1]) - e[1] * (end[0] - q[0])) / std::hypot(e[0], e[1]));
                }
                EXPECT_LT(gap, 1e-9) << c.name;
            }
        }
        EXPECT_LT(sides[0] * sides[1], 0) << c.name;  // one on each side of the zone centre
    }
    // No grid, or no zone: nothing to trace.
    const bandcut::plane_lattice unit{{1, 0}, {0, 1}};
    const auto flat = [](std::int32_t, std::int32_t) { return -1.0; };
    EXPECT_TRUE(bandcut::trace_contours({0, 4, {0, 0}, flat}, unit, bandcut::wigner_seitz(unit)).empty());
    EXPECT_TRUE(bandcut::trace_contours({4, 0, {0, 0}, flat}, unit, bandcut::wigner_seitz(unit)).empty());
    EXPECT_TRUE(bandcut::trace_contours({4, 4, {0, 0}, flat}, unit, {{0, 0}, {1, 0}}).empty());
}

// A wavy line, x1 = +-q + A sin(2 pi x2) on a lattice long along b1: every point of the
// true contour inside the zone lies near a drawn line, on every image of either line
// that reaches into the zone, however far from it the line's loop begins.
TEST(contours, wavy_lines_are_drawn_wherever_they_cross_the_zone) {
    const rows oblong{{{3, 0, 0}, {0, 12, 0}, {0, 0, 20}}};
    const double q = 0.3, amplitude = 0.25, b1 = 2 * pi / 3, b2 = 2 * pi / 12;
    const auto wave = [&](const point2& k, double) {
        const double x1 = k[0] / b1, x2 = k[1] / b2;
        return std::cos(2 * pi * q) - std::cos(2 * pi * (x1 - amplitude * std::sin(2 * pi * x2)));
    };
    const auto r = cut_of({oblong, {40, 8, 1}, {0, 0, 0}, wave, 0.0f});
    ASSERT_TRUE(r.ok);
    const auto set = bandcut::contours_of(r, 0.0f, 0);
    ASSERT_EQ(set.bands.size(), 1u);
    const auto near = [&](point2 p) {
        double best = 1e300;
        for (const auto& line : set.bands[0].lines)
            for (std::size_t k = 0; k + 1 < line.points.size(); ++k) {
                const point2 a = line.points[k], d{line.points[k + 1][0] - a[0], line.points[k + 1][1] - a[1]};
                const double t = std::clamp(((p[0] - a[0]) * d[0] + (p[1] - a[1]) * d[1]) / (d[0] * d[0] + d[1] * d[1] + 1e-300), 0.0, 1.0);
                best = std::min(best, distance(p, {a[0] + t * d[0], a[1] + t * d[1]}));
            }
        return best;
    };
    int inside = 0;
    for (int i = 0; i < 400; ++i)
        for (const double side : {q, -q})
            for (int m = -2; m <= 2; ++m)
                for (int n = -2; n <= 2; ++n) {
                    const double x2 = i / 400.0 + n, x1 = side + amplitude * std::sin(2 * pi * x2) + m;
                    const point2 p{x1 * b1, x2 * b2};
                    if (std::fabs(p[0]) > b1 / 2 - 1e-3 || std::fabs(p[1]) > b2 / 2 - 1e-3) continue;
                    ++inside;
                    EXPECT_LT(near(p), 0.03) << x1 << " " << x2;
                }
    EXPECT_GT(inside, 400);
}

// The zone of the plane: every corner as near the centre as to the nearest lattice points
// (two or three of them), none nearer; counter-clockwise; the expected number of corners.
TEST(contours, the_zone_is_the_wigner_seitz_cell) {
    const double s3 = std::sqrt(3.0);
    const struct {
        const char* name;
        bandcut::plane_lattice l;
        std::size_t corners;
        double radius;  // of the corners, where all are alike (0: not)
    } cases[] = {
        {"square", {{1, 0}, {0, 1}}, 4, std::sqrt(0.5)},
        {"hexagonal, 60 degrees", {{1, 0}, {0.5, s3 / 2}}, 6, 1 / s3},
        {"hexagonal, 120 degrees", {{1, 0}, {-0.5, s3 / 2}}, 6, 1 / s3},
        {"hexagonal, a long basis of the same lattice", {{1, 0}, {3.5, s3 / 2}}, 6, 1 / s3},
        {"rectangular", {{2, 0}, {0, 1}}, 4, std::hypot(1.0, 0.5)},
        {"oblique", {{1, 0}, {0.3, 1.1}}, 6, 0},
    };
    for (const auto& c : cases) {
        const auto zone = bandcut::wigner_seitz(c.l);
        ASSERT_EQ(zone.size(), c.corners) << c.name;
        double area = 0;
        for (std::size_t k = 0; k < zone.size(); ++k) {
            const point2 p = zone[k], q = zone[(k + 1) % zone.size()];
            area += (p[0] * q[1] - p[1] * q[0]) / 2;
            if (c.radius > 0) {
                EXPECT_NEAR(std::hypot(p[0], p[1]), c.radius, 1e-12) << c.name;
            }
            int equal = 0;
            for (int m = -8; m <= 8; ++m)
                for (int n = -3; n <= 3; ++n) {
                    if (m == 0 && n == 0) continue;
                    const point2 g{m * c.l.b1[0] + n * c.l.b2[0], m * c.l.b1[1] + n * c.l.b2[1]};
                    const double there = distance(p, g), here = std::hypot(p[0], p[1]);
                    EXPECT_GE(there, here - 1e-12) << c.name;
                    equal += std::fabs(there - here) < 1e-9;
                }
            EXPECT_GE(equal, 2) << c.name;
        }
        // Counter-clockwise, and as large as the lattice's cell.
        EXPECT_NEAR(area, std::fabs(c.l.b1[0] * c.l.b2[1] - c.l.b1[1] * c.l.b2[0]), 1e-12) << c.name;
    }
}

// The cells split along their shorter diagonal; of two equal, the one from (i, j).
TEST(contours, cells_split_along_the_shorter_diagonal) {
    const double s3 = std::sqrt(3.0);
    const struct {
        bandcut::plane_lattice l;
        int n1, n2;
        bool main;
    } cases[] = {
        {{{1, 0}, {0, 1}}, 8, 8, true},              // equal
        {{{1, 0}, {0.5, s3 / 2}}, 6, 6, false},       // 60 degrees: b1 + b2 long
        {{{1, 0}, {-0.5, s3 / 2}}, 6, 6, true},       // 120 degrees: b1 + b2 short
        {{{1, 0}, {0, 1}}, 8, 600, true},             // perpendicular: equal, however unequal the steps
        {{{1, 0}, {5e-10, 1}}, 8, 8, true},           // equal within 1e-9 (the lengths differ by 5e-10)
        {{{1, 0}, {3e-9, 1}}, 8, 8, false},           // not (3e-9)
    };
    for (const auto& c : cases) EXPECT_EQ(bandcut::main_diagonal(c.l, c.n1, c.n2), c.main) << c.l.b2[0] << " " << c.n2;
}

// The picture: a title naming the plane, one path per band crossing Ef, spin component 2
// dashed, the legend's words.
TEST(contours, the_picture_names_what_it_shows) {
    bandcut::contour_set c;
    c.ef = 5.2f;
    c.zone = bandcut::wigner_seitz({{1, 0}, {0, 1}});
    c.bands = {{0, 2, {{{{0.1, 0}, {0, 0.1}, {-0.1, 0}, {0.1, 0}}, true}}}, {1, 3, {}}};
    const struct {
        bandcut::grid g;
        std::int32_t plane;
        double k3;
        std::string title;
    } titles[] = {
        {{15, 15, 1}, 0, 0, "Fermi contours at Ef = 5.200000 eV of the 15 x 15 x 1 mesh: the whole Fermi surface (one k-point along b3)"},
        {{8, 8, 6}, 0, 0, "Fermi contours at Ef = 5.200000 eV of the 8 x 8 x 6 mesh: its cut through the zone centre spanned by b1 "
                          "and b2 (plane 1 of 6 along b3)"},
        {{8, 8, 8}, 0, 0.0625, "Fermi contours at Ef = 5.200000 eV of the 8 x 8 x 8 mesh: its plane at 0.0625 b3, parallel to b1 "
                               "and b2 (plane 1 of 8 along b3)"},
    };
    for (const auto& t : titles) {
        c.planes = t.g.nkz;
        c.plane = t.plane;
        c.k3 = t.k3;
        EXPECT_EQ(bandcut::svg_title(c, t.g), t.title);
    }
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    ASSERT_TRUE(bandcut::write_svg(out, c, {15, 15, 1}));
    std::fclose(out);
    const std::string svg(text, size);
    std::free(text);
    const auto count = [&](const std::string& what) {
        std::size_t n = 0;
        for (auto at = svg.find(what); at != std::string::npos; at = svg.find(what, at + 1)) ++n;
        return n;
    };
    EXPECT_TRUE(svg.starts_with("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\""));
    EXPECT_TRUE(svg.ends_with("</svg>\n"));
    EXPECT_EQ(count("class=\"contour\""), 2u);
    EXPECT_EQ(count("stroke-dasharray"), 2u);  // the second band's path and its legend sample
    EXPECT_EQ(count(">band 3</text>"), 1u);
    EXPECT_EQ(count(">band 4 of spin component 2 (no contour in this plane)</text>"), 1u);
    EXPECT_EQ(count("Z\""), 1u);  // the one closed contour
    // A pocket beyond the zone's right edge moves the page's centre along x only: every tick
    // of either axis still lies on the plot's frame (80..600 across, 50..570 down).
    c.bands = {{0, 0, {{{{1.8, 0.2}, {2.2, 0}, {1.8, -0.2}, {1.8, 0.2}}, true}}}};
    out = open_memstream(&text, &size);
    ASSERT_TRUE(bandcut::write_svg(out, c, {15, 15, 1}));
    std::fclose(out);
    const std::string shifted(text, size);
    std::free(text);
    int ticks = 0;
    for (const char* mark : {"v-6\"", "h6\""})
        for (auto at = shifted.find(mark); at != std::string::npos; at = shifted.find(mark, at + 1), ++ticks) {
            const auto m = shifted.rfind("d=\"M", at);
            double x = 0, y = 0;
            ASSERT_EQ(std::sscanf(shifted.c_str() + m + 4, "%lf %lf", &x, &y), 2);
            EXPECT_GE(x, 80 - 1e-9);
            EXPECT_LE(x, 600 + 1e-9);
            EXPECT_GE(y, 50 - 1e-9);
            EXPECT_LE(y, 570 + 1e-9);
        }
    EXPECT_GE(ticks, 8);
}

}  // namespace
