// The Fermi level of the shared band structure (occsolve/variable.hpp).  A thin layer
// over occsolve/core.hpp's find_level and find_bracket.  The calls on the shared state are
// named getef...; the stateless ones of core.hpp find_... and electron_count, in every
// language.
//
// Threads: the shared state is one per process.  getef reads it and writes efermi and the
// counters, so only one thread at a time may call it or touch the state.  A host that
// solves several independent problems serialises its calls, runs them in separate
// processes, or calls occsolve::find_level on views of its own arrays, which keeps no
// state.
#pragma once

namespace occsolve::ef {

// Bisects on the level in [emin, emax] eV (both null, or only one given: 2 to 20 eV)
// until the weighted occupation of all states, sum over k of kwpt(k) times the
// occupations of its bands and spins, lies within 1e-8 of totale.  The level tried last
// is left in variable::efermi, and the loop counters ik, iband, ispin as variable.hpp says.
//
// *status (if given):
//   status_converged  efermi holds the level;
//   status_stalled    no level of the bracket holds totale (it lies outside the bracket,
//                     the bracket is upside down, or the count jumps past totale between
//                     neighbouring levels, as at zero temperature), or the count or level
//                     is not a number, or there is no state at all (nk = 0 or nband = 0:
//                     the first pass decides); efermi holds the last level tried;
//   status_unusable   the state cannot be read (a negative count, nspin < 1, an array
//                     unallocated or smaller than the counts), totale is not finite, or an
//                     end of a given bracket is not a number: nothing is changed.
// Every call returns, whatever the state.
//
// Results are bit-identical to evaluating fermifunction::fermi for every state on every
// pass, the bands of one k-point summed in order, weighted once, then summed over
// k-points and spins; only states near the bracket are actually evaluated.
void getef(const double* emin = nullptr, const double* emax = nullptr, int* status = nullptr);

// A bracket that always holds the level: the lowest and highest band energy of the
// shared state, widened on each side by 41 kT and at least 1 meV, so that every count
// from 0 to a full set of states lies inside.  False, leaving emin and emax untouched,
// when the state cannot be read, has no state (nk = 0 or nband = 0), holds an energy that
// is not finite, or t is negative or not finite.
//     double lo, hi;
//     if (occsolve::ef::getef_bracket(lo, hi)) occsolve::ef::getef(&lo, &hi, &status);
bool getef_bracket(double& emin, double& emax);

// The former name of getef_bracket, kept for hosts written against it.
bool energy_bracket(double& emin, double& emax);

}  // namespace occsolve::ef
