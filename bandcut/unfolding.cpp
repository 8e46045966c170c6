#include "unfolding.hpp"

#include "symmetry.hpp"
#include "wedge.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numeric>
#include <optional>

namespace bandcut {

namespace {

// How far an irreducible point may lie from its grid point, in steps: the rounding of the
// six- or eight-decimal lists, with room to spare.
constexpr double on_grid = 2e-3;

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

// floor(a / b)'s remainder for b > 0.
std::int64_t floor_mod(std::int64_t a, std::int64_t b) {
    const std::int64_t r = a % b;
    return r < 0 ? r + b : r;
}

using point3 = std::array<std::int64_t, 3>;

// The mesh in integer coordinates: a k-point at c is X = 2 N c, N the least common
// multiple of the axes' counts, so that every operation acts exactly.  A grid point of
// axis j sits at X_j = d_j (2 m_j + 2 s_j) with d_j = N / n_j: divisible by d_j, with the
// parity of 2 s_j.  (N is at most the grid's size, which the reach of the stars bounds.)
struct integer_mesh {
    point3 n{}, d{}, twice_shift{};
    std::int64_t lcm = 1;
    std::array<double, 3> shift{};

    integer_mesh(const grid& g, const std::array<double, 3>& s) : n{g.nkx, g.nky, g.nkz}, shift(s) {
        lcm = std::lcm(std::lcm(n[0], n[1]), n[2]);
        for (std::size_t a = 0; a < 3; ++a) {
            d[a] = lcm / n[a];
            twice_shift[a] = s[a] == 0 ? 0 : 1;
        }
    }
    // The integer coordinates of the grid point at c (on the mesh, within on_grid).
    point3 at(const dvec3& c) const {
        point3 x{};
        for (std::size_t a = 0; a < 3; ++a) {
            const double t = reduced(c[a]) * static_cast<double>(n[a]) - shift[a];
            const auto m = static_cast<std::int64_t>(std::round(t));  // 0 <= t <= n: a safe conversion
            x[a] = d[a] * (2 * m + twice_shift[a]);
        }
        return x;
    }
    // The grid point n = (ix nky + iy) nkz + iz at integer coordinates y; -1 off the mesh.
    std::int64_t index(const point3& y) const {
        std::int64_t i = 0;
        for (std::size_t a = 0; a < 3; ++a) {
            if (y[a] % d[a] != 0 || floor_mod(y[a] / d[a] - twice_shift[a], 2) != 0) return -1;
            i = i * n[a] + floor_mod((y[a] / d[a] - twice_shift[a]) / 2, n[a]);
        }
        return i;
    }
    point3 apply(const int3x3& m, const point3& x) const {
        point3 y{};
        for (std::size_t a = 0; a < 3; ++a) y[a] = floor_mod(m[a][0] * x[0] + m[a][1] * x[1] + m[a][2] * x[2], 2 * lcm);
        return y;
    }
};

// The shift of the mesh the irreducible points lie on, checked against the grid and the
// mesh the listing prints; `detail` says what disagrees.
std::optional<std::array<double, 3>> mesh_shift(const wedge& w, const mesh_sections& m, const grid& g, finding& detail) {
    const point3 n{g.nkx, g.nky, g.nkz};
    std::array<double, 3> shift{};
    for (std::size_t a = 0; a < 3; ++a) {
        if (const auto s = axis_shift(w.c, a, n[a])) {
            shift[a] = *s;
            continue;
        }
        for (std::size_t k = 0; k < w.c.size(); ++k)
            if (!lies_on(w.c[k][a], n[a], 0) && !lies_on(w.c[k][a], n[a], 0.5)) {
                detail = at_point(found(cause::point_off_grid), w.listed[k], w.c[k]);
                return std::nullopt;
            }
        detail = found(cause::mixed_shifts, static_cast<std::int64_t>(a + 1));
        return std::nullopt;
    }
    if (m.mesh && *m.mesh != n) {
        detail = found(cause::listing_mesh, (*m.mesh)[0], (*m.mesh)[1], (*m.mesh)[2]);
        return std::nullopt;
    }
    if (m.mesh_general) {
        detail = found(cause::mesh_not_along);
        return std::nullopt;
    }
    if (m.mesh_shift)
        for (std::size_t a = 0; a < 3; ++a)
            if (std::fabs((*m.mesh_shift)[a] - shift[a]) > 1e-6) {
                detail = found(cause::mesh_shift);
                detail.x = *m.mesh_shift;
                detail.y = shift;
                return std::nullopt;
            }
    return shift;
}

int3x3 negated(int3x3 m) {
    for (auto& row : m)
        for (auto& x : row) x = -x;
    return m;
}

// A set of operations to unfold with: the calculation's, with time reversal added, each
// named for the messages by its table row (0: one of the structure's) and whether it is
// taken with k -> -k.
struct operation_name {
    std::int64_t row = 0;
    bool negated = false;
};

struct operation_set {
    std::vector<kpoint_operation> ops;  // sorted
    std::vector<operation_name> names;
    std::int64_t rotations = 0, reversing = 0;
};

operation_set make_set(const calculation_symmetry& sym, bool keeping_only) {
    std::vector<std::pair<kpoint_operation, operation_name>> named;
    for (std::size_t i = 0; i < sym.ops.size(); ++i) {
        if (keeping_only && sym.ops[i].swaps) continue;
        named.emplace_back(sym.ops[i], operation_name{sym.rows[i], false});
        if (sym.time_reversal)
            named.emplace_back(kpoint_operation{negated(sym.ops[i].m), sym.ops[i].swaps}, operation_name{sym.rows[i], true});
    }
    std::sort(named.begin(), named.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    operation_set set;
    std::vector<int3x3> rotations, reversing;
    for (std::size_t i = 0; i < named.size(); ++i) {
        if (i > 0 && named[i].first == named[i - 1].first) continue;
        set.ops.push_back(named[i].first);
        set.names.push_back(named[i].second);
    }
    for (std::size_t i = 0; i < sym.ops.size(); ++i) {
        if (keeping_only && sym.ops[i].swaps) continue;
        rotations.push_back(sym.ops[i].m);
        if (sym.ops[i].swaps) reversing.push_back(sym.ops[i].m);
    }
    for (auto* v : {&rotations, &reversing}) {
        std::sort(v->begin(), v->end());
        v->erase(std::unique(v->begin(), v->end()), v->end());
    }
    set.rotations = static_cast<std::int64_t>(rotations.size());
    set.reversing = static_cast<std::int64_t>(reversing.size());
    return set;
}

// Why the set is no group (empty when it is): a map built from a set that is not closed
// reaches points no symmetry of the crystal relates.
finding group_fault(const operation_set& set, op_source source) {
    const auto has = [&](const kpoint_operation& x) { return std::binary_search(set.ops.begin(), set.ops.end(), x); };
    const int3x3 identity{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
    finding f;
    f.source = source;
    if (!has({identity, false})) return f.why = cause::no_identity, f;
    for (std::size_t i = 0; i < set.ops.size(); ++i)
        for (std::size_t j = 0; j < set.ops.size(); ++j)
            if (!has({product(set.ops[i].m, set.ops[j].m), set.ops[i].swaps != set.ops[j].swaps})) {
                f.why = cause::no_group;
                f.n = {set.names[i].row, set.names[j].row, 0};
                f.negated = {set.names[i].negated, set.names[j].negated};
                return f;
            }
    return {};
}

// Where the stars of the irreducible points fall on the grid.
struct star_walk {
    enum : unsigned char { by_keeping = 1, by_reversing = 2 };
    std::vector<std::int32_t> owner;    // per grid point: the irreducible point (index into the wedge), -1 unreached
    std::vector<unsigned char> reach;   // per grid point: by_keeping | by_reversing
    std::vector<std::int64_t> reached;  // per irreducible point: grid points it owns
    std::vector<std::int64_t> star;     // per irreducible point: distinct images, on the grid or off it
    std::int64_t conflicts = 0;         // grid points reached from two irreducible points
};

star_walk walk(const operation_set& set, const wedge& w, const integer_mesh& mesh, std::int64_t size) {
    star_walk s;
    s.owner.assign(static_cast<std::size_t>(size), -1);
    s.reach.assign(static_cast<std::size_t>(size), 0);
    s.reached.assign(w.listed.size(), 0);
    s.star.assign(w.listed.size(), 0);
    std::vector<char> contested(static_cast<std::size_t>(size), 0);
    std::vector<point3> images;
    for (std::size_t i = 0; i < w.listed.size(); ++i) {
        const point3 x = mesh.at(w.c[i]);
        images.clear();
        for (const auto& op : set.ops) {
            const point3 y = mesh.apply(op.m, x);
            images.push_back(y);
            const std::int64_t at = mesh.index(y);
            if (at < 0) continue;  // an image off the grid: the mesh breaks this symmetry
            auto& o = s.owner[static_cast<std::size_t>(at)];
            if (o < 0) {
                o = static_cast<std::int32_t>(i);
                ++s.reached[i];
            } else if (o != static_cast<std::int32_t>(i) && !contested[static_cast<std::size_t>(at)]) {
                contested[static_cast<std::size_t>(at)] = 1;
                ++s.conflicts;
            }
            if (o == static_cast<std::int32_t>(i)) s.reach[static_cast<std::size_t>(at)] |= op.swaps ? star_walk::by_reversing : star_walk::by_keeping;
        }
        std::sort(images.begin(), images.end());
        s.star[i] = std::unique(images.begin(), images.end()) - images.begin();
    }
    return s;
}

// The bands that can reach the file: up to the highest whose range over the listed points
// straddles Ef (the one asked for, or the run's own), in either spin component.
std::int64_t bands_that_can_reach(const listing& bands, const wedge& w, float ef) {
    std::int64_t highest = -1;
    const auto nbands = static_cast<std::size_t>(bands.nbands);
    for (int s = 0; s < bands.nspin; ++s)
        for (std::size_t b = 0; b < nbands; ++b) {
            float lo = std::numeric_limits<float>::infinity(), hi = -lo;
            for (const auto k : w.listed) {
                const float e = bands.eband[static_cast<std::size_t>(s)][static_cast<std::size_t>(k) * nbands + b];
                lo = std::min(lo, e);
                hi = std::max(hi, e);
            }
            for (const float level : {ef, bands.efermi})
                if (lo < level && level < hi) highest = std::max(highest, static_cast<std::int64_t>(b));
        }
    return highest + 1;
}

// What the energies say of the spin action: the listed points where a band that can
// reach the file has spin components more than 3 meV apart.
spin_evidence evidence_of(const listing& bands, const wedge& w, std::int64_t compared) {
    spin_evidence ev;
    ev.compared = compared;
    if (bands.nspin != 2) return ev;
    const auto nbands = static_cast<std::size_t>(bands.nbands);
    for (std::size_t i = 0; i < w.listed.size(); ++i) {
        const std::size_t row = static_cast<std::size_t>(w.listed[i]) * nbands;
        for (std::size_t b = 0; b < static_cast<std::size_t>(compared); ++b) {
            const double split = std::fabs(static_cast<double>(bands.eband[0][row + b]) - bands.eband[1][row + b]);
            if (!(split <= spin_tolerance)) {
                ev.splits.push_back({w.listed[i], w.c[i], static_cast<std::int64_t>(b), split});
                break;
            }
        }
    }
    return ev;
}

// Where a reversing operation meets a keeping one on a grid point (as where it leaves an
// irreducible point where it is: the identity keeps), the irreducible point's spin
// components must be equal, over the bands that can reach the file: else the operation
// does not reverse the calculation's moments.  The refutation names the point and band.
finding spin_fault(const listing& bands, const wedge& w, const star_walk& s, const spin_evidence& ev) {
    std::vector<char> both(static_cast<std::size_t>(bands.nkpts), 0);  // per listed k-point
    for (std::size_t p = 0; p < s.owner.size(); ++p)
        if (s.reach[p] == (star_walk::by_keeping | star_walk::by_reversing))
            both[static_cast<std::size_t>(w.listed[static_cast<std::size_t>(s.owner[p])])] = 1;
    for (const auto& split : ev.splits) {  // in the wedge's order: the first such point is named
        if (!both[static_cast<std::size_t>(split.listed)]) continue;
        finding r = at_point(found(cause::spin_refuted, ev.compared), split.listed, split.c);
        r.band = split.band;
        r.value = split.by;
        return r;
    }
    return {};
}

// Irreducible points whose share of the grid is not their weight's share.
std::int64_t wrong_weights(const wedge& w, const star_walk& s, std::int64_t size) {
    double weights = 0, stars = 0;
    for (std::size_t i = 0; i < w.listed.size(); ++i) {
        weights += w.weight[i];
        stars += static_cast<double>(s.star[i]);
    }
    const auto disagreeing = [&](auto share, double tolerance, bool normalised) {
        std::int64_t count = 0;
        for (std::size_t i = 0; i < w.listed.size(); ++i)
            count += !(std::fabs(share(i) - (normalised ? w.weight[i] / weights : w.weight[i])) <= tolerance);
        return count;
    };
    const auto grid_share = [&](std::size_t i) { return static_cast<double>(s.reached[i]) / static_cast<double>(size); };
    const auto star_share = [&](std::size_t i) { return static_cast<double>(s.star[i]) / stars; };
    if (w.kind == wedge::printed) return disagreeing(grid_share, 6e-4, false);
    if (!(weights > 0)) return static_cast<std::int64_t>(w.listed.size());
    return std::min(disagreeing(grid_share, 1e-6, true), disagreeing(star_share, 1e-6, true));
}

// The full-zone list maps every grid point itself: the map must be the same, and (unless
// `marks` is false) its rows marked "spinflp" must be those a reversing operation reaches.
finding zone_fault(const mesh_sections& m, const wedge& w, const star_walk& s, const integer_mesh& mesh, bool marks) {
    std::int64_t differ = 0, flips = 0;
    for (const auto& z : m.zone) {
        if (z.weight == 0) continue;
        const bool on = lies_on(z.c[0], mesh.n[0], mesh.shift[0]) && lies_on(z.c[1], mesh.n[1], mesh.shift[1]) &&
                        lies_on(z.c[2], mesh.n[2], mesh.shift[2]);
        const std::int64_t at = on ? mesh.index(mesh.at(z.c)) : -1;
        const auto o = at >= 0 ? s.owner[static_cast<std::size_t>(at)] : -1;
        if (o < 0 || w.listed[static_cast<std::size_t>(o)] != z.index - 1) {
            ++differ;
        } else if (marks &&
                   !(s.reach[static_cast<std::size_t>(at)] & (z.spin_flip ? star_walk::by_reversing : star_walk::by_keeping))) {
            ++flips;
        }
    }
    if (differ > 0) return found(cause::zone_maps, differ);
    if (flips > 0) return found(cause::zone_marks, flips);
    return {};
}

// How a proof failed: the map (a count, the weights, the full-zone list), the operations
// themselves (no group), or the spin check (the energies refute the reversing ones).
enum class failed { map, group, spin };

// The proof for one set of operations, and the map it gives; `detail` says what failed.
// `marks`: whether the full-zone list's "spinflp" marks must match.
std::optional<unfolding> prove(const listing& bands, const wedge& w, const operation_set& set,
                               const calculation_symmetry& sym, const integer_mesh& mesh, std::int64_t size,
                               const spin_evidence& ev, bool marks, finding& detail, failed& how) {
    how = failed::group;
    if (detail = group_fault(set, sym.source); detail) return std::nullopt;
    how = failed::map;
    const star_walk s = walk(set, w, mesh, size);
    const auto unreached = std::count(s.owner.begin(), s.owner.end(), -1);
    if (unreached > 0) return detail = found(cause::unreached, unreached), std::nullopt;
    if (s.conflicts > 0) return detail = found(cause::reached_twice, s.conflicts), std::nullopt;
    if (bands.nspin == 2 && set.reversing > 0)
        if (detail = spin_fault(bands, w, s, ev); detail) return how = failed::spin, std::nullopt;
    if (const auto wrong = wrong_weights(w, s, size); wrong > 0) return detail = found(cause::weights_off, wrong), std::nullopt;
    if (bands.mesh.zone_list)
        if (detail = zone_fault(bands.mesh, w, s, mesh, marks); detail) return std::nullopt;
    unfolding u;
    u.kpoint_at.resize(s.owner.size());
    for (std::size_t p = 0; p < s.owner.size(); ++p)
        u.kpoint_at[p] = {w.listed[static_cast<std::size_t>(s.owner[p])],
                          !(s.reach[p] & star_walk::by_keeping)};  // reached only by reversing: swapped
    u.irreducible = w.listed;
    u.shift = mesh.shift;
    u.rotations = set.rotations;
    u.reversing = set.reversing;
    u.time_reversal = sym.time_reversal;
    u.source = sym.source;
    u.moments = sym.moments;
    u.spins_agree = sym.spins_agree;
    u.by_energies = sym.by_energies;
    u.compared = ev.compared;
    return u;
}

}  // namespace

unfold_outcome unfold(const listing& bands, const grid& g, const symmetry_budget& budget, float ef) {
    unfold_outcome out;
    const mesh_sections& m = bands.mesh;
    if (m.band_path) return out.why = found(cause::band_path), out;
    auto points = irreducible_points(bands, out.why);
    if (!points) return out;
    const spin_evidence evidence = evidence_of(bands, *points, bands_that_can_reach(bands, *points, ef));
    auto sym = symmetry_of(bands, budget, evidence, out.why);
    if (!sym) return out;

    // The whole set, and where it reverses moments, the set that keeps them, which stands
    // on its own only where the listing's count of operations is its, or the energies
    // refute the reversing ones.
    const operation_set whole = make_set(*sym, false);
    std::optional<operation_set> keeping;
    if (whole.reversing > 0) keeping = make_set(*sym, true);
    const auto counted = [&](const operation_set& s) { return !m.operations_found || s.rotations == *m.operations_found; };
    if (!counted(whole) && !(keeping && counted(*keeping))) {
        out.why = found(cause::operations_count, *m.operations_found, whole.rotations);
        out.why.source = sym->source;
        return out;
    }
    // Every failure of the map is said with the points, the grid and the grid they lie on.
    const auto framed = [&](finding f) {
        f.listed = static_cast<std::int64_t>(points->listed.size());
        f.onto = g;
        if (const auto fits = grid_of(points->c)) f.fits = *fits;
        out.why = f;
        return out;
    };
    // No unfolding reaches more grid points than the stars hold: this bounds the memory
    // and time below by what the listing holds.
    const std::int64_t size = g.points();
    if (static_cast<double>(size) > static_cast<double>(points->listed.size()) * 2.0 * static_cast<double>(whole.rotations))
        return framed(found(cause::beyond_stars, whole.rotations));
    finding detail;
    const auto shift = mesh_shift(*points, m, g, detail);
    if (!shift) return framed(detail);
    const integer_mesh mesh(g, *shift);

    failed how = failed::map;
    if (counted(whole)) {
        if (auto u = prove(bands, *points, whole, *sym, mesh, size, evidence, true, detail, how)) {
            out.done = std::move(u);
            return out;
        }
        if (!keeping || how != failed::spin || !counted(*keeping)) return framed(detail);
    }
    const finding refusal = detail;  // the whole set's, if tried: what is said if the keeping set fails too
    if (auto u = prove(bands, *points, *keeping, *sym, mesh, size, evidence, false, detail, how)) {
        u->left_out = whole.reversing;
        if (refusal.why == cause::spin_refuted) {
            u->refuted_k = refusal.k;
            u->refuted_c = refusal.c;
            u->refuted_band = refusal.band;
        }
        out.done = std::move(u);
        return out;
    }
    return framed(refusal ? refusal : detail);
}

}  // namespace bandcut
