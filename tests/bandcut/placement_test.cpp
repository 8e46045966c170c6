#include "account.hpp"
#include "placement.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

using bandcut::grid;
using bandcut::listing;
using bandcut::vec3;

listing with_kpoints(const std::vector<vec3>& c) {
    listing l;
    l.nkpts = static_cast<std::int32_t>(c.size());
    l.kpoint = bandcut::make_table<vec3>(c.size());
    std::copy(c.begin(), c.end(), l.kpoint.get());
    return l;
}

// The coordinates of every point of an n1 x n2 x n3 grid, wrapped into (-1/2, 1/2] and
// rounded to four decimals as listings print them, in the order `index` gives.
std::vector<vec3> grid_points(int n1, int n2, int n3, double shift, bool first_fastest) {
    auto coordinate = [shift](int i, int n) {
        double c = (i + shift) / n;
        if (c > 0.5) c -= 1;
        return static_cast<float>(std::round(c * 1e4) / 1e4);
    };
    std::vector<vec3> points;
    for (int a = 0; a < (first_fastest ? n3 : n1); ++a)
        for (int b = 0; b < n2; ++b)
            for (int c = 0; c < (first_fastest ? n1 : n3); ++c) {
                const int i1 = first_fastest ? c : a, i3 = first_fastest ? a : c;
                points.push_back({coordinate(i1, n1), coordinate(b, n2), coordinate(i3, n3)});
            }
    return points;
}

// Where the placement put the k-points, and what the run says of it after the note:
// nothing, the shift, or why the listing order stands.
struct placed {
    std::vector<std::int32_t> kpoint_at;
    std::string warning;
};

placed place(const std::vector<vec3>& c, const grid& g) {
    const listing l = with_kpoints(c);
    bandcut::grid_map map;
    map.placed = bandcut::place_on_grid(l, g);
    map.how = map.placed.placed() ? bandcut::grid_map::route::placed : bandcut::grid_map::route::listing_order;
    for (const auto k : map.placed.kpoint_at) map.kpoint_at.push_back({k, false});
    map.not_unfolded = bandcut::found(bandcut::cause::four_decimals);
    bandcut::account said;
    bandcut::explain_route(said, "OUTCAR", l, g, map);
    std::string warning;
    for (const auto& m : said)
        if (m.what == bandcut::message::kind::warning) warning += m.text + "\n";
    return {map.placed.kpoint_at, warning};
}

std::vector<std::int32_t> identity(int n) {
    std::vector<std::int32_t> v(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) v[static_cast<std::size_t>(i)] = i;
    return v;
}

// For a listing with the first index fastest, grid point (ix, iy, iz) is listed at
// (iz * n2 + iy) * n1 + ix.
std::vector<std::int32_t> transposed(int n1, int n2, int n3) {
    std::vector<std::int32_t> v;
    for (int ix = 0; ix < n1; ++ix)
        for (int iy = 0; iy < n2; ++iy)
            for (int iz = 0; iz < n3; ++iz) v.push_back((iz * n2 + iy) * n1 + ix);
    return v;
}

TEST(placement, full_grids_in_any_order) {
    const struct {
        const char* name;
        std::vector<vec3> coordinates;
        grid g;
        std::vector<std::int32_t> expected;
    } cases[] = {
        {"third index fastest", grid_points(3, 4, 5, 0, false), {3, 4, 5}, identity(60)},
        {"first index fastest, wrapped", grid_points(3, 4, 5, 0, true), {3, 4, 5}, transposed(3, 4, 5)},
        {"7 points: 0.4286 wraps to -0.4286", grid_points(7, 1, 2, 0, true), {7, 1, 2}, transposed(7, 1, 2)},
        {"extra k-points after the grid", [] {
             auto c = grid_points(2, 2, 2, 0, true);
             c.push_back({0.1f, 0.2f, 0.3f});
             return c;
         }(), {2, 2, 2}, transposed(2, 2, 2)},
    };
    for (const auto& c : cases) {
        const auto p = place(c.coordinates, c.g);
        EXPECT_EQ(p.kpoint_at, c.expected) << c.name;
        EXPECT_EQ(p.warning, "") << c.name;
    }
}

