// bandcut nkx nky nkz Ef
//
// Run in the folder of a finished band-structure calculation: reads the listing
// "OUTCAR", keeps the bands that cross the Fermi energy Ef (eV) and writes their energies
// over the nkx x nky x nkz k-point mesh to the band-grid file "FS.bsxf".  What it read
// and every failure go to standard output; warnings and notes (lines beginning
// "bandcut:") go to standard error.  The status is 0 only when "FS.bsxf" was written.
#include "bandgrid.hpp"
#include "convert.hpp"
#include "cut_state.hpp"
#include "frmsf.hpp"
#include "outfile.hpp"
#include "sheets.hpp"
#include "svg.hpp"

#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <new>
#include <string_view>
#include <type_traits>
#include <vector>

#ifndef BANDCUT_VERSION
#error "the build gives the project's version"
#endif

namespace {

using namespace bandcut;

// Options are the arguments beginning with "--", wherever they stand, up to a bare "--";
// everything else is positional and keeps its place (a count may be written "-3").
struct command_line {
    enum { make_file, show_help, show_version, unknown } action = make_file;
    const char* unknown_option = nullptr;
    bool frmsf = false;
    bool sheets = false;
    bool svg = false;
    std::vector<const char*> positional;
};

command_line parse(int argc, char** argv) {
    command_line c;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (!options || !arg.starts_with("--")) {
            c.positional.push_back(argv[i]);
        } else if (arg == "--") {
            options = false;
        } else if (c.action == command_line::make_file || c.action == command_line::unknown) {
            if (arg == "--help") {
                c.action = command_line::show_help;
            } else if (arg == "--version") {
                c.action = command_line::show_version;
            } else if (arg == "--frmsf") {
                c.frmsf = true;
            } else if (arg == "--sheets") {
                c.sheets = true;
            } else if (arg == "--svg") {
                c.svg = true;
            } else if (!c.unknown_option) {
                c.action = command_line::unknown;
                c.unknown_option = argv[i];
            }
        }
    }
    return c;
}

// How an argument that is not plainly a number was read, said as a warning.
template <class Reading>
void say_how_read(account& said, const char* name, const char* text, const Reading& read) {
    if (read.why.empty()) return;
    char value[64];
    if constexpr (std::is_same_v<Reading, argument_energy>) {
        std::snprintf(value, sizeof value, "%f", static_cast<double>(read.value));
    } else {
        std::snprintf(value, sizeof value, "%d", read.value);
    }
    say_argument_read_as(said, name, text, value, read.why);
}

// Lines of the account, each to its stream: what was read and every refusal to standard
// output, notes and warnings to standard error.
void print(const account& said) {
    for (const auto& m : said) {
        std::FILE* to = m.what == message::kind::echo || m.what == message::kind::refusal ? stdout : stderr;
        std::fwrite(m.text.data(), 1, m.text.size(), to);
        std::fputc('\n', to);
    }
}

// Says one thing made apart from a run's account, and returns the status it means.
template <class Say, class... Args>
int say(const Say& what, const Args&... args) {
    account said;
    what(said, args...);
    print(said);
    return said.empty() || said.back().what != message::kind::refusal ? 0 : 1;
}

// A file of the run written beside its name: FS.bsxf, and the others asked for.
struct output {
    const char* name;
    replacement_file file;
    std::function<bool(std::FILE*)> write;
    output(const char* n, std::function<bool(std::FILE*)> w) : name(n), file(n), write(std::move(w)) {}
};
using outputs = std::vector<std::unique_ptr<output>>;

int cannot_create(const output& o) { return say(say_cannot_create, o.name, o.file.in_the_way()); }

