#include "selection.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace bandcut {

namespace {

// Calls f(row) for the band energies of spin component `spin` at each entry counted: the
// row of listed k-point k, or of k - NKPTS in the other component.
template <class F>
void each_row(const listing& bands, int spin, std::span<const grid_entry> counted, F f) {
    const auto nbands = static_cast<std::size_t>(bands.nbands);
    if (counted.empty()) {
        const float* table = bands.eband[static_cast<std::size_t>(spin)].get();
        for (std::int32_t k = 0; k < bands.nkpts; ++k) f(table + static_cast<std::size_t>(k) * nbands);
        return;
    }
    for (const grid_entry entry : counted)
        f(bands.eband[static_cast<std::size_t>(entry.spin(spin))].get() + static_cast<std::size_t>(entry.kpoint()) * nbands);
}

}  // namespace

void band_extremes(const listing& bands, int spin, std::span<const grid_entry> counted, std::vector<float>& lo,
                   std::vector<float>& hi, float lo_start, float hi_start) {
    std::fill(lo.begin(), lo.end(), lo_start);
    std::fill(hi.begin(), hi.end(), hi_start);
    const std::size_t n = lo.size();
    each_row(bands, spin, counted, [&](const float* row) {
        // Written so as to compile to vector minimum and maximum, which keep the running
        // value when e is not a number, as the comparisons do.
        for (std::size_t b = 0; b < n; ++b) {
            const float e = row[b];
            lo[b] = e < lo[b] ? e : lo[b];
            hi[b] = e > hi[b] ? e : hi[b];
        }
    });
}

std::vector<std::int64_t> select_bands(const listing& bands, float ef, std::span<const grid_entry> counted) {
    // With no k-point no band can cross, whatever NBANDS says: nothing is allocated for it.
    if (bands.nkpts == 0) return {};
    const auto nbands = static_cast<std::size_t>(bands.nbands);
    std::vector<std::int64_t> nstore;
    std::vector<float> lo(nbands), hi(nbands);
    for (int s = 0; s < bands.nspin; ++s) {
        band_extremes(bands, s, counted, lo, hi, 10000.0f, -10000.0f);
        for (std::size_t b = 0; b < nbands; ++b)
            if (hi[b] > ef && lo[b] < ef) nstore.push_back(std::int64_t{s} * bands.nbands + static_cast<std::int64_t>(b));
    }
    return nstore;
}

band_edges nearest_band_edges(const listing& bands, float ef, std::span<const grid_entry> counted) {
    band_edges edges;
    if (bands.nkpts == 0 || bands.nbands == 0 || std::isnan(ef)) return edges;
    const auto nbands = static_cast<std::size_t>(bands.nbands);
    constexpr float infinity = std::numeric_limits<float>::infinity();
    std::vector<float> lo(nbands), hi(nbands);
    const auto take = [](std::optional<band_edge>& edge, float value, std::int64_t band, bool nearer) {
        if (!edge || nearer) {
            edge = band_edge{value, {band}};
        } else if (value == edge->value) {
            edge->bands.push_back(band);
        }
    };
    for (int s = 0; s < bands.nspin; ++s) {
        band_extremes(bands, s, counted, lo, hi, infinity, -infinity);
        for (std::size_t b = 0; b < nbands; ++b) {
            if (lo[b] > hi[b]) continue;  // no value that is a number
            const std::int64_t band = std::int64_t{s} * bands.nbands + static_cast<std::int64_t>(b);
            if (hi[b] <= ef) {
                take(edges.below, hi[b], band, edges.below && hi[b] > edges.below->value);
            } else {
                take(edges.above, lo[b], band, edges.above && lo[b] < edges.above->value);
            }
        }
    }
    return edges;
}

}  // namespace bandcut
