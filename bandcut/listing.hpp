// The listing reader: pulls the counts, the lattice vectors and the band energies out of
// the text listing "OUTCAR" that an electronic-structure calculation writes, and hands
// every line before the band energies to the reader of the symmetry sections.
//
// The listing is not parsed as a whole.  The reader moves forward through it once:
//   1. the first line holding "NKPTS" gives the number of k-points and of bands;
//   2. the three lines after "reciprocal lattice vectors" give the direct vectors A1..A3
//      (first three reals of each line) and the reciprocal vectors B1..B3 (last three);
//   3. the line holding "E-fermi" marks where the eigenvalue blocks begin;
//   4. one block per k-point: a header " k-point  N :  c1 c2 c3", a line of column heads,
//      NBANDS lines "band-number energy occupation", and a separator line.
// A spin-polarised listing repeats the NKPTS blocks after a line " spin component 2".
// Relaxations print the band energies again after every ionic step; the first set is
// read, the others counted.  The reader writes nothing: what it found (for the echo) and
// why it stopped are in what it returns.
#pragma once

#include "sections.hpp"

#include <bandcut/cut.hpp>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <optional>
#include <string>

namespace bandcut {

using vec3 = std::array<float, 3>;

// Tables as large as a listing's band energies: memory from the C allocator, released
// with free().  `make_table` returns n entries, uninitialised, or null when memory is
// short; tables of some megabytes lie in huge pages where the system has them, so that
// filling them does not fault once per 4 KiB page (a third of the reading time else).
struct free_memory {
    void operator()(void* p) const noexcept { std::free(p); }
};
template <class T>
using table_ptr = std::unique_ptr<T[], free_memory>;
void* allocate_table(std::size_t bytes) noexcept;
template <class T>
table_ptr<T> make_table(std::size_t n) {
    return table_ptr<T>(n > SIZE_MAX / sizeof(T) ? nullptr : static_cast<T*>(allocate_table(n * sizeof(T))));
}

struct listing {
    // How far the reading got, each stage including the ones before: what the echo may
    // show when the listing fails later.
    enum class stage { nothing, dimension_line, counts, lattice, fermi_marker, band_energies };
    stage reached = stage::nothing;
    std::string dimension_line;  // the line holding NKPTS, up to a NUL byte, as the echo prints it

    std::int32_t nkpts = 0;
    std::int32_t nbands = 0;
    long counts_line = 0;  // the line that gave NKPTS and NBANDS

    // The lattice: a_i (Cartesian A) and b_i (Cartesian 1/A, without 2 pi), one vector per
    // row, each number as strtof rounds its text (the echo and the band-grid file print
    // these) and as strtod rounds it (the symmetry work).
    std::array<vec3, 3> direct{};      // A1, A2, A3
    std::array<vec3, 3> reciprocal{};  // B1, B2, B3
    std::array<dvec3, 3> direct_double{}, reciprocal_double{};

    float efermi = std::numeric_limits<float>::quiet_NaN();  // the listing's own: the first number after "E-fermi"
    int nspin = 1;            // 2 when a second spin component was read
    std::int64_t sets = 1;    // sets of band energies (one per ionic step); the first is read
    std::uint64_t bytes = 0;  // the listing's size, read whole: the measure of the work it warrants

    // Band energies in eV, one table per spin component, NKPTS rows of NBANDS values:
    // the energy of band b (counting from 0, in the order of the band lines) at the
    // k-point listed k-th is eband[s][k * NBANDS + b].
    std::array<table_ptr<float>, 2> eband;

    // Coordinates of each k-point as its header gives them (in units of the reciprocal
    // vectors), NKPTS entries; not-a-number where the header holds no three reals.
    table_ptr<vec3> kpoint;

    // What the listing says about its symmetry, k-point mesh and magnetic order.
    mesh_sections mesh;
};

// Why a listing could not be read: the reason, the line it concerns (counting from 1; for
// a missing marker the last line of the listing; 0 when no line is concerned, as for a
// read error at the start), and what the account words it from (failure_words, account.hpp):
//   read_error        text: the system's words
//   missing_marker    text: the marker
//   bad_counts        at: no_kpoint_count, no_band_count or impossible (counts: NKPTS, NBANDS)
//   listing_ends      at: lattice, first_block, before_block or inside_block (counts: the block
//                     from 1, NKPTS; spin2: the block is spin component 2's)
//   line_too_long, tables_too_large   counts[0]: the stream's limit, bytes
//   out_of_memory     counts: NKPTS, NBANDS
//   many_body_run     text: ALGO's value (empty: a frequency table follows E-fermi); counts[0]: its line
//   spin_component_2  at: ends_before, should_begin or other_header (counts[0]: the block from
//                     1; header and first: the two headers' coordinates)
//   bad_lattice_line, bad_band_line, quasiparticle_tables: nothing more.
struct read_failure {
    enum class place { none, lattice, first_block, before_block, inside_block, no_kpoint_count, no_band_count, impossible,
                       ends_before, should_begin, other_header };
    long line = 0;
    reason why = reason::read_error;
    bool unreadable = false;  // the file itself failed (a read error, a folder of that name), not its text
    place at = place::none;
    std::string text;
    std::int64_t counts[2] = {0, 0};
    bool spin2 = false;
    vec3 header{}, first{};
};

struct read_options {
    // Bytes read at a time: small enough for the processor's second-level cache, where
    // the kernel's copy lands; a longer line makes the buffer grow.  Small in tests, so
    // that they reach the growth paths.
    std::size_t buffer = std::size_t{256} << 10;
    // Band energies to make room for at once; 0: as many as the file's bytes could hold.
    // The table grows as the listing fills it.  Small in tests, so that it grows with data
    // in it.
    std::size_t first_table = 0;
    // A listing that is not a regular file (a pipe, a device, a stream in memory) has no
    // size to bound its memory by: its lines may hold at most `stream_line` bytes, and its
    // tables at most `stream_tables` bytes in all.  Small in tests.
    std::size_t stream_line = std::size_t{16} << 20;
    std::size_t stream_tables = std::size_t{4} << 30;
};

// Reads the listing from `in` into `out`.  Returns the failure if the listing lacks what
// the band-grid file needs, or is cut short inside it; `out.reached` then says how far it
// got, and the rest of `out` must not be used.  Memory goes with what the listing holds,
// not with what its counts claim.
std::optional<read_failure> read_listing(std::FILE* in, listing& out, const read_options& options = {});

}  // namespace bandcut
