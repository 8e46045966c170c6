// getef and energy_bracket over the shared state: a view of the shared arrays handed to
// the core (occsolve/core.hpp), the results written back.
#include "occsolve/ef.hpp"

#include "occsolve/core.hpp"
#include "occsolve/params.hpp"
#include "occsolve/variable.hpp"

#include <optional>

namespace occsolve::ef {

namespace {

// The shared band structure as a view, when its counts and arrays can be read: counts not
// negative, nspin >= 1, and each array the counts need allocated at least that large.
std::optional<band_view> shared_view() {
    using namespace occsolve::variable;
    if (nspin < 1 || nk < 0 || nband < 0) return std::nullopt;
    band_view v{nspin, nband, nk, nullptr, 0, 0, nullptr};
    if (nk == 0) return v;  // no state and no weight is read
    if (!kwpt.allocated() || kwpt.extent(1) < nk) return std::nullopt;
    v.weight = kwpt.data();
    if (nband == 0) return v;
    if (!bandenergy.allocated() || bandenergy.extent(1) < nspin || bandenergy.extent(2) < nband ||
        bandenergy.extent(3) < nk)
        return std::nullopt;
    v.energy = bandenergy.data();
    v.band_stride = bandenergy.extent(1);
    v.kpoint_stride = bandenergy.extent(1) * bandenergy.extent(2);
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
    const bracket b = emin && emax ? bracket{*emin, *emax} : bracket{params::default_emin, params::default_emax};
    const auto view = shared_view();
    const search_result r = view ? find_level(*view, v::t, v::totale, b) : search_result{};
    if (status) *status = r.status;
    if (r.status == params::status_unusable) return;  // nothing changed
    v::efermi = r.level;
    leave_counters();
}

bool energy_bracket(double& emin, double& emax) {
    const auto view = shared_view();
    bracket found{};
    if (!view || !occsolve::energy_bracket(*view, variable::t, found)) return false;
    emin = found.lo;
    emax = found.hi;
    return true;
}

}  // namespace occsolve::ef
