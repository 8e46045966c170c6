// Band structures for the search's tests, and the search as stated, written out plainly
// over fermifunction::fermi: the yardstick the library must match bit for bit.
#pragma once

#include <occsolve/core.hpp>
#include <occsolve/fermifunction.hpp>
#include <occsolve/params.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace occsolve_test {

// A band structure stored as a Fortran array e(S, B, K) with S >= nspin, B >= nband,
// K >= nk (padding beyond the counts is filled with values no search may read).
struct structure {
    int nspin = 1, nk = 0, nband = 0, pad = 0;
    std::vector<double> e, w;
    int overlap = 0;  // the view's k-point stride falls short of its bands by this much

    double& at(int s, int b, int k) { return e[static_cast<std::size_t>(s + (nspin + pad) * (b + (nband + pad) * k))]; }
    occsolve::band_view view() const {
        return {nspin, nband, nk, e.data(), nspin + pad, std::int64_t{nspin + pad} * (nband + pad) - overlap, w.data()};
    }
    double full() const { return static_cast<double>(2.0f / static_cast<float>(nspin)); }
    double weights() const {
        double sum = 0;
        for (int k = 0; k < nk; ++k) sum += w[static_cast<std::size_t>(k)];
        return sum;
    }
};

// Bands at random from -10 to 15 eV (ascending at each k-point, as calculations give
// them, or shuffled), or spread evenly with jitter; weights summing to about 1.
inline structure random_structure(std::mt19937_64& rng, int nspin, int nk, int nband, bool sorted, int pad = 0,
                                  bool even = false) {
    structure st;
    st.nspin = nspin;
    st.nk = nk;
    st.nband = nband;
    st.pad = pad;
    st.e.assign(static_cast<std::size_t>(nspin + pad) * (nband + pad) * (nk + pad), std::nan(""));
    st.w.assign(static_cast<std::size_t>(nk + pad), std::nan(""));
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> band(static_cast<std::size_t>(nband));
    for (int k = 0; k < nk; ++k) {
        st.w[static_cast<std::size_t>(k)] = (1.0 + unit(rng)) / (1.5 * nk);
        for (int s = 0; s < nspin; ++s) {
            for (int b = 0; b < nband; ++b)
                band[static_cast<std::size_t>(b)] = even ? -10.0 + 25.0 * (b + 0.5 * unit(rng)) / nband : -10.0 + 25.0 * unit(rng);
            if (sorted) {
                std::sort(band.begin(), band.end());
            } else {
                std::shuffle(band.begin(), band.end(), rng);
            }
            for (int b = 0; b < nband; ++b) st.at(s, b, k) = band[static_cast<std::size_t>(b)];
        }
    }
    return st;
}

struct plain_result {
    double level;
    int status;
    std::int64_t passes;
    std::vector<double> levels, counts;  // every level tried and its count
};

// The count as stated: every state through fermifunction::fermi, bands of a k-point
// summed in order, weighted once, then k-points, then spins.
inline double plain_count(occsolve::band_view v, double level, double t) {
    std::vector<double> occ(static_cast<std::size_t>(v.nspin)), nel(static_cast<std::size_t>(v.nspin));
    for (int k = 0; k < v.nk; ++k) {
        std::fill(occ.begin(), occ.end(), 0.0);
        for (int b = 0; b < v.nband; ++b)
            for (int s = 0; s < v.nspin; ++s)
                occ[static_cast<std::size_t>(s)] +=
                    occsolve::fermifunction::fermi(v.energy[s + b * v.band_stride + k * v.kpoint_stride], level, t, v.nspin);
        for (int s = 0; s < v.nspin; ++s) nel[static_cast<std::size_t>(s)] += occ[static_cast<std::size_t>(s)] * v.weight[k];
    }
    double total = 0;
    for (double n : nel) total += n;
    return total;
}

// The bisection as stated, with the stall rule: stop when a level equals an end.
inline plain_result plain_search(occsolve::band_view v, double t, double electrons, double lo, double hi) {
    plain_result r{0, occsolve::params::status_stalled, 0, {}, {}};
    for (;;) {
        const double level = (lo + hi) * 0.5;
        const double total = plain_count(v, level, t);
        r.level = level;
        ++r.passes;
        r.levels.push_back(level);
        r.counts.push_back(total);
        if (std::fabs(total - electrons) < occsolve::params::tolerance) {
            r.status = occsolve::params::status_converged;
            return r;
        }
        if (std::isnan(total) || level == lo || level == hi) return r;
        if (total > electrons) hi = level;
        if (total < electrons) lo = level;
    }
}

}  // namespace occsolve_test
