// The k-point mesh of a calculation, as the command line gives it: nkx x nky x nkz
// points along the reciprocal vectors b1, b2, b3.  Mesh point (ix, iy, iz), each index
// counting from 0, is point n = (ix * nky + iy) * nkz + iz: the third index fastest, the
// order in which the band-grid file lists its values.
#pragma once

#include <cstdint>
#include <limits>

namespace bandcut {

struct grid {
    std::int32_t nkx = 0;
    std::int32_t nky = 0;
    std::int32_t nkz = 0;

    // nkx * nky * nkz, 0 when any is 0 or less; `too_many` (INT64_MAX) when the product
    // exceeds what 63 bits count (2147483647^3 does): no listing holds that many.
    static constexpr std::int64_t too_many = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t points() const {
        if (nkx <= 0 || nky <= 0 || nkz <= 0) return 0;
        const std::int64_t plane = std::int64_t{nkx} * nky;  // below 2^62
        return plane > too_many / nkz ? too_many : plane * nkz;
    }
};

}  // namespace bandcut
