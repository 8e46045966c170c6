// The second viewer's file "FS.frmsf": the grid's kind named exactly, so that a mesh
// shifted off the zone centre is drawn in place, and each band coloured by its Fermi speed.
//
// Layout (whitespace-separated numbers, one a line; the reciprocal vectors as printf's "%e"
// prints them, the values in single precision as its "%f" does: a micro-electronvolt, a
// tenth of a metre a second):
//   N1 N2 N3
//   kind           0: Monkhorst-Pack, x_i = (2i - 1 - N) / (2N); 1: x_i = (i - 1) / N;
//                  2: x_i = (2i - 1) / (2N); i = 1..N, the point x b1 + y b2 + z b3
//   number of bands
//   b1, b2, b3     one vector a line (1/A without 2 pi, as the listing prints them)
//   the energies minus Ef (the viewer takes the Fermi energy to be 0), band by band, each
//   band's N1 x N2 x N3 values with the first index slowest and the third fastest (an open
//   grid: no repeated planes)
//   one block of the Fermi speed |v| in 10^5 m/s (narrowed to single precision), in the
//   same order: the viewer's colour.
//
// The kind from the mesh's shift, per axis: every axis unshifted, kind 1; every axis
// shifted by half a step, kind 2; each even axis shifted and each odd one not, kind 0
// (which starts below the zone centre: the values wrap).  A shift no kind expresses (an
// even axis unshifted beside a shifted one) is written as kind 1, the surface then drawn
// shifted by as much (the account warns of it).
//
// The Fermi speed |v| = |grad_k E| / hbar, grad_k E = (1/2 pi) sum_i (dE/dx_i) a_i with k in
// 1/A (2 pi included) and x_i the coordinate along b_i; dE/dx_i by central differences on
// the periodic grid, N_i (E(x_i + 1/N_i) - E(x_i - 1/N_i)) / 2, exact for a band quadratic
// along the axis and else in error by (1/6) (1/N_i)^2 d3E/dx_i3 (second order in the
// step).  An axis of one or two points contributes nothing along itself.
#pragma once

#include "bandgrid.hpp"
#include "grid.hpp"
#include "listing.hpp"

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>

namespace bandcut {

inline constexpr double hbar_ev_s = 6.582119569e-16;  // eV s

struct frmsf_layout {
    int kind = 1;
    bool in_place = true;  // the kind puts every value where its k-point lies
};

// The kind for a grid of `g` points shifted by `shift` steps (0 or 1/2) per axis.
frmsf_layout frmsf_kind(const grid& g, const std::array<double, 3>& shift);

// Along an axis of n points, the grid index of the kind's i-th value (i from 0).
std::int64_t frmsf_index(int kind, std::int64_t i, std::int64_t n);

// dE/dx_i of a band at grid point (ix, iy, iz), eV per unit of x_i, by central differences;
// `value(n)` gives the band's energy at grid point n.
template <class Value>
std::array<double, 3> grid_derivatives(const grid& g, std::int64_t ix, std::int64_t iy, std::int64_t iz, const Value& value) {
    const std::array<std::int64_t, 3> n{g.nkx, g.nky, g.nkz}, at{ix, iy, iz};
    const std::array<std::int64_t, 3> stride{std::int64_t{g.nky} * g.nkz, g.nkz, 1};
    const std::int64_t here = ix * stride[0] + iy * stride[1] + iz;
    std::array<double, 3> d{};
    for (std::size_t a = 0; a < 3; ++a) {
        // The neighbours along the axis, wrapped on the periodic grid: on an axis of one or
        // two points they are one point, and the difference is 0.
        const std::int64_t up = here + (at[a] + 1 == n[a] ? 1 - n[a] : 1) * stride[a];
        const std::int64_t down = here + (at[a] == 0 ? n[a] - 1 : -1) * stride[a];
        d[a] = static_cast<double>(n[a]) * (static_cast<double>(value(up)) - static_cast<double>(value(down))) / 2;
    }
    return d;
}

// The Cartesian velocity, m/s, of derivatives d (eV per unit of x_i) in the lattice whose
// direct vectors (A) are the rows of `direct`.
std::array<double, 3> velocity_of(const std::array<double, 3>& d, const std::array<dvec3, 3>& direct);

// Writes FS.frmsf for the selected bands `nstore` (s * NBANDS + b) of a grid shifted by
// `shift`; false if a write failed, at which point it stops.
bool write_frmsf(std::FILE* out, const listing& bands, float ef, const grid& g, std::span<const std::int64_t> nstore,
                 grid_source values, const std::array<double, 3>& shift, const write_options& options = {});

}  // namespace bandcut
