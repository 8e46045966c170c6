#include "placement.hpp"

#include <algorithm>
#include <cmath>
#include <optional>

namespace bandcut {

namespace {

// How far a product c n may lie from a whole number of steps: the printed precision
// scaled to steps, but at least 1e-3 (listings of 6 or 8 decimals) and at most a quarter
// step (grids finer than four decimals resolve cannot be placed anyway).
double step_tolerance(std::int32_t n) {
    return std::clamp(placement_tolerance * n, 1e-3, 0.25);
}

// The shift of an axis of n points whose first listed coordinate is s, in steps.  Four
// printed decimals blur it by up to 5e-5 n: within that of 0 (or 1) it is 0, within
// that of 1/2 (the usual shifted mesh, 0.0833 n = 0.4998 for n = 6) it is 1/2.
double axis_shift(float s, std::int32_t n) {
    const double x = static_cast<double>(s) * n;
    if (!std::isfinite(x)) return 0;  // no coordinates: placement fails on them anyway
    const double f = x - std::floor(x);
    const double near = step_tolerance(n);
    if (f < near || f > 1 - near) return 0.0;
    return std::fabs(f - 0.5) < near ? 0.5 : f;
}

// The grid index along an axis of n points for coordinate c of a mesh shifted by f, if c
// lies on a grid point.
std::optional<std::int64_t> axis_index(float c, double f, std::int32_t n) {
    const double t = static_cast<double>(c) * n - f;
    if (!std::isfinite(t)) return std::nullopt;
    const double nearest = std::round(t);
    if (std::fabs(t - nearest) > placement_tolerance * n) return std::nullopt;
    // |t| <= n/2 + 1 for coordinates in (-1/2, 1/2], but a listing may print anything:
    // the remainder is formed in double, where it is exact, before any conversion.
    const double i = std::fmod(nearest, static_cast<double>(n));
    return static_cast<std::int64_t>(i < 0 ? i + n : i);
}

}  // namespace

placement place_on_grid(const listing& bands, const grid& g) {
    placement p;
    const std::int64_t points = g.points();
    const std::array<std::int32_t, 3> n{g.nkx, g.nky, g.nkz};
    for (std::size_t a = 0; a < 3; ++a) p.shift[a] = axis_shift(bands.kpoint[0][a], n[a]);

    std::vector<std::int32_t> kpoint_at(static_cast<std::size_t>(points), -1);
    for (std::int64_t k = 0; k < points; ++k) {
        const vec3& c = bands.kpoint[static_cast<std::size_t>(k)];
        const auto ix = axis_index(c[0], p.shift[0], g.nkx);
        const auto iy = axis_index(c[1], p.shift[1], g.nky);
        const auto iz = axis_index(c[2], p.shift[2], g.nkz);
        p.k = k;
        if (!ix || !iy || !iz) {
            p.why = cause::kpoint_off_grid;
            return p;
        }
        auto& slot = kpoint_at[static_cast<std::size_t>((*ix * g.nky + *iy) * g.nkz + *iz)];
        if (slot >= 0) {
            p.why = cause::kpoint_repeats;
            return p;
        }
        slot = static_cast<std::int32_t>(k);
    }
    p.kpoint_at = std::move(kpoint_at);  // `points` distinct k-points on `points` grid points: every one is hit
    return p;
}

}  // namespace bandcut
