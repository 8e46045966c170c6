// One pass over the band structure before the accelerated search: whether its shortcuts
// may be taken (every energy finite and below 1e6 eV in magnitude, every weight finite
// and not negative), which groups list their bands in ascending order (so that the
// states near a level can be found by bisection), and the weight of all states.  It is
// the only pass that reads every energy; the search then reads only states near levels.
#pragma once

#include "detail/occupation.hpp"
#include "occsolve/core.hpp"

#include <cstddef>
#include <vector>

namespace occsolve::detail {

class energy_survey {
public:
    // Throws std::bad_alloc when its table cannot be had.
    energy_survey(band_view v, occupation kernel);

    bool ok() const noexcept { return ok_; }

    // Whether group (k-point k, spin s), numbered k * nspin + s, lists its bands ascending.
    bool ascending(std::size_t group) const noexcept { return ascending_[group] != 0; }

    // g times the weight of all states: the scale of the cut-off terms (bounds.hpp, 3).
    double g_weight() const noexcept { return g_weight_; }

private:
    std::vector<char> ascending_;
    double g_weight_ = 0;
    bool ok_ = false;
};

}  // namespace occsolve::detail
