#include "detail/survey.hpp"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace occsolve::detail {

namespace {

// Whether every energy of a k-point's run is finite and below 1e6 eV (false for a NaN),
// and whether each spin's bands ascend: value i belongs to spin i % nspin and ascends when
// it is not below value i - nspin.  Four values at a time, without branches on the data:
// this pass reads all the energies, at the speed of the memory.
struct block_check {
    bool finite;
    bool ascending;
};

typedef double four __attribute__((vector_size(32)));
typedef std::int64_t four_bits __attribute__((vector_size(32)));

[[gnu::target_clones("avx2", "default")]] block_check contiguous(const double* e, std::size_t n, std::size_t nspin) {
    four_bits bad = {}, down = {};
    const std::size_t whole = (nspin + 3) / 4 * 4;  // the first block whose every value has a predecessor
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        four x;
        std::memcpy(&x, e + i, sizeof x);
        bad |= ~((x < 1e6) & (x > -1e6));  // all ones in a lane that is too large, or not a number
        if (i >= whole) {
            four before;
            std::memcpy(&before, e + i - nspin, sizeof before);
            down |= x < before;
        }
    }
    bool finite = (bad[0] | bad[1] | bad[2] | bad[3]) == 0, ascending = (down[0] | down[1] | down[2] | down[3]) == 0;
    for (std::size_t j = nspin; j < whole && j < i; ++j) ascending = ascending && e[j] >= e[j - nspin];
    for (; i < n; ++i) {
        finite = finite && std::fabs(e[i]) < 1e6;
        ascending = ascending && (i < nspin || e[i] >= e[i - nspin]);
    }
    return {finite, ascending};
}

}  // namespace

energy_survey::energy_survey(band_view v, occupation kernel) {
    const auto nspin = static_cast<std::size_t>(v.nspin);
    const auto groups = static_cast<std::size_t>(v.nk) * nspin;
    ascending_.assign(groups, 1);
    bool finite = true;
    double weights = 0;
    // Unpadded storage holds a k-point's states in one run of nband * nspin values.
    const bool packed = v.band_stride == v.nspin;
    for (std::int32_t k = 0; k < v.nk; ++k) {
        const double w = v.weight[k];
        finite = finite && w >= 0 && w <= std::numeric_limits<double>::max();  // false for NaN too
        weights += w;
        const double* e = v.energy + k * v.kpoint_stride;
        if (packed) {
            const auto c = contiguous(e, static_cast<std::size_t>(v.nband) * nspin, nspin);
            finite = finite && c.finite;
            if (c.ascending) continue;
        }
        // Padded storage, or some spin's bands out of order: group by group.
        for (std::size_t s = 0; s < nspin; ++s) {
            const double* g = e + s;
            bool up = true;
            for (std::int32_t b = 0; b < v.nband; ++b) {
                const double x = g[b * v.band_stride];
                finite = finite && std::fabs(x) < 1e6;
                up = up && (b == 0 || x >= g[(b - 1) * v.band_stride]);
            }
            ascending_[static_cast<std::size_t>(k) * nspin + s] = up;
        }
    }
    if (!finite || !(weights <= std::numeric_limits<double>::max())) return;
    g_weight_ = kernel.g * weights * v.nband * v.nspin;
    ok_ = true;
}

}  // namespace occsolve::detail
