#include "placement.hpp"

#include <cmath>
#include <optional>

namespace bandcut {

namespace {

// The grid index along one axis of N points for coordinate c with origin s, if c lies on
// a grid point.
std::optional<std::int64_t> axis_index(float c, float s, std::int32_t n) {
    const double t = (static_cast<double>(c) - static_cast<double>(s)) * n;
    if (!std::isfinite(t)) return std::nullopt;
    const double nearest = std::round(t);
    if (std::fabs(t - nearest) > placement_tolerance * n) return std::nullopt;
    const auto i = static_cast<std::int64_t>(std::fmod(nearest, static_cast<double>(n)));
    return i < 0 ? i + n : i;
}

}  // namespace

std::vector<std::int32_t> place_on_grid(const listing& bands, const grid& g, std::FILE* warn) {
    const std::int64_t points = g.points();
    if (points == 0) return {};
    std::vector<std::int32_t> kpoint_at(static_cast<std::size_t>(points), -1);
    const vec3& origin = bands.kpoint[0];

    const auto give_up = [&](std::int64_t k, const char* why) {
        const vec3& c = bands.kpoint[static_cast<std::size_t>(k)];
        std::fprintf(warn,
                     "bandcut: warning: k-point %lld (%.4f %.4f %.4f) %s: the listing does not hold the full "
                     "%d x %d x %d grid; values are written in listing order\n",
                     static_cast<long long>(k + 1), static_cast<double>(c[0]), static_cast<double>(c[1]),
                     static_cast<double>(c[2]), why, g.nkx, g.nky, g.nkz);
        return std::vector<std::int32_t>{};
    };

    for (std::int64_t k = 0; k < points; ++k) {
        const vec3& c = bands.kpoint[static_cast<std::size_t>(k)];
        const auto ix = axis_index(c[0], origin[0], g.nkx);
        const auto iy = axis_index(c[1], origin[1], g.nky);
        const auto iz = axis_index(c[2], origin[2], g.nkz);
        if (!ix || !iy || !iz) return give_up(k, "is off the grid");
        auto& slot = kpoint_at[static_cast<std::size_t>((*ix * g.nky + *iy) * g.nkz + *iz)];
        if (slot >= 0) return give_up(k, "repeats a grid point");
        slot = static_cast<std::int32_t>(k);
    }
    return kpoint_at;  // points distinct k-points on points grid points: every one is hit
}

}  // namespace bandcut
