#include "cut_state.hpp"

#include "frmsf.hpp"
#include "selection.hpp"

#include <new>

namespace bandcut {

float cut_state::energy(int s, std::int32_t b, std::int64_t n) const {
    const grid_entry e = kpoint_at.empty() ? grid_entry{static_cast<std::int32_t>(n), false}
                                           : kpoint_at[static_cast<std::size_t>(n)];
    return bands.eband[static_cast<std::size_t>(e.spin(s))]
                      [static_cast<std::size_t>(e.kpoint()) * static_cast<std::size_t>(bands.nbands) + static_cast<std::size_t>(b)];
}

std::array<double, 3> cut_state::velocity(int s, std::int32_t b, std::int64_t n) const {
    const std::int64_t iz = n % g.nkz, iy = n / g.nkz % g.nky, ix = n / g.nkz / g.nky;
    const auto value = [&](std::int64_t p) { return energy(s, b, p); };
    return velocity_of(grid_derivatives(g, ix, iy, iz, value), bands.direct_double);
}

grid_source cut_state::values() const {
    bool swaps = false;
    for (const auto e : counted) swaps = swaps || e.swapped();
    return {kpoint_at, swaps, bands.nkpts};
}

namespace {

void run(cut_state& r, std::FILE* in, std::string_view name, std::optional<float> ef, const cut_options& options) {
    const auto failure = read_listing(in, r.bands, options.read);
    r.ef = ef.value_or(r.bands.efermi);
    echo_listing(r.said, r.bands, r.ef);
    if (failure) {
        r.unreadable = failure->unreadable;
        return refuse(r.said, failure->why, name, failure->line, failure_words(*failure));
    }
    note_sets(r.said, r.bands);
    auto budget = symmetry_budget::for_listing(r.bands.bytes);
    if (options.symmetry_seconds) budget.seconds = *options.symmetry_seconds;
    grid_map map = map_grid(r.bands, r.g, budget, r.ef);
    explain_route(r.said, name, r.bands, r.g, map);
    if (map.how == grid_map::route::refused) return;
    r.how = map.how;
    if (map.how == grid_map::route::placed) r.shift = map.placed.shift;
    if (map.how == grid_map::route::unfolded) r.shift = map.unfolded->shift;
    r.kpoint_at = std::move(map.kpoint_at);
    r.counted = std::move(map.counted);
    r.selected = select_bands(r.bands, r.ef, r.counted);
    if (r.selected.empty()) explain_no_crossing(r.said, r.bands, r.ef, nearest_band_edges(r.bands, r.ef, r.counted));
    r.ok = true;
}

}  // namespace

cut_state run_cut(std::FILE* in, std::string_view name, const grid& g, std::optional<float> ef, const cut_options& options) {
    cut_state r;
    r.g = g;
    if (g.points() == 0) {
        refuse_empty_grid(r.said, g);
        return r;
    }
    try {
        run(r, in, name, ef, options);
    } catch (const std::bad_alloc&) {
        r.ok = false;
        say_out_of_memory(r.said);
    }
    return r;
}

cut_state run_cut(const std::string& path, const grid& g, std::optional<float> ef, const cut_options& options) {
    if (g.points() > 0) {
        std::FILE* in = std::fopen(path.c_str(), "r");
        if (!in) {
            cut_state r;
            r.g = g;
            r.unreadable = true;
            refuse_cannot_open(r.said, path);
            return r;
        }
        cut_state r = run_cut(in, path, g, ef, options);
        std::fclose(in);
        return r;
    }
    return run_cut(static_cast<std::FILE*>(nullptr), path, g, ef, options);
}

}  // namespace bandcut
