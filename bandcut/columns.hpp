// The energies of the selected bands at the entries a grid takes (a listed k-point, or
// one with its spin components swapped), gathered out of the band table in one pass along
// its rows: reading one band down the table would touch a cache line per k-point, all of
// them missing.  Every writer of a grid file reads its values from these columns.
#pragma once

#include "bandgrid.hpp"
#include "grid.hpp"
#include "listing.hpp"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace bandcut {

// How many entries a grid's values come from: the first nkx * nky * nkz listed k-points
// in listing order; else every listed k-point, and each again with its spin components
// swapped where the map swaps any.
std::size_t entries_used(const listing& bands, const grid& g, grid_source values);

// How many bands to gather at once: as many as `bytes` hold, at least one.
std::size_t bands_per_gather(std::size_t bands, std::size_t used, std::size_t bytes);

// The energies of bands `these` (s * NBANDS + b) at the entries' slots 0 .. used-1
// (grid_entry::slot: a listed k-point k, or k + NKPTS with its spin components swapped),
// band j's at columns[j * used + slot].
void gather_columns(const listing& bands, std::span<const std::int64_t> these, std::size_t used, float* columns);

// Room for `n` values that are about to be written: not cleared first (megabytes).
inline std::unique_ptr<float[]> column_room(std::size_t n) { return std::unique_ptr<float[]>(new float[n]); }

// The value of grid point n (the third index fastest) in a band's column.
inline float grid_value(const float* column, const grid_source& values, std::int64_t n) {
    return column[values.kpoint_at.empty() ? static_cast<std::size_t>(n)
                                           : static_cast<std::size_t>(values.kpoint_at[static_cast<std::size_t>(n)].slot(values.nkpts))];
}

}  // namespace bandcut
