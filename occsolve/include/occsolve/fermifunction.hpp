// The occupation of one electronic state and its thermal broadening weight.
//
// With kT = kB * temperature and the reduced energy x = (energy - level) / kT, and a
// state holding g = 2/nspin electrons when full:
//   fermi  = g / (exp(x) + 1)                          0 for x > 40, g for x < -40
//   dfermi = 2/nspin * exp(x) / (kT (1 + exp(x))^2)    0 for |x| > 40
// dfermi is the derivative of fermi with respect to the level, in electrons per eV.
// fermi forms g in single precision (2.0f / nspin, widened), dfermi in double: for one,
// two or four channels the two agree exactly.  Both read no shared state.  At zero
// temperature a state exactly at the level gives not-a-number.
#pragma once

#include <cstdint>

namespace occsolve::fermifunction {

// Electrons in a state of `energy` (eV) at Fermi level `level` (eV), `temperature` (K).
double fermi(const double& energy, const double& level, const double& temperature, const std::int32_t& nspin);

// Its broadening weight, electrons per eV: the derivative of fermi with respect to the
// level (equivalently minus its derivative with respect to the energy).
double dfermi(const double& energy, const double& level, const double& temperature, const std::int32_t& nspin);

}  // namespace occsolve::fermifunction
