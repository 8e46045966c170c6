#include "wedge.hpp"

#include <cmath>

namespace bandcut {

namespace {

// The listed k-points' coordinates from the list with the most decimals: the k-point list
// (8 decimals), the irreducible list or the full-zone list (6), whose first NKPTS rows are
// the listed k-points in their order.  Empty when none holds them.
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

// Each row of the full-zone list is a grid point and names its irreducible point; rows
// of weight 0 are extra points, which name themselves and take no part in the grid.
bool from_zone_list(const listing& bands, wedge& w, const std::vector<dvec3>& c, finding& why) {
    std::vector<double> rows(static_cast<std::size_t>(bands.nkpts), 0.0);
    for (const auto& z : bands.mesh.zone) {
        if (z.index > bands.nkpts) {
            why = found(cause::zone_names_beyond, z.index, bands.nkpts);
            return false;
        }
        if (z.weight != 0) rows[static_cast<std::size_t>(z.index - 1)] += 1;
    }
    for (std::int32_t k = 0; k < bands.nkpts; ++k)
        if (const double n = rows[static_cast<std::size_t>(k)]; n > 0) {
            w.listed.push_back(k);
            w.c.push_back(c[static_cast<std::size_t>(k)]);
            w.weight.push_back(n);
        }
    w.kind = wedge::counts;
    return true;
}

// The irreducible list holds the listed k-points in their order, with raw weights; its
// six decimals must be the k-point list's eight.
bool from_irreducible_list(const listing& bands, wedge& w, const std::vector<dvec3>& c, finding& why) {
    for (std::int32_t k = 0; k < bands.nkpts; ++k) {
        const auto& p = bands.mesh.irreducible[static_cast<std::size_t>(k)];
        for (std::size_t a = 0; a < 3; ++a)
            if (!(std::fabs(p.c[a] - c[static_cast<std::size_t>(k)][a]) <= 1e-5)) {
                why = at_point(found(cause::lists_disagree), k, c[static_cast<std::size_t>(k)]);
                return false;
            }
        w.listed.push_back(k);
        w.c.push_back(c[static_cast<std::size_t>(k)]);
        w.weight.push_back(p.weight);
    }
    w.kind = wedge::raw;
    return true;
}

// Each block's header (four decimals) names its k-point, modulo a reciprocal lattice
// vector: blocks moved about would put energies at the wrong points.
bool headers_agree(const listing& bands, const wedge& w, finding& why) {
    for (std::size_t i = 0; i < w.listed.size(); ++i) {
        const vec3& h = bands.kpoint[static_cast<std::size_t>(w.listed[i])];
        for (std::size_t a = 0; a < 3; ++a) {
            const double d = static_cast<double>(h[a]) - w.c[i][a];
            if (!(std::fabs(d - std::round(d)) <= 1.05e-4)) {
                why = at_point(found(cause::header_differs), w.listed[i], w.c[i]);
                why.x = {static_cast<double>(h[0]), static_cast<double>(h[1]), static_cast<double>(h[2])};
                return false;
            }
        }
    }
    return true;
}

}  // namespace

std::optional<wedge> irreducible_points(const listing& bands, finding& why) {
    const mesh_sections& m = bands.mesh;
    const auto c = listed_coordinates(m, bands.nkpts);
    if (c.empty()) {
        why = found(cause::four_decimals);
        return std::nullopt;
    }
    wedge w;
    if (m.zone_list && !m.zone.empty()) {
        if (!from_zone_list(bands, w, c, why)) return std::nullopt;
    } else if (m.irreducible_list && m.irreducible.size() == static_cast<std::size_t>(bands.nkpts)) {
        if (!from_irreducible_list(bands, w, c, why)) return std::nullopt;
    } else if (m.kpoints.size() >= static_cast<std::size_t>(bands.nkpts)) {
        // Only the normalised three-decimal weights: every listed point is irreducible
        // (real points print 0.000 there, so no weight is taken to be zero).
        for (std::int32_t k = 0; k < bands.nkpts; ++k) {
            w.listed.push_back(k);
            w.c.push_back(c[static_cast<std::size_t>(k)]);
            w.weight.push_back(m.kpoints[static_cast<std::size_t>(k)].weight);
        }
        w.kind = wedge::printed;
    } else {
        why = found(cause::no_weights);
        return std::nullopt;
    }
    if (w.listed.empty()) {
        why = found(cause::no_irreducible);
        return std::nullopt;
    }
    for (const double x : w.weight)
        if (!(x >= 0) || !std::isfinite(x)) {
            why = found(cause::bad_weight);
            return std::nullopt;
        }
    if (!headers_agree(bands, w, why)) return std::nullopt;
    return w;
}

}  // namespace bandcut
