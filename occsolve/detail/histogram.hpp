// Bounds on the exact electron count at any level, from one pass over the energies: a
// histogram of the states' weights over the energy range, in bins of about kT/4.  A state
// far enough below a level adds exactly g to the count, one far enough above adds exactly
// 0 (bounds.hpp, 5), so the weight in the bins on either side bounds the count without
// evaluating a single state.  The first passes of a search, far from the Fermi level, are
// decided so.
#pragma once

#include "detail/occupation.hpp"
#include "occsolve/core.hpp"

#include <cstddef>
#include <vector>

namespace occsolve::detail {

class energy_histogram {
public:
    // Reads every energy and weight once.  `ok()` is false when an energy is not finite or
    // not below 1e6 eV in magnitude, or a weight is negative or not finite: the bounds
    // assume neither.  Also notes, per group (k-point major, then spin), whether the group's
    // bands ascend.  Throws std::bad_alloc when its tables cannot be had.
    energy_histogram(band_view v, occupation kernel);

    bool ok() const noexcept { return ok_; }

    // The exact count at `level` is at least / at most this (any level, infinite ones too).
    double count_at_least(double level) const noexcept;
    double count_at_most(double level) const noexcept;

    // Whether group (k-point k, spin s), numbered k * nspin + s, lists its bands ascending.
    bool ascending(std::size_t group) const noexcept { return ascending_[group] != 0; }

    // g times the weight of all states: the scale of the cut-off terms (bounds.hpp, 3).
    double g_weight() const noexcept { return g_weight_; }

private:
    // The index into weight_below_ of the bins lying wholly below x, as far as a histogram
    // built with rounding can tell (bounds.hpp, 5): floor((x - lo) / width), clamped.
    std::size_t bins_below(double x) const noexcept;

    occupation kernel_;
    double roundings_ = 0;  // n_C and n_H of bounds.hpp, (2) and (5)
    double exact_roundings_ = 0;
    double range_lo_ = 0, inverse_width_ = 0, largest_ = 0;
    std::size_t bins_ = 0;
    std::vector<double> weight_below_;  // weight_below_[j]: weight in the bins before bin j
    std::vector<char> ascending_;
    double g_weight_ = 0;
    bool ok_ = false;
};

}  // namespace occsolve::detail
