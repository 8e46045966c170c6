// getef and getef_bracket over the shared state: thin callers of the stateless core
// (occsolve/core.hpp) on the shared arrays, the results written back.  The C interface
// calls these, never the other way round.
#include "occsolve/ef.hpp"

#include "occsolve/core.hpp"
#include "occsolve/params.hpp"
#include "occsolve/variable.hpp"

#include <cstdint>
#include <optional>

namespace occsolve::ef {

namespace {

// The shared band structure as the core reads one: a view of its arrays.  Empty when it
// cannot be read: the weights the counts need are not there, or the band energies' extents
// are smaller than the counts.
std::optional<band_view> shared_bands() {
    using namespace occsolve::variable;
    if (nk > 0 && (!kwpt.allocated() || kwpt.extent(1) < nk)) return std::nullopt;
    const std::int64_t extent[3] = {bandenergy.extent(1), bandenergy.extent(2), bandenergy.extent(3)};
    band_view v{};
    if (!view_of_array(nspin, nband, nk, extent, bandenergy.data(), kwpt.data(), v)) return std::nullopt;
    return v;
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
    const bracket b = emin && emax ? bracket{*emin, *emax} : bracket{params::default_emin, params::default_emax};
    const search_result r = bands ? find_level(*bands, v::t, v::totale, b) : search_result{};
    const int found = bands ? r.status : params::status_unusable;
    if (status) *status = found;
    if (found == params::status_unusable) return;  // nothing changed
    v::efermi = r.level;
    leave_counters();
}

bool getef_bracket(double& emin, double& emax) {
    const auto bands = shared_bands();
    bracket b{};
    if (!bands || !find_bracket(*bands, variable::t, b)) return false;
    emin = b.lo;
    emax = b.hi;
    return true;
}

bool energy_bracket(double& emin, double& emax) { return getef_bracket(emin, emax); }

}  // namespace occsolve::ef
