// The reader of the listing's symmetry, k-mesh and magnetic sections: what it takes to
// rebuild the full k-point mesh from the irreducible k-points a calculation lists.
//
// The listing prints, before its dimension line: the input echo of newer listings (with
// the initial magnetic moments, MAGMOM, or a box saying that every ion starts from a
// moment of 1), the symmetry analysis ("Found N space group operations"), the k-point
// input and its mode lines (a mesh, or a band path "interpolating k-points between
// supplied coordinates"), the table of space-group operators (det, rotation angle,
// Cartesian axis, fractional translation), in newer listings the mesh and its shift, and
// the irreducible k-points with their raw weights (or, in hybrid runs, the full-zone list
// naming each grid point's irreducible point).  After the dimension line: the counts of
// ions, the run's flags (ISPIN, LNONCOLLINEAR, LSORBIT), the k-point list with eight
// decimals, and the ions' fractional positions.  After the first set of band energies,
// spin-polarised runs of older programs print the moment of each ion ("magnetization (x)").
//
// The listing reader hands it every line before the first "E-fermi" line, in order, with
// its number; it keeps what it recognises.  Nothing here fails: a section that is missing
// is absent, one that is malformed says where, and the unfolding says what it lacked.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace bandcut {

using dvec3 = std::array<double, 3>;

// A row of the operator table: a rotation by alpha degrees about the Cartesian axis,
// times det (-1: combined with inversion), followed by the translation tau in fractional
// (direct) coordinates: x' = W x + tau.
struct operator_row {
    double det;
    double alpha;
    dvec3 axis;
    dvec3 tau;
};

// A k-point with a weight, in units of the reciprocal vectors.
struct weighted_kpoint {
    dvec3 c;
    double weight;
};

// A row of the full-zone list: a grid point (coordinates not reduced to the first zone)
// and the listed k-point it is equivalent to (counting from 1); `spin_flip` when the row
// ends in "spinflp": the operation that reaches it reverses the moments, so its spin
// components are those of the listed point swapped.
struct zone_point {
    dvec3 c;
    double weight;  // 1 / grid size, 0 for a zero-weight extra point; 1 when not printed
    std::int64_t index;
    bool spin_flip = false;
};

struct mesh_sections {
    // Before the dimension line.
    std::optional<std::int64_t> operations_found;  // the last "Found N space group operations" before the k-point input
    bool band_path = false;                        // the k-point input's mode lines say so
    bool operator_table = false;
    std::vector<operator_row> operators;
    long malformed_operator_line = 0;                  // a line inside the table that is no row of nine numbers
    std::optional<std::array<std::int64_t, 3>> mesh;  // "generate k-points for: n1 n2 n3"
    bool mesh_general = false;                        // the k-lattice's generators are not diagonal
    std::optional<dvec3> mesh_shift;                  // in steps
    bool irreducible_list = false;
    std::vector<weighted_kpoint> irreducible;  // coordinates and raw weights
    bool zone_list = false;
    std::vector<zone_point> zone;
    // MAGMOM from the input echo's own tag line ("   MAGMOM = 4*3.0 4*-3.0"), never from a
    // title or another tag's text: runs of (count, moment); the moments they stand for,
    // counted (saturating), are expanded only once checked against the ions.  Several tag
    // lines that disagree say nothing (which one the run read is not knowable): the first
    // two are named.
    bool magmom_given = false;
    bool magmom_readable = false;
    std::vector<std::pair<std::int64_t, double>> magmom;
    std::int64_t magmom_count = 0;
    std::array<long, 2> magmom_lines{};  // the first tag line, and the first that disagrees with it (0: none)
    bool magmom_conflict() const { return magmom_lines[1] != 0; }
    bool default_moments = false;  // the box that says every ion starts from a moment of 1
    // The input echo's ALGO when it names a many-body method (quasiparticles, response
    // functions), and its line: such a run's tables after E-fermi need not be band energies.
    std::string many_body;
    long many_body_line = 0;

    // After the dimension line.
    std::optional<std::int64_t> nions;
    std::optional<double> nelect;  // "NELECT = 120.0000": the electrons the run holds
    std::vector<std::int64_t> ions_per_type;
    int ispin = 0;  // 0 when not printed
    bool noncollinear = false;
    bool spin_orbit = false;
    std::vector<weighted_kpoint> kpoints;  // "k-points in reciprocal lattice and weights"
    std::vector<dvec3> positions;          // fractional (direct) coordinates of the ions

    // After the first set of band energies: the "tot" column of the first table of moments
    // per ion, read only when neither MAGMOM nor the default box says what they were.
    bool magnetization_read = false;
    std::vector<double> magnetization;

    // Whether the initial moments must come from the moments the run printed.
    bool moments_from_magnetization() const { return (!magmom_given || magmom_conflict()) && !default_moments; }
};

class section_reader {
public:
    // A line of the listing, without its newline, up to the first "E-fermi" line, and its
    // number (counting from 1).
    void see(std::string_view line, long number);
    // Says that the line just seen was the dimension line.
    void dimension_line_seen() { after_dimensions_ = true; }

    const mesh_sections& sections() const { return s_; }

private:
    enum class state {
        idle,
        mode_lines,       // after " KPOINTS:"
        operator_header,  // after "Space group operators:"
        operator_rows,
        k_lattice,  // after "Generating k-lattice:"
        shift_row,
        irreducible_head,  // after "Subroutine IBZKPT returns"
        irreducible_rows,
        zone_head,  // after "Subroutine IBZKPT_HF returns"
        zone_rows,
        kpoint_rows,
        position_rows,
    };

    bool in_section(std::string_view line, long number);
    bool mode_line(std::string_view line);
    bool operator_row_line(std::string_view line, long number);
    bool k_lattice_row(std::string_view line);
    bool list_head(std::string_view line);
    bool zone_row(std::string_view line);
    void recognise(std::string_view line, long number);
    void recognise_input(std::string_view line, long number);
    void magmom_line(std::string_view value, long number);
    void recognise_run(std::string_view line);
    void start(state next);

    mesh_sections s_;
    state state_ = state::idle;
    int rows_ = 0;  // rows read in the current section
    bool after_dimensions_ = false;
    bool kpoint_input_seen_ = false;
    bool ispin_seen_ = false, noncollinear_seen_ = false, spin_orbit_seen_ = false;
    bool positions_seen_ = false, kpoints_seen_ = false;
};

// The first table of moments per ion after the first set of band energies:
//     magnetization (x)
//
//    # of ion       s       p       d       tot
//    ------------------------------------------
//        1       -0.002  -0.030   0.000  -0.031
//    ...
//    --------------------------------------------------
//    tot         -0.002   0.002  -0.001  -0.002
// Its rows' last column, in the order of the positions, go to `magnetization`.
class magnetization_reader {
public:
    explicit magnetization_reader(mesh_sections& into) : s_(into) {}
    void see(std::string_view line);
    bool done() const { return state_ == state::done; }

private:
    enum class state { looking, head, rows, done };
    mesh_sections& s_;
    state state_ = state::looking;
};

}  // namespace bandcut
