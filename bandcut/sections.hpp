// The reader of the listing's symmetry and k-mesh sections: what it takes to rebuild the
// full k-point mesh from the irreducible k-points a calculation lists.
//
// The listing prints, before its dimension line: the symmetry analysis ("Found N space
// group operations"), the k-point input and its mode lines (a mesh, or a band path
// "interpolating k-points between supplied coordinates"), the table of space-group
// operators (det, rotation angle, Cartesian axis), in newer listings the mesh and its
// shift, and the irreducible k-points with their raw weights (or, in hybrid runs, the
// full-zone list naming each grid point's irreducible point).  After the dimension
// line: the counts of ions, the run's flags (ISPIN, LNONCOLLINEAR, LSORBIT), the lattice
// block, the k-point list with eight decimals, and the ions' fractional positions.
// The input echo of newer listings holds the initial magnetic moments (MAGMOM).
//
// The listing reader hands it every line before the first "E-fermi" line, in order; it
// keeps what it recognises.  Nothing here fails: a section that is missing or malformed
// is simply absent, and the unfolding says what it lacked.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace bandcut {

using dvec3 = std::array<double, 3>;

// A row of the operator table: a rotation by alpha degrees about the Cartesian axis,
// times det (-1: combined with inversion).  The fractional translation is not kept.
struct operator_row {
    double det;
    double alpha;
    dvec3 axis;
};

// A k-point with a weight, in units of the reciprocal vectors.
struct weighted_kpoint {
    dvec3 c;
    double weight;
};

// A row of the full-zone list: a grid point (coordinates not reduced to the first zone)
// and the listed k-point it is equivalent to (counting from 1).
struct zone_point {
    dvec3 c;
    double weight;  // 1 / grid size, 0 for a zero-weight extra point; 1 when not printed
    std::int64_t index;
};

struct mesh_sections {
    // Before the dimension line.
    std::optional<std::int64_t> operations_found;  // the last "Found N space group operations" before the k-point input
    bool band_path = false;                        // the k-point input's mode lines say so
    bool operator_table = false;
    std::vector<operator_row> operators;
    std::optional<std::array<std::int64_t, 3>> mesh;  // "generate k-points for: n1 n2 n3"
    bool mesh_general = false;                        // the k-lattice's generators are not diagonal
    std::optional<dvec3> mesh_shift;                  // in steps
    bool irreducible_list = false;
    std::vector<weighted_kpoint> irreducible;  // coordinates and raw weights
    bool zone_list = false;
    std::vector<zone_point> zone;
    bool magmom_given = false;
    bool magmom_readable = false;
    std::vector<double> magmom;  // expanded: one value per count

    // After the dimension line.
    std::optional<std::int64_t> nions;
    std::vector<std::int64_t> ions_per_type;
    int ispin = 0;  // 0 when not printed
    bool noncollinear = false;
    bool spin_orbit = false;
    bool lattice = false;
    std::array<dvec3, 3> direct{};      // a1, a2, a3 in Cartesian A
    std::array<dvec3, 3> reciprocal{};  // b1, b2, b3 in Cartesian 1/A, without 2 pi
    std::vector<weighted_kpoint> kpoints;  // "k-points in reciprocal lattice and weights"
    std::vector<dvec3> positions;          // fractional (direct) coordinates of the ions
};

class section_reader {
public:
    // A line of the listing, without its newline, up to the first "E-fermi" line.
    void see(std::string_view line);
    // Says that the line just seen was the dimension line.
    void dimension_line_seen() { after_dimensions_ = true; }

    const mesh_sections& sections() const { return s_; }

private:
    enum class state {
        idle,
        mode_lines,       // after " KPOINTS:"
        operator_header,  // after "Space group operators:"
        operator_rows,
        k_lattice,        // after "Generating k-lattice:"
        shift_row,
        irreducible_head,  // after "Subroutine IBZKPT returns"
        irreducible_rows,
        zone_head,  // after "Subroutine IBZKPT_HF returns"
        zone_rows,
        lattice_rows,
        kpoint_rows,
        position_rows,
    };

    bool in_list(std::string_view line);
    void recognise(std::string_view line);

    mesh_sections s_;
    state state_ = state::idle;
    int rows_ = 0;  // rows read in the current section
    bool after_dimensions_ = false;
    bool kpoint_input_seen_ = false;
    bool ispin_seen_ = false, noncollinear_seen_ = false, spin_orbit_seen_ = false;
    bool positions_seen_ = false, kpoints_seen_ = false;
};

}  // namespace bandcut
