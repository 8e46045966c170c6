#include "frmsf.hpp"

#include "block_writer.hpp"
#include "columns.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace bandcut {

frmsf_layout frmsf_kind(const grid& g, const std::array<double, 3>& shift) {
    const std::array<std::int32_t, 3> n{g.nkx, g.nky, g.nkz};
    bool unshifted = true, shifted = true, monkhorst_pack = true;
    for (std::size_t a = 0; a < 3; ++a) {
        unshifted = unshifted && shift[a] == 0;
        shifted = shifted && shift[a] == 0.5;
        monkhorst_pack = monkhorst_pack && (n[a] % 2 == 0 ? shift[a] == 0.5 : shift[a] == 0);
    }
    if (unshifted) return {1, true};
    if (shifted) return {2, true};
    if (monkhorst_pack) return {0, true};
    return {1, false};
}

std::int64_t frmsf_index(int kind, std::int64_t i, std::int64_t n) {
    // Kind 0's first value lies floor(n/2) steps below the zone centre.
    return kind == 0 ? (i + n - n / 2) % n : i;
}

std::array<double, 3> velocity_of(const std::array<double, 3>& d, const std::array<dvec3, 3>& direct) {
    // grad_k E = (1/2 pi) sum_i (dE/dx_i) a_i, in eV A; over hbar, in A/s; 1e-10 m per A.
    constexpr double pi = 3.14159265358979323846;
    constexpr double metres_a_second = 1e-10 / (2 * pi * hbar_ev_s);
    std::array<double, 3> v{};
    for (std::size_t c = 0; c < 3; ++c) v[c] = (d[0] * direct[0][c] + d[1] * direct[1][c] + d[2] * direct[2][c]) * metres_a_second;
    return v;
}

namespace {

void write_head(block_writer& w, const listing& bands, const grid& g, int kind, std::size_t nsel) {
    w.integer(g.nkx);
    w.text(" ");
    w.integer(g.nky);
    w.text(" ");
    w.integer(g.nkz);
    w.text("\n");
    w.integer(kind);
    w.text("\n");
    w.integer(static_cast<std::int64_t>(nsel));
    w.text("\n");
    for (const vec3& b : bands.reciprocal) {
        for (std::size_t c = 0; c < 3; ++c) {
            w.scientific(static_cast<double>(b[c]));
            w.text(c == 2 ? "\n" : " ");
        }
    }
}

// Calls f(n) for the grid point of each value in the file's order: the kind's first index
// slowest, the third fastest.
template <class F>
void each_point(const grid& g, int kind, F f) {
    for (std::int64_t i = 0; i < g.nkx; ++i) {
        const std::int64_t ix = frmsf_index(kind, i, g.nkx);
        for (std::int64_t j = 0; j < g.nky; ++j) {
            const std::int64_t iy = frmsf_index(kind, j, g.nky);
            for (std::int64_t l = 0; l < g.nkz; ++l) f(ix, iy, frmsf_index(kind, l, g.nkz));
        }
    }
}

}  // namespace

bool write_frmsf(std::FILE* out, const listing& bands, float ef, const grid& g, std::span<const std::int64_t> nstore,
                 grid_source values, const std::array<double, 3>& shift, const write_options& options) {
    const int kind = frmsf_kind(g, shift).kind;
    block_writer w(out, options.block);
    write_head(w, bands, g, kind, nstore.size());
    const std::size_t used = entries_used(bands, g, values);
    const std::size_t group = bands_per_gather(nstore.size(), used, options.gather);
    const auto columns = column_room(nstore.empty() ? 0 : group * used);
    const auto on_grid = column_room(nstore.empty() ? 0 : static_cast<std::size_t>(g.points()));
    // The energies of every band, then the speeds of every band: two passes over the table,
    // or one where the columns hold every band.
    std::size_t held = SIZE_MAX;  // the first band of the group in the columns
    for (const bool speeds : {false, true}) {
        for (std::size_t first = 0; first < nstore.size(); first += group) {
            const auto these = nstore.subspan(first, std::min(group, nstore.size() - first));
            if (held != first) gather_columns(bands, these, used, columns.get());
            held = first;
            for (std::size_t j = 0; j < these.size(); ++j) {
                // The band in grid order: the neighbours of the differences lie at fixed strides.
                const float* column = columns.get() + j * used;
                for (std::int64_t n = 0; n < g.points(); ++n)
                    on_grid[static_cast<std::size_t>(n)] = grid_value(column, values, n);
                const auto value = [&](std::int64_t n) { return on_grid[static_cast<std::size_t>(n)]; };
                each_point(g, kind, [&](std::int64_t ix, std::int64_t iy, std::int64_t iz) {
                    if (!speeds) {
                        w.real_line(value((ix * g.nky + iy) * g.nkz + iz) - ef);
                        return;
                    }
                    const auto v = velocity_of(grid_derivatives(g, ix, iy, iz, value), bands.direct_double);
                    w.real_line(static_cast<float>(std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]) / 1e5));
                });
                if (!w.ok()) return false;  // a full disk: stop at once
            }
        }
    }
    return w.flush() && std::fflush(out) == 0;
}

}  // namespace bandcut
