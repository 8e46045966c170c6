#include "unfolding.hpp"

#include "placement.hpp"
#include "symmetry.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

namespace bandcut {

namespace {

// How far an irreducible point may lie from its grid point, in steps: the rounding of the
// six- or eight-decimal lists, with room to spare.
constexpr double on_grid = 2e-3;

std::string grid_text(std::int64_t n1, std::int64_t n2, std::int64_t n3) {
    return std::to_string(n1) + " x " + std::to_string(n2) + " x " + std::to_string(n3);
}

std::string point_text(std::int64_t k, const dvec3& c) {
    char text[96];
    std::snprintf(text, sizeof text, "k-point %lld (%.6f %.6f %.6f)", static_cast<long long>(k + 1), c[0], c[1], c[2]);
    return text;
}

// A coordinate reduced into [0, 1): the same point, moved by a reciprocal vector.
double reduced(double c) { return c - std::floor(c); }

// Whether c lies on an axis of n points shifted by s steps.
bool lies_on(double c, std::int64_t n, double s) {
    const double t = reduced(c) * static_cast<double>(n) - s;
    return std::fabs(t - std::round(t)) <= on_grid;
}

// The shift (0 or 1/2) of the axis of n points on which every point lies.
std::optional<double> axis_shift(const std::vector<dvec3>& points, std::size_t axis, std::int64_t n) {
    for (const double s : {0.0, 0.5})
        if (std::all_of(points.begin(), points.end(), [&](const dvec3& c) { return lies_on(c[axis], n, s); })) return s;
    return std::nullopt;
}

// The coarsest grid the points lie on (per axis, the fewest points up to 1000), if any.
std::optional<std::array<std::int64_t, 3>> grid_of(const std::vector<dvec3>& points) {
    std::array<std::int64_t, 3> n{};
    for (std::size_t axis = 0; axis < 3; ++axis) {
        std::int64_t m = 1;
        while (m <= 1000 && !axis_shift(points, axis, m)) ++m;
        if (m > 1000) return std::nullopt;
        n[axis] = m;
    }
    return n;
}

// The irreducible k-points: which listed k-points, where, and their weights.
struct wedge {
    std::vector<std::int32_t> listed;
    std::vector<dvec3> c;
    std::vector<double> weight;
    enum { raw, counts, printed } kind = raw;  // raw or counted weights, or the 3-decimal list's
};

// The listed k-points' coordinates from the list with the most decimals: the k-point list
// (8 decimals), the irreducible list or the full-zone list (6).  Empty when none holds them.
std::vector<dvec3> listed_coordinates(const mesh_sections& m, std::int32_t nkpts) {
    const auto n = static_cast<std::size_t>(nkpts);
    std::vector<dvec3> c;
    if (m.kpoints.size() >= n) {
        for (std::size_t k = 0; k < n; ++k) c.push_back(m.kpoints[k].c);
    } else if (m.irreducible.size() == n) {
        for (std::size_t k = 0; k < n; ++k) c.push_back(m.irreducible[k].c);
    } else if (m.zone.size() >= n) {
        for (std::size_t k = 0; k < n; ++k) {
            if (m.zone[k].index != static_cast<std::int64_t>(k + 1)) return {};
            c.push_back(m.zone[k].c);
        }
    }
    return c;
}

std::optional<wedge> irreducible_points(const listing& bands, std::string& why) {
    const mesh_sections& m = bands.mesh;
    const auto coordinates = listed_coordinates(m, bands.nkpts);
    if (coordinates.empty()) {
        why = "the listing prints its k-points with four decimals only";
        return std::nullopt;
    }
    wedge w;
    const auto take = [&](std::int32_t k, double weight) {
        w.listed.push_back(k);
        w.c.push_back(coordinates[static_cast<std::size_t>(k)]);
        w.weight.push_back(weight);
    };
    if (m.zone_list && !m.zone.empty()) {
        // Each row is a grid point and names its irreducible point; rows of weight 0 are
        // extra points (a band path appended to the mesh, say), which name themselves.
        std::vector<double> rows(static_cast<std::size_t>(bands.nkpts), 0.0);
        for (const auto& z : m.zone) {
            if (z.index > bands.nkpts) {
                why = "the full-zone list names k-point " + std::to_string(z.index) + " of " + std::to_string(bands.nkpts);
                return std::nullopt;
            }
            if (z.weight != 0) rows[static_cast<std::size_t>(z.index - 1)] += 1;
        }
        for (std::int32_t k = 0; k < bands.nkpts; ++k)
            if (rows[static_cast<std::size_t>(k)] > 0) take(k, rows[static_cast<std::size_t>(k)]);
        w.kind = wedge::counts;
    } else if (m.irreducible_list && m.irreducible.size() == static_cast<std::size_t>(bands.nkpts)) {
        for (std::int32_t k = 0; k < bands.nkpts; ++k) {
            const auto& p = m.irreducible[static_cast<std::size_t>(k)];
            for (std::size_t a = 0; a < 3; ++a)
                if (!(std::fabs(p.c[a] - coordinates[static_cast<std::size_t>(k)][a]) <= 1e-5)) {
                    why = "the irreducible list and the k-point list disagree at " +
                          point_text(k, coordinates[static_cast<std::size_t>(k)]);
                    return std::nullopt;
                }
            take(k, p.weight);
        }
        w.kind = wedge::raw;
    } else if (m.kpoints.size() >= static_cast<std::size_t>(bands.nkpts)) {
        // Only the normalised three-decimal weights: every listed point is irreducible
        // (real points print 0.000 there, so no weight is taken to be zero).
        for (std::int32_t k = 0; k < bands.nkpts; ++k) take(k, m.kpoints[static_cast<std::size_t>(k)].weight);
        w.kind = wedge::printed;
    } else {
        why = "the listing prints no weights of its k-points";
        return std::nullopt;
    }
    if (w.listed.empty()) {
        why = "the listing names no irreducible k-point";
        return std::nullopt;
    }
    for (const double x : w.weight)
        if (!(x >= 0) || !std::isfinite(x)) {
            why = "the listing prints a weight that is negative or not a number";
            return std::nullopt;
        }
    return w;
}

// The rotations on k-points, distinct, before time reversal.
struct rotation_set {
    std::vector<int3x3> m;
    const char* source;
};

std::optional<rotation_set> rotations(const listing& bands, std::string& why) {
    const mesh_sections& m = bands.mesh;
    if (!m.lattice) {
        why = "the listing prints no lattice vectors after its dimension line";
        return std::nullopt;
    }
    rotation_set r{{}, "the operator table"};
    if (m.operator_table && !m.operators.empty()) {
        for (std::size_t row = 0; row < m.operators.size(); ++row) {
            const auto k = kpoint_rotation(m.operators[row], m.reciprocal);
            if (!k) {
                why = "row " + std::to_string(row + 1) + " of the operator table is no rotation of this lattice";
                return std::nullopt;
            }
            r.m.push_back(*k);
        }
    } else {
        r.source = "the crystal structure";
        const std::int64_t ions = m.nions.value_or(0);
        std::int64_t typed = 0;
        for (const auto n : m.ions_per_type) typed += n;
        if (ions <= 0 || m.positions.size() != static_cast<std::size_t>(ions) || typed != ions) {
            why = "the listing prints no whole crystal structure (ions, their species and positions)";
            return std::nullopt;
        }
        std::vector<int> types;
        for (std::size_t t = 0; t < m.ions_per_type.size(); ++t)
            types.insert(types.end(), static_cast<std::size_t>(m.ions_per_type[t]), static_cast<int>(t + 1));
        // A spin-polarised run keeps only the operations that keep its moments: those the
        // input gave, or 1 on every ion where it gave none.
        std::vector<double> moments;
        if (m.ispin == 2 || bands.nspin == 2) {
            if (m.magmom_given && (!m.magmom_readable || m.magmom.size() != static_cast<std::size_t>(ions))) {
                why = m.magmom_readable ? "MAGMOM gives " + std::to_string(m.magmom.size()) + " moments for " +
                                              std::to_string(ions) + " ions"
                                        : "MAGMOM cannot be read";
                return std::nullopt;
            }
            moments = m.magmom_given ? m.magmom : std::vector<double>(static_cast<std::size_t>(ions), 1.0);
        }
        const auto w = crystal_rotations(m.direct, m.positions, types, moments.empty() ? nullptr : &moments);
        if (w.empty()) {
            why = "no symmetry operation maps the crystal structure onto itself";
            return std::nullopt;
        }
        for (const auto& x : w) r.m.push_back(kpoint_action(x));
    }
    std::sort(r.m.begin(), r.m.end());
    r.m.erase(std::unique(r.m.begin(), r.m.end()), r.m.end());
    if (m.operations_found && *m.operations_found != static_cast<std::int64_t>(r.m.size())) {
        why = "the listing found " + std::to_string(*m.operations_found) + " space group operations, " + r.source +
              " gives " + std::to_string(r.m.size()) + " rotations";
        return std::nullopt;
    }
    return r;
}

int3x3 negated(int3x3 m) {
    for (auto& row : m)
        for (auto& x : row) x = -x;
    return m;
}

// floor(a / b) and its remainder for b > 0.
std::int64_t floor_mod(std::int64_t a, std::int64_t b) {
    const std::int64_t r = a % b;
    return r < 0 ? r + b : r;
}

}  // namespace

unfold_outcome unfold(const listing& bands, const grid& g) {
    unfold_outcome out;
    const mesh_sections& m = bands.mesh;
    if (m.band_path) {
        out.why = "the listing holds a band path, not a mesh";
        return out;
    }
    std::string lacking;
    auto points = irreducible_points(bands, lacking);
    auto ops = points ? rotations(bands, lacking) : std::nullopt;
    if (!ops) {
        out.why = "no unfolding: " + lacking;
        return out;
    }
    const auto distinct = static_cast<std::int64_t>(ops->m.size());
    const bool time_reversal = !(m.spin_orbit || m.noncollinear);

    const std::array<std::int64_t, 3> n{g.nkx, g.nky, g.nkz};
    const std::string onto = "the " + std::to_string(points->listed.size()) + " irreducible k-points do not unfold onto " +
                             grid_text(n[0], n[1], n[2]);
    const auto fail = [&](const std::string& detail) {
        out.why = onto + " (" + detail + ")";
        if (const auto fits = grid_of(points->c); fits && *fits != n)
            out.why += "; they lie on a " + grid_text((*fits)[0], (*fits)[1], (*fits)[2]) + " grid";
        return out;
    };

    // No unfolding reaches more grid points than the stars hold: this bounds the memory
    // and time below by what the listing holds.
    const std::int64_t size = g.points();
    const auto reach = static_cast<std::int64_t>(points->listed.size()) * 2 * distinct;
    if (size > reach)
        return fail("the grid has more points than " + std::to_string(points->listed.size()) +
                    " irreducible k-points reach with " + std::to_string(distinct) + " rotations");

    // The mesh's shift, and the mesh the listing prints, if it does.
    std::array<double, 3> shift{};
    for (std::size_t a = 0; a < 3; ++a) {
        const auto s = axis_shift(points->c, a, n[a]);
        if (!s) {
            for (std::size_t k = 0; k < points->c.size(); ++k)
                if (!lies_on(points->c[k][a], n[a], 0) && !lies_on(points->c[k][a], n[a], 0.5))
                    return fail(point_text(points->listed[k], points->c[k]) + " lies off the grid");
        }
        shift[a] = s.value_or(0);
    }
    if (m.mesh && *m.mesh != n)
        return fail("the listing's mesh is " + grid_text((*m.mesh)[0], (*m.mesh)[1], (*m.mesh)[2]));
    if (m.mesh_general) return fail("the listing's mesh is not laid along the reciprocal vectors");
    if (m.mesh_shift)
        for (std::size_t a = 0; a < 3; ++a)
            if (std::fabs((*m.mesh_shift)[a] - shift[a]) > 1e-6) {
                char text[240];
                std::snprintf(text, sizeof text, "the listing's mesh is shifted by %g %g %g steps, its k-points by %g %g %g",
                              (*m.mesh_shift)[0], (*m.mesh_shift)[1], (*m.mesh_shift)[2], shift[0], shift[1], shift[2]);
                return fail(text);
            }

    // Integer coordinates: a k-point at c is X = 2 N c, N the least common multiple of the
    // axes' counts, so that every rotation acts exactly.  A grid point of axis j sits at
    // X_j = d_j (2 m_j + 2 s_j) with d_j = N / n_j: divisible by d_j, with the parity of
    // 2 s_j.  (N is at most the grid's size, bounded above.)
    const std::int64_t lcm = std::lcm(std::lcm(n[0], n[1]), n[2]);
    std::array<std::int64_t, 3> d{}, twice_shift{};
    for (std::size_t a = 0; a < 3; ++a) {
        d[a] = lcm / n[a];
        twice_shift[a] = shift[a] == 0 ? 0 : 1;
    }
    std::vector<int3x3> group = ops->m;
    if (time_reversal) {
        for (const auto& x : ops->m) group.push_back(negated(x));
        std::sort(group.begin(), group.end());
        group.erase(std::unique(group.begin(), group.end()), group.end());
    }

    std::vector<std::int32_t> owner(static_cast<std::size_t>(size), -1);
    std::vector<char> contested(static_cast<std::size_t>(size), 0);
    std::vector<std::int64_t> reached(points->listed.size(), 0), star(points->listed.size(), 0);
    std::int64_t conflicts = 0;
    std::vector<std::array<std::int64_t, 3>> images;
    for (std::size_t i = 0; i < points->listed.size(); ++i) {
        std::array<std::int64_t, 3> x{};
        for (std::size_t a = 0; a < 3; ++a) {
            const double t = reduced(points->c[i][a]) * static_cast<double>(n[a]) - shift[a];
            const auto mm = static_cast<std::int64_t>(std::round(t));  // 0 <= t <= n: a safe conversion
            x[a] = d[a] * (2 * mm + twice_shift[a]);
        }
        images.clear();
        for (const auto& r : group) {
            std::array<std::int64_t, 3> y{};
            for (std::size_t a = 0; a < 3; ++a)
                y[a] = r[a][0] * x[0] + r[a][1] * x[1] + r[a][2] * x[2];
            images.push_back({floor_mod(y[0], 2 * lcm), floor_mod(y[1], 2 * lcm), floor_mod(y[2], 2 * lcm)});
            std::int64_t index = 0;
            bool on = true;
            for (std::size_t a = 0; a < 3 && on; ++a) {
                on = y[a] % d[a] == 0 && floor_mod(y[a] / d[a] - twice_shift[a], 2) == 0;
                if (on) index = index * n[a] + floor_mod((y[a] / d[a] - twice_shift[a]) / 2, n[a]);
            }
            if (!on) continue;  // an image off the grid: the mesh breaks this symmetry
            auto& o = owner[static_cast<std::size_t>(index)];
            if (o < 0) {
                o = static_cast<std::int32_t>(i);
                ++reached[i];
            } else if (o != static_cast<std::int32_t>(i) && !contested[static_cast<std::size_t>(index)]) {
                contested[static_cast<std::size_t>(index)] = 1;
                ++conflicts;
            }
        }
        std::sort(images.begin(), images.end());
        star[i] = std::unique(images.begin(), images.end()) - images.begin();
    }

    // (a), (b), (c).
    const auto unreached = std::count(owner.begin(), owner.end(), -1);
    if (unreached > 0) return fail(std::to_string(unreached) + " grid points unreached");
    if (conflicts > 0)
        return fail(std::to_string(conflicts) + " grid points reached from two irreducible k-points");
    double weights = 0, stars = 0;
    for (std::size_t i = 0; i < reached.size(); ++i) {
        weights += points->weight[i];
        stars += static_cast<double>(star[i]);
    }
    const auto disagreeing = [&](auto share, double tolerance, bool normalised) {
        std::int64_t count = 0;
        for (std::size_t i = 0; i < reached.size(); ++i) {
            const double w = normalised ? points->weight[i] / weights : points->weight[i];
            count += !(std::fabs(share(i) - w) <= tolerance);
        }
        return count;
    };
    const auto grid_share = [&](std::size_t i) { return static_cast<double>(reached[i]) / static_cast<double>(size); };
    const auto star_share = [&](std::size_t i) { return static_cast<double>(star[i]) / stars; };
    std::int64_t wrong = 0;
    if (points->kind == wedge::printed) {
        wrong = disagreeing(grid_share, 6e-4, false);
    } else if (!(weights > 0)) {
        wrong = static_cast<std::int64_t>(reached.size());
    } else {
        wrong = std::min(disagreeing(grid_share, 1e-6, true), disagreeing(star_share, 1e-6, true));
    }
    if (wrong > 0) return fail("the weights of " + std::to_string(wrong) + " irreducible k-points are not their shares of the grid");

    // The full-zone list maps every grid point itself: the map must be the same.
    if (m.zone_list) {
        std::int64_t differ = 0;
        for (const auto& z : m.zone) {
            if (z.weight == 0) continue;
            std::int64_t index = 0;
            bool on = true;
            for (std::size_t a = 0; a < 3 && on; ++a) {
                on = lies_on(z.c[a], n[a], shift[a]);
                const double t = reduced(z.c[a]) * static_cast<double>(n[a]) - shift[a];
                if (on) index = index * n[a] + floor_mod(static_cast<std::int64_t>(std::round(t)), n[a]);
            }
            const auto o = on ? owner[static_cast<std::size_t>(index)] : -1;
            differ += o < 0 || points->listed[static_cast<std::size_t>(o)] != z.index - 1;
        }
        if (differ > 0) return fail("the full-zone list maps " + std::to_string(differ) + " grid points otherwise");
    }

    unfolding u;
    u.kpoint_at.resize(owner.size());
    for (std::size_t p = 0; p < owner.size(); ++p) u.kpoint_at[p] = points->listed[static_cast<std::size_t>(owner[p])];
    u.irreducible = points->listed;
    u.shift = shift;
    u.rotations = distinct;
    u.time_reversal = time_reversal;
    u.source = ops->source;
    out.done = std::move(u);
    return out;
}

std::string unfolded_note(const unfolding& u, const grid& g) {
    return "bandcut: note: unfolded " + std::to_string(u.irreducible.size()) + " irreducible k-points onto the " +
           grid_text(g.nkx, g.nky, g.nkz) + " grid (" + std::to_string(u.rotations) + " rotations" +
           (u.time_reversal ? " with time reversal" : "") + ", from " + u.source + ")\n";
}

}  // namespace bandcut

namespace bandcut {

grid_map map_grid(const listing& bands, const grid& g) {
    grid_map map;
    const bool fits = g.points() <= bands.nkpts;
    placement placed;
    if (fits) placed = place_on_grid(bands, g);
    if (placed.placed()) {
        if (placed.shifted()) map.said = shift_warning(placed.shift);
        map.kpoint_at = std::move(placed.kpoint_at);
        return map;
    }
    auto unfolded = unfold(bands, g);
    if (unfolded.done) {
        map.said = unfolded_note(*unfolded.done, g);
        if (unfolded.done->shift != std::array<double, 3>{}) map.said += shift_warning(unfolded.done->shift);
        map.kpoint_at = std::move(unfolded.done->kpoint_at);
        map.counted = std::move(unfolded.done->irreducible);
    } else if (!fits) {
        char head[160];
        std::snprintf(head, sizeof head, "the grid %d x %d x %d needs %lld k-points but the listing has %d (NKPTS); ",
                      g.nkx, g.nky, g.nkz, static_cast<long long>(g.points()), bands.nkpts);
        map.refused = head + unfolded.why;
    } else {
        map.said = listing_order_warning(bands, g, placed, "; " + unfolded.why);
    }
    return map;
}

}  // namespace bandcut
