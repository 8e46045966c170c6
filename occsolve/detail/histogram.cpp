#include "detail/histogram.hpp"

#include "detail/bounds.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace occsolve::detail {

energy_histogram::energy_histogram(band_view v, occupation kernel) : kernel_(kernel) {
    const auto groups = static_cast<std::size_t>(v.nk) * static_cast<std::size_t>(v.nspin);
    ascending_.assign(groups, 1);

    // First pass: the range, the checks and the order of each group's bands.
    double lowest = std::numeric_limits<double>::infinity(), highest = -lowest, weights = 0;
    bool finite = true;
    for (std::int32_t k = 0; k < v.nk; ++k) {
        const double w = v.weight[k];
        finite = finite && w >= 0 && w <= std::numeric_limits<double>::max();  // false for NaN too
        weights += w;
        for (std::int32_t s = 0; s < v.nspin; ++s) {
            const double* e = v.energy + s + k * v.kpoint_stride;
            double previous = -std::numeric_limits<double>::infinity();
            char up = 1;
            for (std::int32_t b = 0; b < v.nband; ++b) {
                const double x = e[b * v.band_stride];
                finite = finite && std::fabs(x) < 1e6;  // false for NaN too
                lowest = std::min(lowest, x);
                highest = std::max(highest, x);
                up &= static_cast<char>(x >= previous);
                previous = x;
            }
            ascending_[static_cast<std::size_t>(k) * static_cast<std::size_t>(v.nspin) + static_cast<std::size_t>(s)] = up;
        }
    }
    if (!finite || !(weights <= std::numeric_limits<double>::max())) return;
    largest_ = std::max(std::fabs(lowest), std::fabs(highest));
    g_weight_ = kernel.g * weights * v.nband * v.nspin;

    // Bins of about kT/4 over the energies widened by 41 kT: levels beyond that range are
    // decided by the bins' totals alone.  Fewer bins keep the tallies in the fastest cache.
    const double reach = (params::cutoff + 1) * kernel.kT + 1e-3;
    range_lo_ = lowest - reach;
    const double span = highest - lowest + 2 * reach;
    bins_ = static_cast<std::size_t>(std::clamp(std::ceil(span / (0.25 * kernel.kT)), 1024.0, 65536.0));
    inverse_width_ = static_cast<double>(bins_) / span;

    // Second pass: the weight per bin (bin 0 and bin bins_ + 1 stay empty: every energy
    // lies inside the range).
    std::vector<double> weight(bins_ + 2, 0.0);
    for (std::int32_t k = 0; k < v.nk; ++k) {
        const double w = v.weight[k];
        for (std::int32_t s = 0; s < v.nspin; ++s) {
            const double* e = v.energy + s + k * v.kpoint_stride;
            for (std::int32_t b = 0; b < v.nband; ++b) {
                const double q = (e[b * v.band_stride] - range_lo_) * inverse_width_;  // in [0, bins_] up to rounding
                weight[1 + static_cast<std::size_t>(std::clamp(q, 0.0, static_cast<double>(bins_ - 1)))] += w;
            }
        }
    }
    weight_below_.assign(bins_ + 3, 0.0);
    for (std::size_t j = 0; j < bins_ + 2; ++j) weight_below_[j + 1] = weight_below_[j] + weight[j];

    const double states = static_cast<double>(v.nk) * v.nband * v.nspin;
    roundings_ = states + static_cast<double>(bins_) + 2;
    exact_roundings_ = static_cast<double>(v.nband) + v.nk + v.nspin;
    ok_ = true;
}

std::size_t energy_histogram::bins_below(double x) const noexcept {
    const double q = (x - range_lo_) * inverse_width_;
    if (!(q > 0)) return 0;
    const auto top = static_cast<double>(bins_ + 2);
    return q >= top ? bins_ + 2 : static_cast<std::size_t>(q);  // q is in (0, bins_ + 2): a safe conversion
}

double energy_histogram::count_at_least(double level) const noexcept {
    const double margin = 1e-3 * kernel_.kT + 1e-12 * (1 + largest_ + std::fabs(level));
    const double full_below = level - params::cutoff * kernel_.kT - margin;
    // A state lands in bin 1 + floor(q) of its q, so the bins before floor(q(full_below))
    // hold states whose q lies a whole bin below full_below's: far more than rounding.
    const double f = weight_below_[bins_below(full_below)];
    // (the products here round too: a few more roundings in the factor)
    return kernel_.g * f * (1 - gamma(exact_roundings_)) * (1 - gamma(roundings_ + 8));
}

double energy_histogram::count_at_most(double level) const noexcept {
    const double margin = 1e-3 * kernel_.kT + 1e-12 * (1 + largest_ + std::fabs(level));
    const double empty_above = level + params::cutoff * kernel_.kT + margin;
    // States that may not be empty land in bins up to 2 + floor(q(empty_above)): one for
    // the numbering from 1, one for the rounding of q.
    const double n = weight_below_[std::min(bins_below(empty_above) + 3, bins_ + 2)];
    return kernel_.g * n * (1 + gamma(exact_roundings_)) * (1 + gamma(roundings_ + 8));
}

}  // namespace occsolve::detail
