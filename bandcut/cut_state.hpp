// The run behind the public cut() (include/bandcut/cut.hpp), whole: one call reads a
// listing, maps it onto the grid, chooses the bands that cross Ef and says what it did.
// It writes nothing; the program prints the account and writes the files, the Python
// module and the later units (sheets, contours, the writers) read the run's parts.
//
//   bandcut::cut_state r = bandcut::run_cut("OUTCAR", {8, 8, 8}, 5.2f);
//   for (const auto& m : r.said) ...        // the echo, notes, warnings, a refusal
//   if (r.ok) ... r.energy(spin, band, point) ...
#pragma once

#include "account.hpp"
#include "bandgrid.hpp"
#include "grid.hpp"
#include "listing.hpp"
#include "route.hpp"

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bandcut {

struct cut_state {
    bool ok = false;           // the grid was made; otherwise the last message says why not
    bool unreadable = false;   // not made because the file could not be opened or read
    account said;     // everything the run says, in order
    listing bands;    // what was read: counts, lattice, band energies (valid when ok)
    grid g;
    float ef = 0;     // the Fermi energy the bands were chosen by
    grid_map::route how = grid_map::route::refused;
    // For each grid point what it takes from the listing; empty: the n-th listed k-point
    // (listing order).
    std::vector<grid_entry> kpoint_at;
    // The distinct entries the file holds: what band selection looks at.
    std::vector<grid_entry> counted;
    // The bands that cross ef: s * NBANDS + b, ascending.
    std::vector<std::int64_t> selected;
    // The mesh's shift off the zone centre, in steps along each axis (0 or 1/2).
    std::array<double, 3> shift{};

    // The energy of band b (from 0) of spin component s at grid point n (from 0, the
    // third index fastest).  Valid when ok.
    float energy(int s, std::int32_t b, std::int64_t n) const;
    // Where the band-grid file's values come from (bandgrid.hpp).
    grid_source values() const;
    // The Cartesian velocity, m/s, of band b (from 0) of spin component s at grid point n:
    // grad_k E / hbar by central differences on the periodic grid (frmsf.hpp).  Valid when ok.
    std::array<double, 3> velocity(int s, std::int32_t b, std::int64_t n) const;
};

struct cut_options {
    read_options read;
    // The seconds of symmetry work allowed (operations.hpp); unset: what the listing's
    // size warrants.  Small in tests.
    std::optional<double> symmetry_seconds;
};

// Reads the listing from `in` (named `name` in messages) and makes the grid `g` of the
// bands crossing `ef`; with no `ef`, the listing's own Fermi energy (its "E-fermi" line).
// A grid with no point along some axis is refused before anything is read.  Never
// throws: running short of memory is a refusal too.
cut_state run_cut(std::FILE* in, std::string_view name, const grid& g, std::optional<float> ef,
               const cut_options& options = {});

// The same on the file at `path`; one that cannot be opened is refused ("cant open OUTCAR").
cut_state run_cut(const std::string& path, const grid& g, std::optional<float> ef, const cut_options& options = {});

}  // namespace bandcut
