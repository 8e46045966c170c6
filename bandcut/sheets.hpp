// The numbers of a Fermi surface: the carriers each sheet holds, its density of states at
// Ef, and what the grid says about Ef itself, by linear tetrahedra on the full grid.
//
// Method.  Each cell of the periodic N1 x N2 x N3 grid is split into six tetrahedra of
// equal volume around the cell's shortest main diagonal (its Cartesian length with the
// reciprocal vectors; of lengths equal within 1e-9 relative, the first of (0,0,0)-(1,1,1),
// (1,0,0)-(0,1,1), (0,1,0)-(1,0,1), (0,0,1)-(1,1,0)), and the energy varies linearly inside
// each.  Then, per band and spin component, in closed form (double precision): the fraction
// of the zone where E < Ef, and its derivative with respect to Ef, the band's density of
// states there.  The error is second order in the grid step.
//
// Units.  A band holds `spin_factor` electrons per cell when full: 2 without spin
// polarisation or spin-orbit coupling, else 1.  Electrons per cell: fraction x factor;
// holes: (1 - fraction) x factor; carriers per cm^3 with the cell's volume from the direct
// lattice vectors; density of states: states per eV per cell, the factor included.
#pragma once

#include "cut_state.hpp"
#include "finding.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace bandcut {

// The part of a tetrahedron's volume where its linear energy lies below `ef`, and the
// derivative of that part with respect to `ef` (per eV), from its four corner energies.
struct tetrahedron_share {
    double fraction = 0;
    double density = 0;
};
tetrahedron_share tetrahedron(std::array<double, 4> corners, double ef);

// Which main diagonal the cells are split around: 0 for (0,0,0)-(1,1,1), 1 for
// (1,0,0)-(0,1,1), 2 for (0,1,0)-(1,0,1), 3 for (0,0,1)-(1,1,0).
int split_diagonal(const grid& g, const std::array<dvec3, 3>& reciprocal);

// The six tetrahedra of the cell at (0,0,0) around a diagonal: each its four corners, as
// offsets (0 or 1) along the three axes.
std::array<std::array<std::array<int, 3>, 4>, 6> cell_tetrahedra(int diagonal);

struct sheet {
    int spin;           // spin component, from 0
    std::int32_t band;  // from 0
    double electrons;   // per cell
    double holes;       // per cell
    double carriers;    // per cm^3: electrons where the band is less than half full, else holes
    bool holes_carry;   // the band is at least half full: its carriers are holes
    double dos;         // states per eV per cell at Ef
};

// Why the numbers cannot be had (a band path, a grid in listing order: no mesh to
// integrate over; no grid): no_mesh or no_grid, none when they can.
finding sheets_fault(const cut_state& r);

// The electrons a full band holds per cell: 2, or 1 with two spin components or spin-orbit
// coupling.
double spin_factor(const cut_state& r);

// The sheets of the bands that cross `ef` (r.selected's bands at r.ef when ef is the
// run's); the cut must be ok and have no sheets_fault.
std::vector<sheet> sheets_at(const cut_state& r, double ef);

// Electrons per cell below `ef` on the grid, every band of every spin component counted
// (full bands whole), and the total density of states there (states per eV per cell).
struct grid_count {
    double electrons = 0;
    double dos = 0;
};
grid_count electrons_below(const cut_state& r, double ef);

// The level at which the grid holds `electrons` per cell, to 1e-6 eV: the count is
// continuous and non-decreasing in the level; bracketed by the lowest and highest band
// energy and narrowed by safeguarded Newton steps.  Empty when no level of the bracket
// holds them.
std::optional<double> level_for(const cut_state& r, double electrons);

}  // namespace bandcut
