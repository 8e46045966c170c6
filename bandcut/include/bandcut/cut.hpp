// bandcut as a library: one call reads the text listing of a finished band-structure
// calculation, maps its band energies onto the full k-point grid, chooses the bands that
// cross the Fermi energy and says what it did, line by line, as the program says it.  It
// writes nothing unless asked.  C++17; this header is all a host needs.
//
//   #include <bandcut/cut.hpp>
//   const bandcut::cut_result r = bandcut::cut("OUTCAR", {8, 8, 8}, 5.2f);
//   for (const auto& m : r.said()) std::puts(m.text.c_str());   // echo, notes, a refusal
//   if (r.ok()) { float e = r.energy(0, 3, 17); ... r.write_bandgrid(stdout); }
//
// Conventions.
//   Units: energies in eV (single precision, as the listing prints them and the band-grid
//   file holds them); reciprocal vectors in 1/A without 2 pi, direct ones in A; velocities
//   in m/s.
//   Axes: the grid has nkx x nky x nkz points along the reciprocal vectors b1, b2, b3;
//   grid point n (from 0) is (ix, iy, iz) with n = (ix * nky + iy) * nkz + iz, the third
//   index fastest; it lies at k = sum_i ((i_i + shift_i) / n_i) b_i.
//   Bands and spins count from 0 here (from 1 in the files and the account): band b of
//   spin component s; a spin-polarised listing has nspin() = 2, and the bands selected
//   are named s * nbands() + b, spin component 1's before spin component 2's.
//   Reasons: a run that makes no grid says why in its last line (kind refusal): its
//   reason, and the listing's line where one is at fault (line, from 1; 0 when none is).
// Threads: a cut_result is immutable and may be read from any number of threads; calls
// on different listings may run at once.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bandcut {

// The k-point mesh as the command line gives it.
struct grid {
    std::int32_t nkx = 0;
    std::int32_t nky = 0;
    std::int32_t nkz = 0;

    // nkx * nky * nkz, 0 when any is 0 or less; `too_many` (INT64_MAX) when the product
    // exceeds what 63 bits count: no listing holds that many.
    static constexpr std::int64_t too_many = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t points() const {
        if (nkx <= 0 || nky <= 0 || nkz <= 0) return 0;
        const std::int64_t plane = std::int64_t{nkx} * nky;  // below 2^62
        return plane > too_many / nkz ? too_many : plane * nkz;
    }
};

// Why a line is said.  Every line bandcut prints has one; a refusal's says what kept the
// grid from being made, a program can act on it without reading the words.
enum class reason {
    none,
    echo,  // what the listing gave: the dimension line, counts, lattice, Ef, the sheets' table
    // Refusals: the grid is not made.
    empty_grid,           // a grid with no point along some axis
    cannot_open,          // the listing cannot be opened
    read_error,           // the file itself failed while read (a folder, an I/O error)
    missing_marker,       // no line holding a marker the file needs (NKPTS, the lattice, E-fermi)
    listing_ends,         // the listing ends (or a line is cut) inside what the file needs
    bad_counts,           // NKPTS or NBANDS missing or impossible
    bad_lattice_line,     // a lattice vector line without six numbers
    bad_band_line,        // a band line without an energy
    line_too_long,        // a stream's line beyond the stream limit
    tables_too_large,     // a stream's band energies beyond the stream limit
    out_of_memory,        // memory ran short
    many_body_run,        // the listing of a many-body run: no band energies after E-fermi
    quasiparticle_tables, // quasiparticle tables instead of band energies
    spin_component_2,     // spin component 2 missing, or its blocks not those of component 1
    too_few_kpoints,      // the grid needs more k-points than the listing has, and none unfold
    // Notes and warnings: the grid is made.
    placed,               // the full mesh placed
    unfolded,             // a reduced mesh unfolded
    listing_order,        // values in listing order, and why
    shifted_mesh,         // the mesh lies off the zone centre
    later_sets,           // sets of band energies after the first left out
    no_band_crosses,      // no band crosses Ef: where the bands lie
    frmsf_kind,           // the kind of grid FS.frmsf names
    no_mesh,              // --sheets: no mesh to integrate over
    no_plane,             // --svg: no plane to draw
    // The program's own lines.
    usage,                // the command line is short of arguments
    unknown_option,       // an option bandcut does not know
    argument_read_as,     // an argument that is not plainly a number, and how it was read
    write_error,          // a file could not be written whole; the previous ones are kept
    cannot_create,        // a file could not be created or put in place
    not_synced            // a file was replaced but the folder not synced
};

