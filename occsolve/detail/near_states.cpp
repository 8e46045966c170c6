#include "detail/near_states.hpp"

#include <algorithm>

namespace occsolve::detail {

near_states::near_states(band_view v, occupation kernel, const energy_histogram& order)
    : v_(v), kernel_(kernel), nel_(static_cast<std::size_t>(v.nspin)) {
    const auto groups = static_cast<std::size_t>(v.nk) * static_cast<std::size_t>(v.nspin);
    ascending_.resize(groups);
    for (std::size_t g = 0; g < groups; ++g) ascending_[g] = order.ascending(g);
    first_.assign(groups, 0);
    last_.assign(groups, v.nband);
}

void near_states::narrow(double wlo, double whi) {
    const auto groups = first_.size();
    for (std::size_t group = 0; group < groups; ++group) {
        const double* e = group_energy(group);
        const auto at = [&](std::int32_t b) { return e[b * v_.band_stride]; };
        const auto full = [&](std::int32_t b) { return kernel_.full(at(b), wlo); };
        const auto empty = [&](std::int32_t b) { return kernel_.empty(at(b), whi); };
        std::int32_t first = first_[group], last = last_[group];
        if (ascending_[group]) {
            // Full states lead and empty ones close an ascending group: the tests are
            // monotone in the energy, so bisection finds where each run ends.
            const auto partition = [](std::int32_t lo, std::int32_t hi, auto holds) {
                while (lo < hi) {
                    const std::int32_t mid = lo + (hi - lo) / 2;
                    if (holds(mid)) {
                        lo = mid + 1;
                    } else {
                        hi = mid;
                    }
                }
                return lo;
            };
            first = partition(first, last, full);
            last = partition(first, last, [&](std::int32_t b) { return !empty(b); });
        } else {
            while (first < last && full(first)) ++first;
            while (last > first && empty(last - 1)) --last;
        }
        first_[group] = first;
        last_[group] = last;
    }
}

double near_states::exact_count(double level) const {
    std::fill(nel_.begin(), nel_.end(), 0.0);
    std::size_t group = 0;
    for (std::int32_t k = 0; k < v_.nk; ++k) {
        const double w = v_.weight[k];
        for (std::int32_t s = 0; s < v_.nspin; ++s, ++group) {
            const double* e = group_energy(group);
            double occ = first_[group] * kernel_.g;  // the leading full states, exactly
            for (std::int32_t b = first_[group]; b < last_[group]; ++b) occ += kernel_(e[b * v_.band_stride], level);
            nel_[static_cast<std::size_t>(s)] += occ * w;
        }
    }
    double total = 0;
    for (double n : nel_) total += n;
    return total;
}

std::int64_t near_states::size() const noexcept {
    std::int64_t n = 0;
    for (std::size_t g = 0; g < first_.size(); ++g) n += last_[g] - first_[g];
    return n;
}

}  // namespace occsolve::detail
