// The Fermi level of the shared band structure (occsolve/variable.hpp).
#pragma once

namespace occsolve::ef {

// Bisects on the level in [emin, emax] eV (both null, or only one given: 2 to 20 eV)
// until the weighted occupation of all states, sum over k of kwpt(k) times the
// occupations of its bands and spins, lies within 1e-8 of totale.  Each trial level is
// stored in variable::efermi as it is tried, so efermi holds the result on return.
//
// *status (if given) is status_converged; status_stalled when the bracket stopped
// shrinking first (no level in it holds totale: it lies outside the bracket, the
// bracket is upside down, or the count jumps past totale between neighbouring levels, as
// at zero temperature) or the count is not a number; efermi then holds the last level
// tried.  status_unusable when the state cannot be read (a negative count, nspin < 1,
// an array unallocated or smaller than the counts): nothing is changed.
//
// Results are bit-identical to evaluating fermifunction::fermi for every state on every
// pass, the bands of one k-point summed in order, weighted once, then summed over
// k-points and spins; only states near the bracket are actually evaluated.
void getef(const double* emin = nullptr, const double* emax = nullptr, int* status = nullptr);

}  // namespace occsolve::ef