// The reason's name as written here ("listing_ends"); "none" for none.
const char* reason_name(reason r) noexcept;

// One line of what a run says.
struct message {
    // echo and refusal go to standard output, note and warning to standard error.
    enum class kind { echo, note, warning, refusal };
    kind what;
    std::string text;  // the line as printed, without its newline
    long line = 0;     // a refusal about a line of the listing: that line (counting from 1)
    bandcut::reason why = reason::none;
    // Why the listing's k-points were not placed or unfolded, or why a grid has no mesh or
    // plane (the too_few_kpoints refusal, the listing_order, no_mesh and no_plane warnings):
    // the finding's name, such as "unreached", "point_off_grid", "no_moments"; "" otherwise.
    const char* cause = "";
};
using account = std::vector<message>;

// How the listing's k-points reached the grid.
enum class route {
    placed,         // the listing holds the full mesh: each k-point where its coordinates say
    unfolded,       // a reduced mesh, unfolded by the crystal's operations and proved
    listing_order,  // the n-th listed k-point is grid point n (a warning says why)
    refused         // no grid
};

struct cut_state;  // the run itself, internal

// What one cut made: the grid with its account.  Copies share the run.
class cut_result {
public:
    explicit cut_result(std::shared_ptr<const cut_state> run) : run_(std::move(run)) {}

    bool ok() const;          // the grid was made; otherwise the last line of said() says why not
    bool unreadable() const;  // not made because the file itself could not be opened or read
    const account& said() const;
    route how() const;
    bandcut::grid mesh() const;
    float ef() const;          // the Fermi energy the bands were chosen by
    float listing_ef() const;  // the listing's own ("E-fermi"); not a number when not read
    // The mesh's shift off the zone centre, in steps along each axis (0 or 1/2).
    std::array<double, 3> shift() const;
    std::array<std::array<double, 3>, 3> direct() const;      // a1, a2, a3 (rows, A)
    std::array<std::array<double, 3>, 3> reciprocal() const;  // b1, b2, b3 (rows, 1/A without 2 pi)

    // The following need ok().
    int nspin() const;
    std::int32_t nbands() const;
    // The bands that cross ef(): s * nbands() + b, ascending.
    const std::vector<std::int64_t>& selected() const;
    // The energy of band b of spin component s at grid point n.
    float energy(int s, std::int32_t b, std::int64_t n) const;
    // The Cartesian velocity, m/s, of band b of spin component s at grid point n: grad_k E /
    // hbar by central differences on the periodic grid.
    std::array<double, 3> velocity(int s, std::int32_t b, std::int64_t n) const;
    // Writes the band-grid file of the selected bands, byte for byte as the program writes
    // FS.bsxf; false when a write failed.
    bool write_bandgrid(std::FILE* out) const;

private:
    std::shared_ptr<const cut_state> run_;
};

// Reads the listing at `path` and makes the grid `g` of the bands crossing `ef`; with no
// `ef`, the listing's own Fermi energy.  A file that cannot be opened is refused ("cant
// open OUTCAR"), a grid with no point along some axis before anything is read.  Never
// throws: running short of memory is a refusal too.
cut_result cut(const std::string& path, const grid& g, std::optional<float> ef);

// The same from an open stream, named `name` in what it says.
cut_result cut(std::FILE* in, std::string_view name, const grid& g, std::optional<float> ef);

// The same from `size` bytes at `data` (a listing held in memory), named `name`.
cut_result cut_buffer(const char* data, std::size_t size, std::string_view name, const grid& g, std::optional<float> ef);

}  // namespace bandcut
