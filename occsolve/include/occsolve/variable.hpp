// The shared state of one calculation, as process-wide objects a host fills before it
// calls getef.  Everything starts at zero; the arrays start unallocated.
//
// Order of use:
//   1. set nspin, nk, nband, t and totale;
//   2. allocate bandenergy with extents of at least (nspin, nband, nk) and kwpt with at
//      least nk entries, and fill them (the library never allocates or frees them);
//   3. call occsolve::ef::getef();
//   4. read efermi.
//
// bandenergy(s, b, k) is the energy in eV of band b at k-point k in spin channel s, all
// counting from 1, the spin index fastest in memory: with nspin = 2, nband = 3 the
// storage runs (1,1,1) (2,1,1) (1,2,1) (2,2,1) (1,3,1) (2,3,1) (1,1,2) ...  getef reads
// the leading block through the array's own extents, so an array allocated larger than
// the counts is read correctly.  kwpt(k) is the weight of k-point k; the electron count
// getef matches against totale is the sum over states of occupation x weight, so totale
// is on whatever footing the weights are (weights summing to 1: electrons per cell).
#pragma once

#include "occsolve/allocatable.hpp"

#include <cstdint>

namespace occsolve::variable {

extern std::int32_t nspin;  // spin channels: a state holds 2/nspin electrons
extern std::int32_t nk;     // k-points
extern std::int32_t nband;  // bands
extern double t;            // electronic temperature, K
extern double totale;       // electrons the occupied states must hold
extern double efermi;       // Fermi level, eV: written by getef

extern allocatable<double, 3> bandenergy;  // (spin, band, k-point), eV
extern allocatable<double, 1> kwpt;        // (k-point), weight

// getef's loop counters; after a call they hold nk + 1, nband + 1 and nspin + 1 (1 for
// an empty range; with nk <= 0 only ik is set, to 1).
extern std::int32_t ik;
extern std::int32_t iband;
extern std::int32_t ispin;

// For host code; the library does not touch them.
extern std::int32_t i, j, k, l;
extern std::int32_t ivec, eof;
extern double scales, volume;
extern double vec[3][3];

}  // namespace occsolve::variable
