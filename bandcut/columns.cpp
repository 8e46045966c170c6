#include "columns.hpp"

#include <algorithm>

namespace bandcut {

std::size_t entries_used(const listing& bands, const grid& g, grid_source values) {
    return values.kpoint_at.empty() ? static_cast<std::size_t>(g.points())
                                    : static_cast<std::size_t>(bands.nkpts) * (values.swaps ? 2 : 1);
}

std::size_t bands_per_gather(std::size_t bands, std::size_t used, std::size_t bytes) {
    return std::max<std::size_t>(1, std::min(bands, bytes / (sizeof(float) * std::max<std::size_t>(used, 1))));
}

void gather_columns(const listing& bands, std::span<const std::int64_t> these, std::size_t used, float* columns) {
    const auto nbands = static_cast<std::size_t>(bands.nbands);
    const auto nkpts = static_cast<std::size_t>(bands.nkpts);
    std::vector<const float*> same(these.size()), other(these.size());  // each band at the first k-point, either way
    for (std::size_t j = 0; j < these.size(); ++j) {
        const auto s = static_cast<std::size_t>(these[j] / bands.nbands), b = static_cast<std::size_t>(these[j] % bands.nbands);
        same[j] = bands.eband[s].get() + b;
        other[j] = used > nkpts ? bands.eband[1 - s].get() + b : nullptr;
    }
    for (std::size_t k = 0; k < std::min(used, nkpts); ++k)
        for (std::size_t j = 0; j < these.size(); ++j) columns[j * used + k] = same[j][k * nbands];
    for (std::size_t k = nkpts; k < used; ++k)
        for (std::size_t j = 0; j < these.size(); ++j) columns[j * used + k] = other[j][(k - nkpts) * nbands];
}


}  // namespace bandcut
