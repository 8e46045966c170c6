// What a run says, in the order it meets the causes: the echo of what it read, notes and
// warnings, and a refusal when it makes no grid.  The lines about the listing are made
// here, from what the units before it found; the program prints them, the library hands
// them to its caller.
//
// A contract with the scripts that read bandcut's output: these lines keep their words
// exactly, whatever else changes (the echo's "str=<line>", "NKPTS: %d, NBANDS: %d",
// "A1: %f %f %f " ... "B3: ...", "Ef: %f"; "cant open OUTCAR"), and so do the program's own
// "should be like: " / "./a.out nkx nky nkz Ef " and the prefix "can't create fout: FS.bsxf"
// (main.cpp).  Everything else is bandcut's to word.
#pragma once

#include "grid.hpp"
#include "listing.hpp"
#include "route.hpp"
#include "selection.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bandcut {

// message and account: the public header's.

// The echo of what the listing gave, as far as the reading got: the dimension line
// ("str=..."), the counts, the lattice vectors, Ef (the one the run uses), and for a
// spin-polarised listing read whole where the second component's bands are numbered.
void echo_listing(account& said, const listing& bands, float ef);

// A refusal about `file`: "OUTCAR:12: what" (line 0: "OUTCAR: what").
void refuse(account& said, std::string_view file, long line, const std::string& what);

// The note that later sets of band energies are left out.
void note_sets(account& said, const listing& bands);

// How the grid was made: a note for placement and unfolding (with a warning for a
// shifted mesh), a warning for listing order; for a refused grid, the refusal.
void explain_route(account& said, std::string_view file, const listing& bands, const grid& g, const grid_map& map);

struct sheet;
struct grid_count;

// The sheets' table (after the echo), the electrons the grid holds below Ef against the
// run's NELECT and the level where it holds NELECT, and the total density of states.
void explain_sheets(account& said, const std::vector<sheet>& sheets, const grid_count& at_ef, std::optional<double> nelect,
                    std::optional<double> level);

// Which kind of grid FS.frmsf names, and whether its values lie where their k-points do.
void note_frmsf(account& said, const grid& g, const std::array<double, 3>& shift);

// For a file without bands: where the bands lie around Ef.
void explain_no_crossing(account& said, const listing& bands, float ef, const band_edges& edges);

}  // namespace bandcut
