// occsolve: Fermi-Dirac occupations and the Fermi level of a band structure.
//
// Units: energies in eV, temperatures in kelvin, electron counts in electrons.  A state
// holds at most 2/nspin electrons: 2 with one spin channel, 1 with two.
//
// The library is organised as four modules, each a namespace of process-wide objects and
// routines:
//   occsolve::params         the constants below
//   occsolve::variable       the shared band structure a host fills (variable.hpp)
//   occsolve::fermifunction  fermi and dfermi, the occupation of one state (fermifunction.hpp)
//   occsolve::ef             getef, the Fermi-level search (ef.hpp)
// over a core of stateless functions on views of the caller's arrays (core.hpp).
#pragma once

namespace occsolve::params {

inline constexpr double kB = 8.6174103e-5;  // Boltzmann constant, eV/K

// Beyond |reduced energy| = 40 a state counts as exactly empty (above) or full (below).
// Its true occupation lies within g e^-40 (about 4e-18 g) of that: below the spacing of
// doubles near g on the full side; on the empty side a small number the cut drops, the
// same for every count, so that the counts stay the documented ones.
inline constexpr double cutoff = 40.0;

// getef stops at the first trial level whose electron count is within this many
// electrons of variable::totale.
inline constexpr double tolerance = 1e-8;

// The bracket getef searches when the host gives none, in eV.
inline constexpr double default_emin = 2.0;
inline constexpr double default_emax = 20.0;

// What getef and find_level report.
inline constexpr int status_converged = 0;  // the level holds the electrons
inline constexpr int status_stalled = 1;    // the bracket stopped shrinking: no level in it holds them
inline constexpr int status_unusable = 2;   // the state, the electron count or the bracket cannot be used; nothing was changed

}  // namespace occsolve::params
