#include "account.hpp"

#include "frmsf.hpp"
#include "sheets.hpp"

#include <cstdio>
#include <cstring>

namespace bandcut {

namespace {

void add(account& said, message::kind what, std::string text, reason why = reason::echo) {
    said.push_back({what, std::move(text), 0, why});
}
void note(account& said, reason why, const std::string& text) { add(said, message::kind::note, "bandcut: note: " + text, why); }
void warn(account& said, reason why, const std::string& text) {
    add(said, message::kind::warning, "bandcut: warning: " + text, why);
}

std::string grid_text(const grid& g) {
    return std::to_string(g.nkx) + " x " + std::to_string(g.nky) + " x " + std::to_string(g.nkz);
}

double wide(float v) { return static_cast<double>(v); }

void echo_vector(account& said, char letter, std::size_t i, const vec3& v) {
    char line[200];
    std::snprintf(line, sizeof line, "%c%zu: %f %f %f ", letter, i + 1, wide(v[0]), wide(v[1]), wide(v[2]));
    add(said, message::kind::echo, line);
}

// The FS.bsxf the viewer draws puts its first point at the zone centre.
void warn_shift(account& said, const std::array<double, 3>& shift) {
    if (shift == std::array<double, 3>{}) return;
    char line[240];
    std::snprintf(line, sizeof line,
                  "the grid is shifted off the zone centre by %.4f %.4f %.4f steps along b1 b2 b3; FS.bsxf puts its first "
                  "point at 0 0 0, so the surface is drawn shifted by as much",
                  shift[0], shift[1], shift[2]);
    warn(said, reason::shifted_mesh, line);
}

// "k-point" or "k-points", as n asks.
const char* kpoint_word(std::int64_t n) { return n == 1 ? "k-point" : "k-points"; }
std::string kpoints(std::int64_t n) { return std::to_string(n) + " " + kpoint_word(n); }

// "; 72 zero-weight k-points left out", "; the 2 k-points listed after it are not in the file".
std::string left_out(const grid_map& map) {
    std::string text;
    if (map.left_out > 0)
        text += "; " + std::to_string(map.left_out) + " zero-weight " + kpoint_word(map.left_out) + " left out";
    if (map.beyond > 0)
        text += "; the " + kpoints(map.beyond) + " listed after it " + (map.beyond == 1 ? "is" : "are") + " not in the file";
    return text;
}

// "(24 rotations with time reversal, from the crystal structure; moments from MAGMOM: 2 of
// the rotations reverse them, swapping the spin components)"
std::string how_unfolded(const unfolding& u) {
    std::string how = std::to_string(u.rotations) + " rotations" + (u.time_reversal ? " with time reversal" : "") +
                      ", from " + source_words(u.source);
    if (u.spins_agree) return how + "; the spin components agree at every listed point, so no rotation's spin action matters";
    if (u.by_energies) return how + "; each fixes a listed point where the spin components differ, so each keeps the moments";
    if (u.moments == moment_origin::none) return how;
    how += std::string("; moments from ") + moment_words(u.moments);
    if (u.reversing > 0) {
        how += ": " + std::to_string(u.reversing) + " of the rotations reverse them, swapping the spin components";
    } else if (u.left_out > 0 && u.refuted_band >= 0) {
        how += ": only the rotations that keep them, as the calculation used (the energies refute the " +
               std::to_string(u.left_out) + " that reverse them: at " + point_words(u.refuted_k, u.refuted_c) + " band " +
               std::to_string(u.refuted_band + 1) + "'s spin components differ)";
    } else if (u.left_out > 0) {
        how += ": only the rotations that keep them, as the calculation used (the " + std::to_string(u.left_out) +
               " that reverse them left out)";
    } else {
        how += ", kept by every rotation";
    }
    return how;
}

void warn_listing_order(account& said, const listing& bands, const grid& g, const grid_map& map) {
    const placement& p = map.placed;
    const vec3& c = bands.kpoint[static_cast<std::size_t>(p.k)];
    char head[160];
    std::snprintf(head, sizeof head, "k-point %lld (%.4f %.4f %.4f) %s: ", static_cast<long long>(p.k + 1), wide(c[0]),
                  wide(c[1]), wide(c[2]), finding_words(found(p.why)).c_str());
    warn(said, reason::listing_order, head + ("the listing does not hold the full " + grid_text(g)) + " grid; " + finding_words(map.not_unfolded) +
                   "; values are written in listing order" + left_out(map));
    said.back().cause = cause_name(map.not_unfolded.why);
}

// "names a band list": "band 7", "bands 7 and 8", "bands 7, 8 and 9", and the bands of
// spin component 2 said so.
std::string band_list(const std::vector<std::int64_t>& bands, std::int64_t nbands) {
    std::string parts[2];
    std::size_t counts[2] = {0, 0};
    for (const auto b : bands) ++counts[b >= nbands];
    for (int s = 0; s < 2; ++s) {
        std::size_t i = 0;
        for (const auto b : bands) {
            if ((b >= nbands) != (s == 1)) continue;
            const std::string number = std::to_string(b - s * nbands + 1);
            parts[s] += i == 0 ? (counts[s] > 1 ? "bands " : "band ") + number
                               : (i + 1 == counts[s] ? " and " : ", ") + number;
            ++i;
        }
        if (s == 1 && counts[1] > 0) parts[1] += " of spin component 2";
    }
    if (parts[0].empty()) return parts[1];
    return parts[1].empty() ? parts[0] : parts[0] + ", and " + parts[1];
}

}  // namespace

void echo_listing(account& said, const listing& bands, float ef) {
    using stage = listing::stage;
    if (bands.reached < stage::dimension_line) return;
    add(said, message::kind::echo, "str=" + bands.dimension_line);
    if (bands.reached < stage::counts) return;
    add(said, message::kind::echo, "NKPTS: " + std::to_string(bands.nkpts) + ", NBANDS: " + std::to_string(bands.nbands));
    if (bands.reached < stage::lattice) return;
    for (std::size_t i = 0; i < 3; ++i) echo_vector(said, 'A', i, bands.direct[i]);
    for (std::size_t i = 0; i < 3; ++i) echo_vector(said, 'B', i, bands.reciprocal[i]);
    if (bands.reached < stage::fermi_marker) return;
    char line[64];
    std::snprintf(line, sizeof line, "Ef: %f", wide(ef));
    add(said, message::kind::echo, line);
    if (bands.reached < stage::band_energies || bands.nspin != 2) return;
    add(said, message::kind::echo,
        "spin component 2: bands " + std::to_string(std::int64_t{bands.nbands} + 1) + " to " +
            std::to_string(2 * std::int64_t{bands.nbands}));
}

void refuse(account& said, reason why, std::string_view file, long line, const std::string& what) {
    std::string text(file);
    if (line > 0) {
        text += ':';
        text += std::to_string(line);
    }
    text += ": ";
    text += what;
    said.push_back({message::kind::refusal, std::move(text), line, why});
}

void note_sets(account& said, const listing& bands) {
    if (bands.sets > 1)
        note(said, reason::later_sets, "the listing holds " + std::to_string(bands.sets) +
                       " sets of band energies, one per ionic step; FS.bsxf holds the first");
}

void explain_route(account& said, std::string_view file, const listing& bands, const grid& g, const grid_map& map) {
    switch (map.how) {
    case grid_map::route::placed:
        note(said, reason::placed, "placed the " + kpoints(static_cast<std::int64_t>(map.kpoint_at.size())) + " of the full " + grid_text(g) +
                       " mesh" + left_out(map));
        warn_shift(said, map.placed.shift);
        return;
    case grid_map::route::unfolded:
        note(said, reason::unfolded, "unfolded " + std::to_string(map.unfolded->irreducible.size()) + " irreducible k-points onto the " +
                       grid_text(g) + " grid (" + how_unfolded(*map.unfolded) + ")" + left_out(map));
        warn_shift(said, map.unfolded->shift);
        return;
    case grid_map::route::listing_order:
        warn_listing_order(said, bands, g, map);
        return;
    case grid_map::route::refused:
        break;
    }
    const std::string needs = g.points() == grid::too_many ? "more k-points than 63 bits count"
                                                           : std::to_string(g.points()) + " k-points";
    refuse(said, reason::too_few_kpoints, file, bands.counts_line,
           "the grid " + grid_text(g) + " needs " + needs + " but the listing has " + std::to_string(bands.nkpts) +
               " (NKPTS); " + finding_words(map.not_unfolded));
    said.back().cause = cause_name(map.not_unfolded.why);
}

void explain_sheets(account& said, const std::vector<sheet>& sheets, const grid_count& at_ef, std::optional<double> nelect,
                    std::optional<double> level) {
    add(said, message::kind::echo, "sheet  spin  band   electrons    holes    carriers/cm^3   DOS(Ef) states/eV/cell");
    char line[200];
    for (std::size_t i = 0; i < sheets.size(); ++i) {
        const auto& s = sheets[i];
        std::snprintf(line, sizeof line, "%5zu %5d %5d %11.4f %8.4f %9s %9.3e %14.4f", i + 1, s.spin + 1, s.band + 1,
                      s.electrons, s.holes, s.holes_carry ? "holes" : "electrons", s.carriers, s.dos);
        add(said, message::kind::echo, line);
    }
    std::snprintf(line, sizeof line, "electrons below Ef on the grid: %.4f", at_ef.electrons);
    std::string count = line;
    if (nelect) {
        std::snprintf(line, sizeof line, " (the run: %g); ", *nelect);
        count += line;
        if (level) {
            std::snprintf(line, sizeof line, "the grid holds %g at Ef = %.5f eV", *nelect, *level);
        } else {
            std::snprintf(line, sizeof line, "no level of the grid holds %g", *nelect);
        }
        count += line;
    } else {
        count += " (the listing gives no NELECT)";
    }
    add(said, message::kind::echo, count);
    std::snprintf(line, sizeof line, "density of states at Ef, all bands: %.4f states/eV/cell", at_ef.dos);
    add(said, message::kind::echo, line);
}

void note_frmsf(account& said, const grid& g, const std::array<double, 3>& shift) {
    const auto layout = frmsf_kind(g, shift);
    static const char* const kinds[] = {"kind 0 (Monkhorst-Pack: each even axis shifted by half a step, each odd one not)",
                                        "kind 1 (centred on the zone centre)", "kind 2 (every axis shifted by half a step)"};
    note(said, reason::frmsf_kind, std::string("FS.frmsf names its grid as ") + kinds[layout.kind] +
                   (layout.in_place ? ": every value where its k-point lies"
                                    : ", no kind naming this shift: the surface is drawn shifted by as much"));
}

void explain_no_crossing(account& said, const listing& bands, float ef, const band_edges& edges) {
    char line[200];
    const auto& below = edges.below;
    const auto& above = edges.above;
    if (below && above) {
        std::snprintf(line, sizeof line, "no band crosses Ef = %f: the bands below end at %f (", wide(ef), wide(below->value));
        std::string text = line + band_list(below->bands, bands.nbands);
        std::snprintf(line, sizeof line, "), the bands above begin at %f (", wide(above->value));
        warn(said, reason::no_band_crosses, text + line + band_list(above->bands, bands.nbands) + ")");
    } else if (above) {
        std::snprintf(line, sizeof line, "all bands lie above Ef = %f: the lowest begins at %f (", wide(ef), wide(above->value));
        warn(said, reason::no_band_crosses, line + band_list(above->bands, bands.nbands) + ")");
    } else if (below) {
        std::snprintf(line, sizeof line, "all bands lie below Ef = %f: the highest ends at %f (", wide(ef), wide(below->value));
        warn(said, reason::no_band_crosses, line + band_list(below->bands, bands.nbands) + ")");
    }
}

namespace {

std::string block_words(const read_failure& f) {
    return "k-point block " + std::to_string(f.counts[0]) + " of " + std::to_string(f.counts[1]) +
           (f.spin2 ? " of spin component 2" : "");
}

std::string ends_words(const read_failure& f) {
    using place = read_failure::place;
    switch (f.at) {
    case place::lattice:
        return "the listing ends inside the lattice vectors";
    case place::first_block:
        return "the listing ends before its first k-point block";
    case place::before_block:
        return "the listing ends before " + block_words(f);
    default:
        return "the listing ends inside " + block_words(f);
    }
}

std::string spin_words(const read_failure& f) {
    using place = read_failure::place;
    if (f.at == place::ends_before) return "the listing ends before spin component 2 (ISPIN = 2)";
    if (f.at == place::should_begin) return "spin component 2 should begin here (ISPIN = 2)";
    char text[240];
    std::snprintf(text, sizeof text,
                  "the header of k-point block %lld of spin component 2 (%.4f %.4f %.4f) is not that of spin component 1 "
                  "(%.4f %.4f %.4f)",
                  static_cast<long long>(f.counts[0]), wide(f.header[0]), wide(f.header[1]), wide(f.header[2]), wide(f.first[0]),
                  wide(f.first[1]), wide(f.first[2]));
    return text;
}

std::string counts_words(const read_failure& f) {
    if (f.at == read_failure::place::no_kpoint_count) return "no k-point count after \"NKPTS\"";
    if (f.at == read_failure::place::no_band_count) return "no band count after \"NBANDS\"";
    return "impossible counts NKPTS " + std::to_string(f.counts[0]) + " and NBANDS " + std::to_string(f.counts[1]);
}

}  // namespace

std::string failure_words(const read_failure& f) {
    const std::string a = std::to_string(f.counts[0]), b = std::to_string(f.counts[1]);
    switch (f.why) {
    case reason::missing_marker:
        return "no line holding \"" + f.text + "\"";
    case reason::bad_counts:
        return counts_words(f);
    case reason::listing_ends:
        return ends_words(f);
    case reason::spin_component_2:
        return spin_words(f);
    case reason::line_too_long:
        return "a line longer than " + a + " bytes: the longest a listing that is not a regular file may hold";
    case reason::tables_too_large:
        return "the band energies would take more than " + a + " bytes: the most a listing that is not a regular file may fill";
    case reason::out_of_memory:
        return "not enough memory for " + a + " k-points of " + b + " bands";
    case reason::many_body_run:
        return "the listing is of a many-body run (" +
               (f.text.empty() ? std::string("a frequency table follows its E-fermi line") : "ALGO = " + f.text + " at line " + a) +
               "): what follows E-fermi is no set of band energies";
    case reason::bad_lattice_line:
        return "lattice vector line without six numbers";
    case reason::bad_band_line:
        return "band line without an energy";
    case reason::quasiparticle_tables:
        return "the listing holds quasiparticle tables (KS-energies, QP-energies), not band energies";
    default:
        return f.text;  // read_error: the system's words
    }
}

void refuse_empty_grid(account& said, const grid& g) {
    said.push_back({message::kind::refusal, "the grid needs at least one point along each axis: " + std::to_string(g.nkx) +
                                                " " + std::to_string(g.nky) + " " + std::to_string(g.nkz),
                    0, reason::empty_grid});
}

void refuse_cannot_open(account& said, std::string_view path) {
    said.push_back({message::kind::refusal, "cant open " + std::string(path), 0, reason::cannot_open});
}

void say_out_of_memory(account& said) { said.push_back({message::kind::refusal, "bandcut: out of memory", 0, reason::out_of_memory}); }

void warn_no_mesh(account& said, const finding& why) {
    warn(said, reason::no_mesh, "--sheets: " + finding_words(why));
    said.back().cause = cause_name(why.why);
}

void warn_no_plane(account& said, const finding& why) {
    warn(said, reason::no_plane, "--svg: " + finding_words(why) + "; FS.svg is not written");
    said.back().cause = cause_name(why.why);
}

void say_usage(account& said) {
    add(said, message::kind::refusal, "should be like: ", reason::usage);
    add(said, message::kind::refusal, "./a.out nkx nky nkz Ef ", reason::usage);
}

void say_help(account& said) {
    static const char* const lines[] = {
        "should be like: ",
        "./a.out nkx nky nkz Ef ",
        "",
        "Run in the folder of a finished calculation.  Reads the listing OUTCAR, keeps the bands",
        "whose energies cross Ef and writes them over the k-point grid to FS.bsxf, the band-grid",
        "file a Fermi-surface viewer draws.",
        "",
        "  nkx nky nkz  the calculation's k-point mesh along b1, b2, b3 (at least 1 each)",
        "  Ef           the Fermi energy in eV, held in single precision",
        "",
        "Files: reads OUTCAR, writes FS.bsxf (an existing FS.bsxf is replaced only once the new",
        "one is complete), all in the current folder.",
        "Options: --frmsf  also write FS.frmsf, the other viewer's file, which keeps a shifted",
        "                  mesh in place and colours each band by its Fermi speed (both files are",
        "                  replaced only once both are complete);",
        "         --sheets  also print the numbers of each sheet: electrons, holes, carriers per",
        "                  cm^3 and density of states at Ef, by linear tetrahedra on the grid, and",
        "                  the electrons the grid holds below Ef against the run's NELECT;",
        "         --svg    also write FS.svg, a picture of the Fermi contours in the plane",
        "                  through the zone centre spanned by b1 and b2 (for a mesh with one",
        "                  point along b3, the whole Fermi surface), inside that plane's zone",
        "                  (all files are replaced only once all are complete);",
        "         --help, --version; a bare -- ends the options.",
        "Exit status: 0 when FS.bsxf was written, 1 otherwise (the reason on standard output).",
    };
    for (const char* line : lines) add(said, message::kind::echo, line, reason::usage);
}

void say_version(account& said, std::string_view version) {
    add(said, message::kind::echo, "bandcut " + std::string(version), reason::usage);
}

void say_unknown_option(account& said, std::string_view option) {
    add(said, message::kind::refusal, "unknown option " + std::string(option), reason::unknown_option);
    say_usage(said);
}

// "bandcut: warning: Ef "3,1717" was read as 3.000000 (the text from "," on ...)"
void say_argument_read_as(account& said, std::string_view name, std::string_view text, std::string_view value,
                          std::string_view why) {
    warn(said, reason::argument_read_as,
         std::string(name) + " \"" + std::string(text) + "\" was read as " + std::string(value) + " (" + std::string(why) + ")");
}

// "FS.bsxf: write error (disk full?); the previous FS.bsxf is left as it was", or for
// several files "FS.bsxf, FS.svg: ... the previous files are left as they were".
void say_write_error(account& said, const std::vector<std::string>& names) {
    std::string all;
    for (const auto& n : names) all += (all.empty() ? "" : ", ") + n;
    add(said, message::kind::refusal,
        all + ": write error (disk full?); " +
            (names.size() == 1 ? "the previous " + all + " is left as it was" : "the previous files are left as they were"),
        reason::write_error);
}

void say_cannot_create(account& said, std::string_view name, const char* in_the_way) {
    std::string text = "can't create fout: " + std::string(name);
    if (in_the_way)
        text += " (" + std::string(in_the_way) + " is there, not a regular file: bandcut replaces only regular files)";
    add(said, message::kind::refusal, text, reason::cannot_create);
}

void say_not_synced(account& said, std::string_view name, int error) {
    warn(said, reason::not_synced,
         std::string(name) + " was replaced, but the folder could not be synced: " + std::strerror(error) +
             "; the new file may not survive a power loss");
}

const char* reason_name(reason r) noexcept {
    switch (r) {
#define BANDCUT_REASON(name) \
    case reason::name:       \
        return #name;
        BANDCUT_REASON(none) BANDCUT_REASON(echo) BANDCUT_REASON(empty_grid) BANDCUT_REASON(cannot_open)
        BANDCUT_REASON(read_error) BANDCUT_REASON(missing_marker) BANDCUT_REASON(listing_ends) BANDCUT_REASON(bad_counts)
        BANDCUT_REASON(bad_lattice_line) BANDCUT_REASON(bad_band_line) BANDCUT_REASON(line_too_long)
        BANDCUT_REASON(tables_too_large) BANDCUT_REASON(out_of_memory) BANDCUT_REASON(many_body_run)
        BANDCUT_REASON(quasiparticle_tables) BANDCUT_REASON(spin_component_2) BANDCUT_REASON(too_few_kpoints)
        BANDCUT_REASON(placed) BANDCUT_REASON(unfolded) BANDCUT_REASON(listing_order) BANDCUT_REASON(shifted_mesh)
        BANDCUT_REASON(later_sets) BANDCUT_REASON(no_band_crosses) BANDCUT_REASON(frmsf_kind) BANDCUT_REASON(no_mesh)
        BANDCUT_REASON(no_plane) BANDCUT_REASON(usage) BANDCUT_REASON(unknown_option) BANDCUT_REASON(argument_read_as)
        BANDCUT_REASON(write_error) BANDCUT_REASON(cannot_create) BANDCUT_REASON(not_synced)
#undef BANDCUT_REASON
    }
    return "none";
}

}  // namespace bandcut
