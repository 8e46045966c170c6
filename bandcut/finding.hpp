// Why the listing's k-points are not proved to make the grid: what the placement, the
// unfolding and the symmetry it rests on found, as a cause and its numbers.  The unit that
// finds it fills it in; the account alone words it (finding_words in account.hpp), so a
// program can act on the cause without reading the words, and the words change in one
// place.
//
// Counting: k-points, bands, rows, ions, species, lines and axes are stored as the
// account prints them, from 1, except `k` and `band` (from 0, as the tables index them).
#pragma once

#include <bandcut/cut.hpp>

#include <array>
#include <cstdint>

namespace bandcut {

using dvec3 = std::array<double, 3>;

// Where the operations come from, and where the moments that decide them do.
enum class op_source { operator_table, crystal_structure };
enum class moment_origin { none, magmom, default_one, first_table };

// Each cause with the fields it fills (n: the numbers n[0], n[1], n[2]).
enum class cause {
    none,
    // The placement: the first listed k-point that disagrees (k; x: its block header).
    kpoint_off_grid,
    kpoint_repeats,
    // What an unfolding needs and the listing lacks: "no unfolding: ...".
    band_path,          // the listing holds a band path (said without "no unfolding")
    four_decimals,      // only the block headers' four decimals
    zone_names_beyond,  // n: the k-point the full-zone list names, NKPTS
    lists_disagree,     // k, c: the k-point where the irreducible list is not the k-point list
    no_weights,
    no_irreducible,
    bad_weight,
    header_differs,  // k, c; x: the block header
    no_structure,
    negative_species,    // n: the count, the species
    species_beyond,      // n: the positions
    positions_not_ions,  // n: the positions, NIONS
    species_short,       // n: the ions counted, the positions
    magmom_twice,        // n: its two lines
    magmom_unreadable,
    moments_count,      // moments; n: the moments, the ions
    no_moments,         // a spin-polarised run without initial moments
    moment_not_number,  // moments; n: the ion
    moments_all_zero,   // moments
    operator_line,      // n: the line of the table that is no row
    row_not_operation,  // n: the row
    row_loses_ion,      // n: the row, the ion
    row_mixes_moments,  // n: the row; moments
    row_contradicted,   // n: the row; k, c, band, value (eV): a split it fixes; moments
    lattice_not_number,    // n: the vector
    lattice_length,        // n: the vector; value: its length, A
    no_volume,
    position_not_number,   // n: the position
    one_site,              // n: the two ions, their species
    search_too_long,       // n: ions, of the rarest species, the listing's bytes; value, limit: s
    no_symmetry,
    classify_too_long,     // n: the listing's bytes
    nothing_kept,          // source, moments
    too_many_rotations,    // source
    operations_count,      // source; n: the listing's count, the rotations
    no_identity,           // source
    no_group,              // source; n: the two operations' rows (0: one of the structure's); negated
    spin_refuted,          // k, c, band, value (eV); n: the bands compared
    out_of_memory,
    // The map fails its proof: "the L irreducible k-points do not unfold onto G (...)".
    beyond_stars,    // n: the rotations
    point_off_grid,  // k, c
    mixed_shifts,    // n: the axis
    listing_mesh,    // n: the listing's mesh
    mesh_not_along,
    mesh_shift,  // x: the listing's shift, y: the k-points', in steps
    unreached,   // n: grid points
    reached_twice,
    weights_off,  // n: irreducible k-points
    zone_maps,    // n: grid points
    zone_marks,
    // The outputs that need the k-points where they lie.
    no_grid,
    no_mesh,      // --sheets on a grid in listing order
    no_plane,     // --svg on a grid in listing order
    plane_off_grid  // n: the plane, the planes along b3
};
inline constexpr int cause_count = static_cast<int>(cause::plane_off_grid) + 1;

struct finding {
    bandcut::cause why = cause::none;
    std::array<std::int64_t, 3> n{};
    std::int64_t k = 0, band = 0;
    dvec3 c{}, x{}, y{};
    double value = 0, limit = 0;
    op_source source = op_source::crystal_structure;
    moment_origin moments = moment_origin::none;
    std::array<bool, 2> negated{};  // no_group: each operation taken with k -> -k
    // A table row that nothing decides (from 1; 0 none): said after the cause that left the
    // moments unusable.
    std::int64_t undecided_row = 0;
    // The map's frame: the irreducible points, the grid tried, and the coarsest grid they
    // lie on (zeros: none, or the grid tried).
    std::int64_t listed = 0;
    grid onto{};
    std::array<std::int64_t, 3> fits{};

    explicit operator bool() const { return why != cause::none; }
};

// A finding with its cause and first numbers, the rest as they are.
inline finding found(cause why, std::int64_t n0 = 0, std::int64_t n1 = 0, std::int64_t n2 = 0) {
    finding f;
    f.why = why;
    f.n = {n0, n1, n2};
    return f;
}

// The same, at the listed k-point k (from 0) with coordinates c.
inline finding at_point(finding f, std::int64_t k, const dvec3& c) {
    f.k = k;
    f.c = c;
    return f;
}

}  // namespace bandcut
