#include "detail/approximate.hpp"

namespace occsolve::detail {

approximation approximate_count(const near_states& near, occupation kernel, double level, double g_weight) {
    double total[4] = {0, 0, 0, 0};
    double slope = 0;
    std::int64_t longest = 0;
    std::size_t group = 0;
    for (std::int32_t k = 0; k < near.nk(); ++k) {
        double occ = 0, d = 0;
        for (std::int32_t s = 0; s < near.nspin(); ++s, ++group) {
            const double* e = near.group_energy(group);
            const std::int64_t stride = near.band_stride();
            const std::int32_t first = near.first(group), last = near.last(group);
            longest = std::max<std::int64_t>(longest, last - first);
            // Four chains: each term passes through at most (range / 4) + 2 additions
            // here, and one more for the leading full states.
            double sum[4] = {0, 0, 0, 0}, ds = 0;
            std::int32_t b = first;
            for (; b + 4 <= last; b += 4)
                for (int j = 0; j < 4; ++j) {
                    const double t = kernel(e[(b + j) * stride], level);
                    sum[j] += t;
                    ds += t * (kernel.g - t);
                }
            for (; b < last; ++b) {
                const double t = kernel(e[b * stride], level);
                sum[0] += t;
                ds += t * (kernel.g - t);
            }
            occ += ((sum[0] + sum[1]) + (sum[2] + sum[3])) + first * kernel.g;
            d += ds;
        }
        total[k % 4] += occ * near.weight(k);
        slope += d * near.weight(k);
    }
    // Roundings per term: its group's chain, the spins of its k-point, the weight, then
    // the k-point chain and the four totals.
    const double roundings = static_cast<double>(longest / 4 + 4) + near.nspin() + 1 + (near.nk() / 4 + 3);
    return {(total[0] + total[1]) + (total[2] + total[3]), error_of_count(term_rho, roundings, g_weight),
            slope / (kernel.g * kernel.kT)};
}

}  // namespace occsolve::detail
