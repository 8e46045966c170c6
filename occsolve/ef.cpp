// getef and energy_bracket over the shared state: thin callers of the stateless interface
// (occsolve/occsolve.h) on the shared arrays, the results written back.
#include "occsolve/ef.hpp"

#include "occsolve/occsolve.h"
#include "occsolve/params.hpp"
#include "occsolve/variable.hpp"

#include <optional>

namespace occsolve::ef {

namespace {

// The shared band structure as the stateless interface takes one: its arrays with their
// extents.  Empty when the weights the counts need are not there (the band energies'
// extents the stateless interface checks itself).
std::optional<occsolve_bands> shared_bands() {
    using namespace occsolve::variable;
    if (nk > 0 && (!kwpt.allocated() || kwpt.extent(1) < nk)) return std::nullopt;
    return occsolve_bands{nspin, nband, nk, {bandenergy.extent(1), bandenergy.extent(2), bandenergy.extent(3)},
                          bandenergy.data(), kwpt.data()};
}

// The counters as the search's loops leave them after a pass: one past each range, or 1
// for an empty one; with no k-point the inner loops never start.
void leave_counters() {
    using namespace occsolve::variable;
    ik = nk > 0 ? nk + 1 : 1;
    if (nk <= 0) return;
    iband = nband > 0 ? nband + 1 : 1;
    ispin = nspin + 1;
}

}  // namespace

void getef(const double* emin, const double* emax, int* status) {
    namespace v = occsolve::variable;
    const auto bands = shared_bands();
    double level = v::efermi;
    const int found = bands ? occsolve_find_level(&*bands, v::t, v::totale, emin, emax, &level) : params::status_unusable;
    if (status) *status = found;
    if (found == params::status_unusable) return;  // nothing changed
    v::efermi = level;
    leave_counters();
}

bool energy_bracket(double& emin, double& emax) {
    const auto bands = shared_bands();
    return bands && occsolve_find_bracket(&*bands, variable::t, &emin, &emax) == params::status_converged;
}

}  // namespace occsolve::ef
