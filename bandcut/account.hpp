// What a run says, in the order it meets the causes: the echo of what it read, notes and
// warnings, and a refusal when it makes no grid.  The lines about the listing are made
// here, from what the units before it found; the program prints them, the library hands
// them to its caller.
//
// Every line bandcut prints is made here, each with its reason (the public header's
// `reason`), from what the units found; main.cpp only prints them.
//
// A contract with the scripts that read bandcut's output: these lines keep their words
// exactly, whatever else changes (the echo's "str=<line>", "NKPTS: %d, NBANDS: %d",
// "A1: %f %f %f " ... "B3: ...", "Ef: %f"; "cant open OUTCAR"), and so do the program's own
// "should be like: " / "./a.out nkx nky nkz Ef " and the prefix "can't create fout: FS.bsxf".  Everything else is bandcut's to word.
#pragma once

#include "finding.hpp"
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

// A refusal about `file` for `why`: "OUTCAR:12: what" (line 0: "OUTCAR: what").
void refuse(account& said, reason why, std::string_view file, long line, const std::string& what);

// The words of a read failure, from its reason and numbers: "the listing ends inside
// k-point block 3 of 8", "no line holding \"E-fermi\"" ...
std::string failure_words(const read_failure& f);

// The refusals made beside the reading: a grid with no point along an axis, a listing
// that cannot be opened ("cant open OUTCAR"), memory run short.
void refuse_empty_grid(account& said, const grid& g);
void refuse_cannot_open(account& said, std::string_view path);
void say_out_of_memory(account& said);

// --sheets and --svg where the grid has no mesh or no plane: why, as a warning (the
// band-grid file is written all the same).
void warn_no_mesh(account& said, const finding& why);
void warn_no_plane(account& said, const finding& why);

// The words of a finding of the placement, the unfolding or the outputs: "the 36
// irreducible k-points do not unfold onto 8 x 8 x 8 (3 grid points unreached); they lie on
// a 6 x 6 x 6 grid", "no unfolding: MAGMOM cannot be read", "no grid was made" ...
std::string finding_words(const finding& f);
// The cause's name as written in finding.hpp ("unreached"), as messages carry it.
const char* cause_name(cause c);
// The words of its parts: "k-point 3 (0.250000 0.000000 0.000000)" (k from 0, six
// decimals, enough to tell the lists apart), "the operator table", "MAGMOM" ("" for none).
std::string point_words(std::int64_t k, const dvec3& c);
const char* source_words(op_source s);
const char* moment_words(moment_origin m);

// The program's own lines: usage, help and version; an unknown option; how an argument
// that is not plainly a number was read; a file not written whole, not created or put in
// place, or replaced without the folder synced.
void say_usage(account& said);
void say_help(account& said);
void say_version(account& said, std::string_view version);
void say_unknown_option(account& said, std::string_view option);
void say_argument_read_as(account& said, std::string_view name, std::string_view text, std::string_view value,
                          std::string_view why);
void say_write_error(account& said, const std::vector<std::string>& names);
void say_cannot_create(account& said, std::string_view name, const char* in_the_way);
void say_not_synced(account& said, std::string_view name, int error);

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
