#include "route.hpp"

#include <new>

namespace bandcut {

namespace {

// Which listed k-points have zero weight, where the listing says so: the rows of its
// full-zone list that name themselves with weight 0 (a band path appended to a hybrid
// run's mesh).  The three-decimal weights of the k-point list cannot tell: real points
// print 0.000 there.
std::vector<char> zero_weight(const listing& bands) {
    std::vector<char> zero(static_cast<std::size_t>(bands.nkpts), 0);
    for (const auto& z : bands.mesh.zone)
        if (z.weight == 0 && z.index >= 1 && z.index <= bands.nkpts) zero[static_cast<std::size_t>(z.index - 1)] = 1;
    return zero;
}

// Every listed k-point counts but those the listing says have zero weight.
void count_weighted(grid_map& map, const listing& bands) {
    const auto zero = zero_weight(bands);
    for (std::int32_t k = 0; k < bands.nkpts; ++k) map.left_out += zero[static_cast<std::size_t>(k)];
    if (map.left_out == 0) return;  // all: no list needed
    for (std::int32_t k = 0; k < bands.nkpts; ++k)
        if (!zero[static_cast<std::size_t>(k)]) map.counted.push_back({k, false});
}

void placed(grid_map& map, const listing& bands, placement&& p) {
    map.how = grid_map::route::placed;
    for (const auto k : p.kpoint_at) map.kpoint_at.push_back({k, false});
    map.placed = std::move(p);
    count_weighted(map, bands);
    map.beyond = bands.nkpts - static_cast<std::int64_t>(map.kpoint_at.size()) - map.left_out;
}

// Every distinct entry of the unfolded map: the irreducible points, each with its spin
// components as they are and, where some grid point takes them so, swapped.
void unfolded(grid_map& map, const listing& bands, unfolding&& u) {
    map.how = grid_map::route::unfolded;
    std::vector<char> used(2 * static_cast<std::size_t>(bands.nkpts), 0);
    for (const auto e : u.kpoint_at) used[static_cast<std::size_t>(e.slot(bands.nkpts))] = 1;
    for (std::size_t slot = 0; slot < used.size(); ++slot)
        if (used[slot])
            map.counted.push_back({static_cast<std::int32_t>(slot % static_cast<std::size_t>(bands.nkpts)),
                                   slot >= static_cast<std::size_t>(bands.nkpts)});
    map.left_out = bands.nkpts - static_cast<std::int64_t>(u.irreducible.size());
    map.kpoint_at = std::move(u.kpoint_at);
    map.unfolded = std::move(u);
}

}  // namespace

grid_map map_grid(const listing& bands, const grid& g, const symmetry_budget& budget, float ef) {
    grid_map map;
    const bool fits = g.points() <= bands.nkpts;
    if (fits) {
        placement p = place_on_grid(bands, g);
        if (p.placed()) {
            placed(map, bands, std::move(p));
            return map;
        }
        map.placed = std::move(p);
    }
    unfold_outcome u;
    try {
        u = unfold(bands, g, budget, ef);
    } catch (const std::bad_alloc&) {
        u.why = found(cause::out_of_memory);  // a refusal below needs no memory
    }
    if (u.done) {
        unfolded(map, bands, std::move(*u.done));
    } else if (fits) {
        map.not_unfolded = std::move(u.why);
        map.how = grid_map::route::listing_order;
        count_weighted(map, bands);
    } else {
        map.not_unfolded = std::move(u.why);
    }
    return map;
}

}  // namespace bandcut