// Writes every file and renames each onto its name only once all were written whole.
int write(const outputs& files) {
    for (const auto& o : files)
        if (!o->file.open()) return cannot_create(*o);
    bool written = true;
    for (const auto& o : files) written = written && o->write(o->file.stream());
    for (const auto& o : files) written = written && o->file.finish();
    if (!written) {
        std::vector<std::string> names;
        for (const auto& o : files) names.emplace_back(o->name);
        return say(say_write_error, names);
    }
    for (const auto& o : files) {
        switch (o->file.publish()) {
        case replacement_file::outcome::replaced:
            break;
        case replacement_file::outcome::replaced_unsynced:
            say(say_not_synced, o->name, o->file.sync_error());
            break;
        case replacement_file::outcome::rename_failed:
        case replacement_file::outcome::in_the_way:
        case replacement_file::outcome::write_failed:
            return cannot_create(*o);
        }
    }
    return 0;
}

// The files a run writes: FS.bsxf, and FS.frmsf and FS.svg where asked for and possible.
outputs files_of(const cut_state& r, bool frmsf, const std::optional<contour_set>& contours) {
    outputs files;
    files.push_back(std::make_unique<output>(
        "FS.bsxf", [&r](std::FILE* f) { return write_bandgrid(f, r.bands, r.ef, r.g, r.selected, r.values()); }));
    if (frmsf)
        files.push_back(std::make_unique<output>("FS.frmsf", [&r](std::FILE* f) {
            return write_frmsf(f, r.bands, r.ef, r.g, r.selected, r.values(), r.shift);
        }));
    if (contours)
        files.push_back(std::make_unique<output>("FS.svg", [&r, &contours](std::FILE* f) { return write_svg(f, *contours, r.g); }));
    return files;
}

// --sheets: the numbers of each sheet, or why the grid has none (the file is written all
// the same).
void add_sheets(cut_state& r) {
    if (const auto why = sheets_fault(r)) return warn_no_mesh(r.said, why);
    const auto nelect = r.bands.mesh.nelect;
    explain_sheets(r.said, sheets_at(r, r.ef), electrons_below(r, r.ef), nelect,
                   nelect ? level_for(r, *nelect) : std::nullopt);
}

// --svg: the contours of the plane through the zone centre, or why the grid has no plane
// (the other files are written all the same).
std::optional<contour_set> add_contours(cut_state& r) {
    if (const auto why = contours_fault(r, 0)) {
        warn_no_plane(r.said, why);
        return std::nullopt;
    }
    return contours_of(r, r.ef, 0);
}

int run(int argc, char** argv) {
    const command_line c = parse(argc, argv);
    switch (c.action) {
    case command_line::show_help:
        return say(say_help);
    case command_line::show_version:
        return say(say_version, BANDCUT_VERSION);
    case command_line::unknown:
        return say(say_unknown_option, c.unknown_option);
    case command_line::make_file:
        break;
    }
    if (c.positional.size() < 4) return say(say_usage);
    // Converted as atoi and atof convert them, as scripts expect; how, is said.
    const char* const names[] = {"nkx", "nky", "nkz"};
    std::int32_t n[3];
    account arguments;
    for (std::size_t a = 0; a < 3; ++a) {
        const auto read = read_count_argument(c.positional[a]);
        say_how_read(arguments, names[a], c.positional[a], read);
        n[a] = read.value;
    }
    const auto ef = read_energy_argument(c.positional[3]);
    say_how_read(arguments, "Ef", c.positional[3], ef);
    print(arguments);
    std::fflush(stderr);

    cut_state r = run_cut("OUTCAR", grid{n[0], n[1], n[2]}, ef.value);  // every later use is of the float
    if (r.ok && c.frmsf) note_frmsf(r.said, r.g, r.shift);
    if (r.ok && c.sheets) add_sheets(r);
    const auto contours = r.ok && c.svg ? add_contours(r) : std::nullopt;
    print(r.said);
    if (!r.ok) return 1;
    std::fflush(stdout);
    return write(files_of(r, c.frmsf, contours));
}

}  // namespace

int main(int argc, char** argv) {
    // A file-size limit makes a write fail, which is reported, instead of killing the run.
    std::signal(SIGXFSZ, SIG_IGN);
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {  // the writer's columns; the temporary file is gone with its owner
        std::puts("bandcut: out of memory");  // made without memory, as say_out_of_memory words it
        return 1;
    }
}