TEST(placement, listings_that_are_not_the_grid_keep_listing_order) {
    const struct {
        const char* name;
        std::vector<vec3> coordinates;
        grid g;
        const char* warning;
    } cases[] = {
        {"band path", {{0, 0, 0}, {0.05f, 0, 0}, {0.1f, 0, 0}, {0.15f, 0, 0}}, {4, 1, 1},
         "bandcut: warning: k-point 2 (0.0500 0.0000 0.0000) is off the grid: the listing does not hold the full "
         "4 x 1 x 1 grid; no unfolding: the listing prints its k-points with four decimals only; values are written in listing order\n"},
        {"a point twice", {{0, 0, 0}, {0.5f, 0, 0}, {0, 0, 0}, {0.5f, 0, 0.5f}}, {2, 1, 2},
         "bandcut: warning: k-point 3 (0.0000 0.0000 0.0000) repeats a grid point: the listing does not hold the full "
         "2 x 1 x 2 grid; no unfolding: the listing prints its k-points with four decimals only; values are written in listing order\n"},
        {"no coordinates", {{NAN, NAN, NAN}, {0.5f, 0, 0}}, {2, 1, 1},
         "bandcut: warning: k-point 1 (nan nan nan) is off the grid: the listing does not hold the full 2 x 1 x 1 "
         "grid; no unfolding: the listing prints its k-points with four decimals only; values are written in listing order\n"},
    };
    for (const auto& c : cases) {
        const auto p = place(c.coordinates, c.g);
        EXPECT_TRUE(p.kpoint_at.empty()) << c.name;
        EXPECT_EQ(p.warning, c.warning) << c.name;
    }
}

TEST(placement, tolerance_is_the_printed_precision) {
    // Two four-decimal numbers (coordinate and origin) may each be 5e-5 off: a coordinate
    // 1e-4 from its grid point is accepted, one 1.1e-4 away is not.
    const float third = 1.0f / 3.0f;
    for (const auto& [offset, on_grid] :
         {std::pair{0.0f, true}, {1.0e-4f, true}, {-1.0e-4f, true}, {1.1e-4f, false}, {-1.1e-4f, false}}) {
        const auto p = place({{0, 0, 0}, {0, third + offset, 0}, {0, -third, 0}}, {1, 3, 1});
        EXPECT_EQ(!p.kpoint_at.empty(), on_grid) << offset;
    }
}

// Indices count from the zone centre, whichever point the listing starts from: a grid
// listed from any of its points lands the same, and a shifted mesh is said to be shifted.
TEST(placement, origin_is_the_zone_centre) {
    const auto rotated = [](std::vector<vec3> c, std::size_t by) {
        std::rotate(c.begin(), c.begin() + static_cast<std::ptrdiff_t>(by), c.end());
        return c;
    };
    // Listed from point `by` on, the k-point listed j-th before is listed (j - by) mod size-th.
    const auto renumbered = [](std::vector<std::int32_t> v, int by) {
        const auto size = static_cast<std::int32_t>(v.size());
        for (auto& k : v) k = (k - by + size) % size;
        return v;
    };
    const char* half = "bandcut: warning: the grid is shifted off the zone centre by 0.5000 0.5000 0.5000 steps along b1 "
                       "b2 b3; FS.bsxf puts its first point at 0 0 0, so the surface is drawn shifted by as much\n";
    const struct {
        const char* name;
        std::vector<vec3> coordinates;
        grid g;
        std::vector<std::int32_t> expected;
        const char* warning;
    } cases[] = {
        {"Gamma-centred, listed from its 7th point", rotated(grid_points(3, 4, 5, 0, true), 6), {3, 4, 5},
         renumbered(transposed(3, 4, 5), 6), ""},
        {"64 points: 0.0156 is one step, not a shift", rotated(grid_points(64, 1, 1, 0, true), 1), {64, 1, 1},
         renumbered(transposed(64, 1, 1), 1), ""},
        {"shifted by half a step", grid_points(4, 2, 6, 0.5, true), {4, 2, 6}, transposed(4, 2, 6), half},
        {"shifted, listed from its 5th point", rotated(grid_points(4, 2, 6, 0.5, true), 4), {4, 2, 6},
         renumbered(transposed(4, 2, 6), 4), half},
        // (0.25/3 prints as 0.0833: the shift is what the printed coordinates say)
        {"shifted by a quarter step", grid_points(3, 2, 2, 0.25, true), {3, 2, 2}, transposed(3, 2, 2),
         "bandcut: warning: the grid is shifted off the zone centre by 0.2499 0.2500 0.2500 steps along b1 "
         "b2 b3; FS.bsxf puts its first point at 0 0 0, so the surface is drawn shifted by as much\n"},
    };
    for (const auto& c : cases) {
        const auto p = place(c.coordinates, c.g);
        EXPECT_EQ(p.kpoint_at, c.expected) << c.name;
        EXPECT_EQ(p.warning, c.warning) << c.name;
    }
}

}  // namespace
