#include "detail/near_states.hpp"

#include "detail/bounds.hpp"

#include <algorithm>

namespace occsolve::detail {

namespace {

// The first b of [lo, hi) at which `holds`, true up to it, is false.
template <class Predicate>
std::int32_t partition(std::int32_t lo, std::int32_t hi, Predicate holds) {
    while (lo < hi) {
        const std::int32_t mid = lo + (hi - lo) / 2;
        if (holds(mid)) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return lo;
}

}  // namespace

near_states::near_states(band_view v, occupation kernel, const energy_survey& order)
    : v_(v), kernel_(kernel), nel_(static_cast<std::size_t>(v.nspin)) {
    const auto groups = static_cast<std::size_t>(v.nk) * static_cast<std::size_t>(v.nspin);
    ascending_.resize(groups);
    for (std::size_t g = 0; g < groups; ++g) ascending_[g] = order.ascending(g);
    first_.assign(groups, 0);
    last_.assign(groups, v.nband);
}

void near_states::place(double wlo, double whi, cut at) {
    if (at == cut::exact) {
        place_with([&](double e) { return kernel_.full(e, wlo); }, [&](double e) { return kernel_.empty(e, whi); });
    } else {
        const double inverse = 1 / kernel_.kT;
        place_with([&](double e) { return (e - wlo) * inverse < -approximate_cutoff; },
                   [&](double e) { return (e - whi) * inverse > approximate_cutoff; });
    }
}

template <class Full, class Empty>
void near_states::place_with(Full full, Empty empty) {
    const auto groups = first_.size();
    for (std::size_t group = 0; group < groups; ++group) {
        const double* e = group_energy(group);
        const auto at = [&](std::int32_t b) { return e[b * v_.band_stride]; };
        if (group + 2 < groups) __builtin_prefetch(group_energy(group + 2) + first_[group + 2] * v_.band_stride);
        std::int32_t first = 0, last = v_.nband;
        if (ascending_[group]) {
            // Full states lead and empty ones close an ascending group: both tests are
            // monotone in the energy.
            const auto is_full = [&](std::int32_t b) { return full(at(b)); };
            const auto not_empty = [&](std::int32_t b) { return !empty(at(b)); };
            first = placed_ ? gallop(first_[group], is_full) : partition(0, v_.nband, is_full);
            last = std::max(first, placed_ ? gallop(last_[group], not_empty) : partition(first, v_.nband, not_empty));
        } else {
            while (first < last && full(at(first))) ++first;
            while (last > first && empty(at(last - 1))) --last;
        }
        first_[group] = first;
        last_[group] = last;
    }
    placed_ = true;
}

// The first band at which `holds`, true for a leading run of an ascending group's bands and
// false after it, is false, searched from `from`.
template <class Predicate>
std::int32_t near_states::gallop(std::int32_t from, Predicate holds) const {
    std::int32_t lo = 0, hi = v_.nband;  // holds before lo; fails from hi on
    if (from < v_.nband && holds(from)) {
        lo = from + 1;
        for (std::int32_t step = 1; lo < hi; step *= 2) {
            const std::int32_t probe = lo + std::min(step, hi - lo) - 1;
            if (!holds(probe)) {
                hi = probe;
                break;
            }
            lo = probe + 1;
            if (step > v_.nband) break;
        }
    } else {
        hi = std::min(from, v_.nband);
        for (std::int32_t step = 1; lo < hi; step *= 2) {
            const std::int32_t probe = hi - std::min(step, hi - lo);
            if (holds(probe)) {
                lo = probe + 1;
                break;
            }
            hi = probe;
            if (step > v_.nband) break;
        }
    }
    return partition(lo, hi, holds);
}

double near_states::exact_count(double level) const {
    std::fill(nel_.begin(), nel_.end(), 0.0);
    std::size_t group = 0;
    const auto groups = first_.size();
    for (std::int32_t k = 0; k < v_.nk; ++k) {
        const double w = v_.weight[k];
        for (std::int32_t s = 0; s < v_.nspin; ++s, ++group) {
            const double* e = group_energy(group);
            if (group + 4 < groups) prefetch(group + 4);
            double occ = first_[group] * kernel_.g;  // the leading full states, exactly
            for (std::int32_t b = first_[group]; b < last_[group]; ++b) occ += kernel_(e[b * v_.band_stride], level);
            nel_[static_cast<std::size_t>(s)] += occ * w;
        }
    }
    double total = 0;
    for (double n : nel_) total += n;
    return total;
}

void near_states::prefetch(std::size_t group) const noexcept {
    // The memory holds the whole band structure; a group's states near the level lie in a
    // few cache lines that the processor cannot guess (groups lie far apart).
    const double* e = group_energy(group);
    const std::int64_t stride = v_.band_stride;
    for (std::int64_t b = first_[group]; b < last_[group]; b += 8 / std::max<std::int64_t>(stride, 1) + 1)
        __builtin_prefetch(e + b * stride);
}

std::int64_t near_states::size() const noexcept {
    std::int64_t n = 0;
    for (std::size_t g = 0; g < first_.size(); ++g) n += last_[g] - first_[g];
    return n;
}

}  // namespace occsolve::detail
