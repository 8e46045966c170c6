// occsolve's core: stateless functions over a view of the caller's band structure.  The
// shared state of occsolve/variable.hpp, the C interface and the Fortran module are thin
// layers over these.  C++17.
//
// Units: energies in eV, temperatures in kelvin, electron counts in electrons.  A state of
// a band structure with nspin spin channels holds at most g = 2/nspin electrons, g formed
// in single precision as 2.0f / nspin and widened (exact for 1, 2 and 4 channels).
//
// Layout.  The energy of spin s, band b, k-point k, all counting from 0, is
//     energy[s + b * band_stride + k * kpoint_stride]
// with spin fastest; weight[k] is the weight of k-point k.  A Fortran array e(S, B, K)
// viewed whole has band_stride = S and kpoint_stride = S * B; its leading block of
// nspin x nband x nk is read when the counts are smaller than the extents.  Example: two
// spins, three bands, stored as e(2, 3, nk): energy[1 + 2 * 2 + k * 6] is spin 2, band 3.
//
// The electron count at a level is the documented sum, in this order, every state
// evaluated as fermifunction::fermi evaluates it:
//     occ(s) = sum over bands b, in order, of fermi(e(s, b, k), level, T, nspin)
//     nel(s) = sum over k-points k, in order, of occ(s) * weight[k]     (occ(s) for k)
//     count  = sum over spins s, in order, of nel(s)
// The order fixes the rounding: every result below is bit-identical to evaluating it so.
//
// What the search's shortcuts assume (when an input breaks them it takes the plain path,
// with the same results): the C library's exp is within 2 ulp of the true value; weights
// are finite and not negative; energies are finite and below 1e6 eV in magnitude; kT > 0.
//
// Threads: nothing here keeps state or writes the view; calls on views that nobody
// writes meanwhile may run in any number of threads at once.
#pragma once

#include <cstdint>

namespace occsolve {

// A non-owning view of one band structure.  Pass it by value.
struct band_view {
    std::int32_t nspin = 0;
    std::int32_t nband = 0;
    std::int32_t nk = 0;
    const double* energy = nullptr;   // read only when nspin, nband and nk are all > 0
    std::int64_t band_stride = 0;     // elements from one band to the next, at least nspin
    std::int64_t kpoint_stride = 0;   // elements from one k-point to the next, at least band_stride * nband
    const double* weight = nullptr;   // nk weights; read only when nk > 0
};

// True when the view can be read: nspin >= 1, nband >= 0, nk >= 0, and the pointers and
// strides the counts need are there.
bool readable(band_view v) noexcept;

// The view of an array of extents (S, B, K) stored as Fortran stores e(S, B, K), holding
// the leading nspin x nband x nk block, and the nk weights: false when the counts exceed
// the extents, the array would not fit in memory, or the view would not be readable.
bool view_of_array(std::int32_t nspin, std::int32_t nband, std::int32_t nk, const std::int64_t extent[3],
                   const double* energy, const double* weight, band_view& out) noexcept;

// Every call below takes the temperature before the level or electron count it concerns.

// The electron count at `temperature` and `level`, in the documented order above.  The
// view must be readable.
double electron_count(band_view v, double temperature, double level) noexcept;

// The ends of a search bracket, in eV.
struct bracket {
    double lo;
    double hi;
};

struct search_result {
    double level = 0;         // the last level tried: the Fermi level when converged
    int status = 2;           // params::status_converged, _stalled or _unusable
    std::int64_t passes = 0;  // bisection passes, each trying one level
};

// Bisects on the level in [b.lo, b.hi] until the electron count at the level tried lies
// within params::tolerance of `electrons`, exactly as a plain bisection that counts every
// state on every pass:
//     level = (lo + hi) * 0.5;  count at level;
//     count > electrons: hi = level;  count < electrons: lo = level;
//     |count - electrons| < tolerance: converged.
// Ends with status_stalled when a level equals an end of the bracket (it stopped
// shrinking: no level in it holds `electrons`; the bracket is upside down; or the count
// jumps past `electrons` between neighbouring levels, as at zero temperature), when the
// count or the level is not a number, and when there is no state at all (the count is
// 0 at every level: the first pass decides).  status_unusable, with nothing tried, when
// the view is not readable, `electrons` is not finite, or an end of the bracket is not a
// number.  Every call returns: each pass that does not end the search strictly narrows a
// bracket of doubles.
search_result find_level(band_view v, double temperature, double electrons, bracket b) noexcept;

// The same in the data's own bracket, find_bracket's, which holds every count; where the
// data has none (no state, an energy or the temperature not finite), in the shared
// state's default bracket, params::default_emin to default_emax.
search_result find_level(band_view v, double temperature, double electrons) noexcept;

// A bracket that holds every level the count can need: the lowest and highest energy
// of the view, widened on each side by 41 kT and at least 1 meV, so that at its ends
// every state is exactly empty or exactly full, and every electron count from 0 to a
// full set of states is reached inside.  False (and `out` untouched) when the view is
// not readable, has no state, holds an energy that is not finite, or the temperature is
// not finite or negative.
bool find_bracket(band_view v, double temperature, bracket& out) noexcept;

}  // namespace occsolve
