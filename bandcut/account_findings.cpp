// The account's words for the map's findings: why a listing's k-points were not placed or
// unfolded, and why a grid has no mesh or plane for the sheets and the contours.
#include "account.hpp"

#include <cstdio>

namespace bandcut {

namespace {

std::string n_text(std::int64_t n) { return std::to_string(n); }

std::string fixed4(double x) {
    char text[64];
    std::snprintf(text, sizeof text, "%.4f", x);
    return text;
}

std::string grid_words(std::int64_t n1, std::int64_t n2, std::int64_t n3) {
    return n_text(n1) + " x " + n_text(n2) + " x " + n_text(n3);
}

std::string row_words(std::int64_t row) { return "row " + n_text(row) + " of the operator table"; }

// "row 3", "row 3 with k -> -k", "an operation" (one of the structure's).
std::string operation_words(std::int64_t row, bool negated) {
    return (row > 0 ? "row " + n_text(row) : std::string("an operation")) + (negated ? " with k -> -k" : "");
}

// What the listing prints, and the structure it gives.
std::string listing_words(const finding& f) {
    const std::string a = n_text(f.n[0]), b = n_text(f.n[1]);
    switch (f.why) {
    case cause::four_decimals: return "the listing prints its k-points with four decimals only";
    case cause::zone_names_beyond: return "the full-zone list names k-point " + a + " of " + b;
    case cause::lists_disagree: return "the irreducible list and the k-point list disagree at " + point_words(f.k, f.c);
    case cause::no_weights: return "the listing prints no weights of its k-points";
    case cause::no_irreducible: return "the listing names no irreducible k-point";
    case cause::bad_weight: return "the listing prints a weight that is negative or not a number";
    case cause::header_differs: {
        char header[96];
        std::snprintf(header, sizeof header, "the header of k-point block %lld (%.4f %.4f %.4f) is not ",
                      static_cast<long long>(f.k + 1), f.x[0], f.x[1], f.x[2]);
        return header + point_words(f.k, f.c);
    }
    case cause::no_structure: return "the listing prints no crystal structure (the positions of its ions)";
    case cause::negative_species: return "ions per type gives " + a + " ions of species " + b;
    case cause::species_beyond: return "ions per type counts more ions than the " + a + " positions";
    case cause::positions_not_ions: return "the listing prints " + a + " positions for " + b + " ions";
    case cause::species_short: return "ions per type counts " + a + " ions for the " + b + " positions";
    case cause::lattice_not_number: return "the lattice vector a" + a + " is not a number";
    case cause::lattice_length: {
        char text[96];
        std::snprintf(text, sizeof text, "the lattice vector a%lld is %g A long", static_cast<long long>(f.n[0]), f.value);
        return text;
    }
    case cause::no_volume: return "the lattice vectors span no volume";
    case cause::position_not_number: return "position " + a + " of the structure is not a number";
    case cause::one_site: return "ions " + a + " and " + b + ", both of species " + n_text(f.n[2]) + ", sit on one site";
    default: return {};
    }
}

// The moments a spin-polarised run started from.
std::string moments_words(const finding& f) {
    const std::string a = n_text(f.n[0]), b = n_text(f.n[1]), of = moment_words(f.moments);
    switch (f.why) {
    case cause::magmom_twice:
        return "MAGMOM is given twice, otherwise (lines " + a + " and " + b + "): which the run read is not known";
    case cause::magmom_unreadable: return "MAGMOM cannot be read";
    case cause::moments_count: return of + " gives " + a + " moments for " + b + " ions";
    case cause::no_moments:
        return "the listing does not say which moments its spin-polarised run started from (no MAGMOM, no table of moments)";
    case cause::moment_not_number: return "moment " + a + " of " + of + " is not a number";
    case cause::moments_all_zero: return of + " gives every ion a moment of 0";
    default: return {};
    }
}

// The operations: their table, the structure's search, the group they form.
std::string operations_words(const finding& f) {
    const std::string a = n_text(f.n[0]), b = n_text(f.n[1]), from = source_words(f.source);
    switch (f.why) {
    case cause::operator_line: return "line " + a + " of the operator table is no row of nine numbers";
    case cause::row_not_operation: return row_words(f.n[0]) + " is no operation of this lattice";
    case cause::row_loses_ion: return row_words(f.n[0]) + " maps ion " + b + " onto no ion of its species";
    case cause::row_mixes_moments:
        return row_words(f.n[0]) + " maps the dominant moments of " + moment_words(f.moments) +
               " onto moments of both signs or none";
    case cause::row_contradicted:
        return row_words(f.n[0]) + " keeps the moments by the energies (it takes " + point_words(f.k, f.c) + " onto itself, where band " +
               n_text(f.band + 1) + "'s spin components differ by " + fixed4(f.value) + " eV), but reverses them by the moments of " +
               moment_words(f.moments);
    case cause::search_too_long: {
        char text[320];
        std::snprintf(text, sizeof text,
                      "a symmetry search over %lld ions, %lld of the rarest species, would take about %.2g s, more than the "
                      "%.2g s a listing of %lld bytes warrants",
                      static_cast<long long>(f.n[0]), static_cast<long long>(f.n[1]), f.value, f.limit,
                      static_cast<long long>(f.n[2]));
        return text;
    }
    case cause::no_symmetry: return "no symmetry operation maps the crystal structure onto itself";
    case cause::classify_too_long:
        return "telling which operations keep the moments is more work than a listing of " + n_text(f.n[2]) + " bytes warrants";
    case cause::nothing_kept: return "no operation of " + std::string(from) + " keeps or reverses the moments of " + moment_words(f.moments);
    case cause::too_many_rotations: return std::string(from) + " gives more rotations than any crystal has (48)";
    case cause::operations_count: return "the listing found " + a + " space group operations, " + from + " gives " + b + " rotations";
    case cause::no_identity: return std::string("the identity is not among the operations of ") + from;
    case cause::no_group:
        return std::string("the operations of ") + from + " are no group: " + operation_words(f.n[0], f.negated[0]) + " times " +
               operation_words(f.n[1], f.negated[1]) + " is none of them";
    case cause::spin_refuted:
        return "an operation that reverses the moments takes " + point_words(f.k, f.c) + " onto itself, yet its spin components differ by " +
               fixed4(f.value) + " eV in band " + n_text(f.band + 1) + " (of the " + a +
               " compared, those up to the highest that can cross Ef): the moments are not those the calculation started from";
    case cause::out_of_memory: return "not enough memory to unfold";
    default: return {};
    }
}

// The map's proof: the check that failed.
std::string map_words(const finding& f) {
    const std::string a = n_text(f.n[0]);
    switch (f.why) {
    case cause::beyond_stars:
        return "the grid has more points than " + n_text(f.listed) + " irreducible k-points reach with " + a + " rotations";
    case cause::point_off_grid: return point_words(f.k, f.c) + " lies off the grid";
    case cause::mixed_shifts: return "the k-points lie on grids of different shifts along b" + a;
    case cause::listing_mesh: return "the listing's mesh is " + grid_words(f.n[0], f.n[1], f.n[2]);
    case cause::mesh_not_along: return "the listing's mesh is not laid along the reciprocal vectors";
    case cause::mesh_shift: {
        char text[240];
        std::snprintf(text, sizeof text, "the listing's mesh is shifted by %g %g %g steps, its k-points by %g %g %g", f.x[0],
                      f.x[1], f.x[2], f.y[0], f.y[1], f.y[2]);
        return text;
    }
    case cause::unreached: return a + " grid points unreached";
    case cause::reached_twice: return a + " grid points reached from two irreducible k-points";
    case cause::weights_off: return "the weights of " + a + " irreducible k-points are not their shares of the grid";
    case cause::zone_maps: return "the full-zone list maps " + a + " grid points otherwise";
    case cause::zone_marks:
        return "the full-zone list marks " + a + " grid points otherwise than the operations that reverse the moments reach them";
    default: return {};
    }
}

// Where the k-points are not where the grid needs them: the placement's first misfit
// (said after the k-point it names), and the outputs that need a mesh or a plane.
std::string placement_words(const finding& f) {
    switch (f.why) {
    case cause::no_grid: return "no grid was made";
    case cause::no_mesh: return "the k-points are written in listing order: there is no mesh to integrate over";
    case cause::no_plane:
        return "the k-points were taken in listing order, not placed on the grid: where each lies is not known, so there is "
               "no plane to draw";
    case cause::plane_off_grid:
        return "plane " + n_text(f.n[0]) + " is not on the grid, whose planes along b3 are 0 to " + n_text(f.n[1] - 1);
    case cause::kpoint_off_grid: return "is off the grid";
    case cause::kpoint_repeats: return "repeats a grid point";
    default: return {};
    }
}

bool is_map_check(cause c) { return c >= cause::beyond_stars && c <= cause::zone_marks; }

}  // namespace

std::string point_words(std::int64_t k, const dvec3& c) {
    char text[96];
    std::snprintf(text, sizeof text, "k-point %lld (%.6f %.6f %.6f)", static_cast<long long>(k + 1), c[0], c[1], c[2]);
    return text;
}

const char* source_words(op_source s) { return s == op_source::operator_table ? "the operator table" : "the crystal structure"; }

const char* moment_words(moment_origin m) {
    switch (m) {
    case moment_origin::magmom: return "MAGMOM";
    case moment_origin::default_one: return "the default of 1 per ion";
    case moment_origin::first_table: return "the first table of moments";
    default: return "";
    }
}

const char* cause_name(cause c) {
    // In the enumeration's order.
    static const char* const names[] = {
        "", "kpoint_off_grid", "kpoint_repeats", "band_path", "four_decimals", "zone_names_beyond",
        "lists_disagree", "no_weights", "no_irreducible", "bad_weight", "header_differs", "no_structure",
        "negative_species", "species_beyond", "positions_not_ions", "species_short", "magmom_twice",
        "magmom_unreadable", "moments_count", "no_moments", "moment_not_number", "moments_all_zero", "operator_line",
        "row_not_operation", "row_loses_ion", "row_mixes_moments", "row_contradicted", "lattice_not_number",
        "lattice_length", "no_volume", "position_not_number", "one_site", "search_too_long", "no_symmetry",
        "classify_too_long", "nothing_kept", "too_many_rotations", "operations_count", "no_identity", "no_group",
        "spin_refuted", "out_of_memory", "beyond_stars", "point_off_grid", "mixed_shifts", "listing_mesh",
        "mesh_not_along", "mesh_shift", "unreached", "reached_twice", "weights_off", "zone_maps", "zone_marks",
        "no_grid", "no_mesh", "no_plane", "plane_off_grid",
    };
    static_assert(sizeof names / sizeof names[0] == cause_count);
    const auto i = static_cast<unsigned>(c);  // none is names[0], ""
    return i < static_cast<unsigned>(cause_count) ? names[i] : "";
}

std::string finding_words(const finding& f) {
    if (f.why == cause::band_path) return "the listing holds a band path, not a mesh";
    if (is_map_check(f.why)) {
        std::string text = "the " + n_text(f.listed) + " irreducible k-points do not unfold onto " +
                           grid_words(f.onto.nkx, f.onto.nky, f.onto.nkz) + " (" + map_words(f) + ")";
        const std::array<std::int64_t, 3> tried{f.onto.nkx, f.onto.nky, f.onto.nkz};
        if (f.fits[0] > 0 && f.fits != tried) text += "; they lie on a " + grid_words(f.fits[0], f.fits[1], f.fits[2]) + " grid";
        return text;
    }
    for (const auto words : {listing_words, moments_words, operations_words})
        if (std::string text = words(f); !text.empty())
            return "no unfolding: " + text +
                   (f.undecided_row > 0
                        ? "; " + row_words(f.undecided_row) + " fixes no listed point where the spin components differ"
                        : std::string());
    return placement_words(f);
}

}  // namespace bandcut
