#include "sheets.hpp"

#include "selection.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

namespace bandcut {

tetrahedron_share tetrahedron(std::array<double, 4> e, double ef) {
    std::sort(e.begin(), e.end());
    const double e1 = e[0], e2 = e[1], e3 = e[2], e4 = e[3];
    // Each branch divides only by differences its own condition makes positive.
    if (!(ef > e1)) return {0, 0};
    if (ef > e4) return {1, 0};
    if (ef <= e2) {
        const double d = (e2 - e1) * (e3 - e1) * (e4 - e1), x = ef - e1;
        return {x * x * x / d, 3 * x * x / d};
    }
    if (ef <= e3) {
        const double x = ef - e2, c = ((e3 - e1) + (e4 - e2)) / ((e3 - e2) * (e4 - e2)), d = (e3 - e1) * (e4 - e1);
        return {((e2 - e1) * (e2 - e1) + 3 * (e2 - e1) * x + 3 * x * x - c * x * x * x) / d,
                (3 * (e2 - e1) + 6 * x - 3 * c * x * x) / d};
    }
    const double d = (e4 - e1) * (e4 - e2) * (e4 - e3), x = e4 - ef;
    return {1 - x * x * x / d, 3 * x * x / d};
}

int split_diagonal(const grid& g, const std::array<dvec3, 3>& b) {
    const std::array<double, 3> n{static_cast<double>(g.nkx), static_cast<double>(g.nky), static_cast<double>(g.nkz)};
    static constexpr double signs[4][3] = {{1, 1, 1}, {-1, 1, 1}, {1, -1, 1}, {1, 1, -1}};
    std::array<double, 4> length{};
    for (std::size_t d = 0; d < 4; ++d) {
        double sum = 0;
        for (std::size_t c = 0; c < 3; ++c) {
            double x = 0;
            for (std::size_t i = 0; i < 3; ++i) x += signs[d][i] * b[i][c] / n[i];
            sum += x * x;
        }
        length[d] = std::sqrt(sum);
    }
    int best = 0;
    for (int d = 1; d < 4; ++d)
        if (length[static_cast<std::size_t>(d)] < length[static_cast<std::size_t>(best)] * (1 - 1e-9)) best = d;
    return best;
}

std::array<std::array<std::array<int, 3>, 4>, 6> cell_tetrahedra(int diagonal) {
    // Around (0,0,0)-(1,1,1): the six paths along the cell's edges, one per order of the
    // axes; another diagonal is the same with one axis reversed.
    static constexpr int orders[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
    std::array<std::array<std::array<int, 3>, 4>, 6> t{};
    for (std::size_t k = 0; k < 6; ++k) {
        std::array<int, 3> corner{0, 0, 0};
        t[k][0] = corner;
        for (std::size_t step = 0; step < 3; ++step) {
            corner[static_cast<std::size_t>(orders[k][step])] = 1;
            t[k][step + 1] = corner;
        }
        if (diagonal > 0)
            for (auto& c : t[k]) c[static_cast<std::size_t>(diagonal - 1)] ^= 1;
    }
    return t;
}

finding sheets_fault(const cut_state& r) {
    if (r.how == grid_map::route::listing_order) return found(cause::no_mesh);
    if (r.how == grid_map::route::refused || !r.ok) return found(cause::no_grid);
    return {};
}

double spin_factor(const cut_state& r) {
    return r.bands.nspin == 1 && !r.bands.mesh.spin_orbit && !r.bands.mesh.noncollinear ? 2.0 : 1.0;
}

namespace {

// A band's energies over the grid, the third index fastest.
std::vector<float> on_grid(const cut_state& r, int s, std::int32_t b) {
    std::vector<float> e(static_cast<std::size_t>(r.g.points()));
    for (std::size_t n = 0; n < e.size(); ++n) e[n] = r.energy(s, b, static_cast<std::int64_t>(n));
    return e;
}

// The fraction of the zone where the band lies below `ef`, and its derivative.
tetrahedron_share integrate(const cut_state& r, const std::vector<float>& e, double ef) {
    const grid& g = r.g;
    const auto shapes = cell_tetrahedra(split_diagonal(g, r.bands.reciprocal_double));
    const std::array<std::int64_t, 3> n{g.nkx, g.nky, g.nkz};
    double fraction = 0, density = 0;
    std::array<std::int64_t, 3> at{};
    for (at[0] = 0; at[0] < n[0]; ++at[0])
        for (at[1] = 0; at[1] < n[1]; ++at[1])
            for (at[2] = 0; at[2] < n[2]; ++at[2]) {
                std::array<double, 8> corner{};  // the cell's corners, offsets as bits (x: 4, y: 2, z: 1)
                for (std::size_t c = 0; c < 8; ++c) {
                    std::int64_t p = 0;
                    for (std::size_t a = 0; a < 3; ++a) p = p * n[a] + (at[a] + ((c >> (2 - a)) & 1)) % n[a];
                    corner[c] = static_cast<double>(e[static_cast<std::size_t>(p)]);
                }
                const auto [lo, hi] = std::minmax_element(corner.begin(), corner.end());
                if (*hi < ef) {
                    fraction += 6;
                    continue;
                }
                if (!(*lo < ef)) continue;
                for (const auto& t : shapes) {
                    std::array<double, 4> v{};
                    for (std::size_t k = 0; k < 4; ++k) v[k] = corner[static_cast<std::size_t>(t[k][0] * 4 + t[k][1] * 2 + t[k][2])];
                    const auto share = tetrahedron(v, ef);
                    fraction += share.fraction;
                    density += share.density;
                }
            }
    const double tetrahedra = 6.0 * static_cast<double>(g.points());
    return {fraction / tetrahedra, density / tetrahedra};
}

// Each band's lowest and highest energy over the grid's entries, s * NBANDS + b.
struct band_range {
    std::vector<float> lo, hi;
};

band_range ranges(const cut_state& r) {
    band_range out;
    const auto nbands = static_cast<std::size_t>(r.bands.nbands);
    constexpr float infinity = std::numeric_limits<float>::infinity();
    std::vector<float> lo(nbands), hi(nbands);
    for (int s = 0; s < r.bands.nspin; ++s) {
        band_extremes(r.bands, s, r.counted, lo, hi, infinity, -infinity);
        out.lo.insert(out.lo.end(), lo.begin(), lo.end());
        out.hi.insert(out.hi.end(), hi.begin(), hi.end());
    }
    return out;
}

// The count of every band at trial levels, integrating only the bands a level crosses
// (the others count whole or not at all), each band's grid kept once made.
class sea {
public:
    explicit sea(const cut_state& r) : r_(r), range_(ranges(r)), factor_(spin_factor(r)) {}

    grid_count at(double level) {
        grid_count c;
        for (std::size_t j = 0; j < range_.lo.size(); ++j) {
            if (static_cast<double>(range_.hi[j]) < level) {
                c.electrons += factor_;
            } else if (static_cast<double>(range_.lo[j]) < level) {
                auto& e = grids_[j];
                if (e.empty()) e = on_grid(r_, static_cast<int>(j / static_cast<std::size_t>(r_.bands.nbands)),
                                           static_cast<std::int32_t>(j % static_cast<std::size_t>(r_.bands.nbands)));
                const auto share = integrate(r_, e, level);
                c.electrons += factor_ * share.fraction;
                c.dos += factor_ * share.density;
            }
        }
        return c;
    }
    double lowest() const { return range_.lo.empty() ? 0 : *std::min_element(range_.lo.begin(), range_.lo.end()); }
    double highest() const { return range_.hi.empty() ? 0 : *std::max_element(range_.hi.begin(), range_.hi.end()); }
    double full() const { return factor_ * static_cast<double>(range_.lo.size()); }

private:
    const cut_state& r_;
    band_range range_;
    double factor_;
    std::map<std::size_t, std::vector<float>> grids_;
};

}  // namespace

std::vector<sheet> sheets_at(const cut_state& r, double ef) {
    std::vector<sheet> out;
    const double factor = spin_factor(r);
    const auto& a = r.bands.direct_double;
    const double volume = std::fabs(a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
                                    a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                                    a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0])) * 1e-24;  // cm^3
    for (const auto j : select_bands(r.bands, static_cast<float>(ef), r.counted)) {
        const int s = static_cast<int>(j / r.bands.nbands);
        const auto b = static_cast<std::int32_t>(j % r.bands.nbands);
        const auto share = integrate(r, on_grid(r, s, b), ef);
        sheet sh{s, b, factor * share.fraction, factor * (1 - share.fraction), 0, share.fraction >= 0.5,
                 factor * share.density};
        sh.carriers = (sh.holes_carry ? sh.holes : sh.electrons) / volume;
        out.push_back(sh);
    }
    return out;
}

grid_count electrons_below(const cut_state& r, double ef) { return sea(r).at(ef); }

std::optional<double> level_for(const cut_state& r, double electrons) {
    sea count(r);
    double lo = count.lowest(), hi = count.highest();
    if (!(electrons >= 0 && electrons <= count.full()) || !(lo <= hi)) return std::nullopt;
    // At lo no band lies below (count 0), at hi every band does (count full): the level lies
    // between.  Newton's step where it stays inside the bracket, else bisection.
    double level = std::clamp(static_cast<double>(r.ef), lo, hi);
    if (!std::isfinite(level)) level = (lo + hi) / 2;
    for (int pass = 0; pass < 200 && hi - lo > 1e-6; ++pass) {
        const auto c = count.at(level);
        if (c.electrons == electrons) return level;
        (c.electrons < electrons ? lo : hi) = level;
        const double newton = c.dos > 0 ? level + (electrons - c.electrons) / c.dos : lo - 1;
        if (newton > lo && newton < hi && std::fabs(newton - level) < 5e-7) return newton;  // converged
        level = newton > lo && newton < hi ? newton : (lo + hi) / 2;
    }
    return (lo + hi) / 2;
}

}  // namespace bandcut
