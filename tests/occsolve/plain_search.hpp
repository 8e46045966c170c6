// The Fermi-level search as stated, every state evaluated with fermifunction::fermi on
// every pass: the yardstick that getef must match bit for bit (tests) and beat (bench).
#pragma once

#include <occsolve/fermifunction.hpp>
#include <occsolve/variable.hpp>

#include <cmath>
#include <vector>

namespace plain {

struct result {
    double efermi;
    int passes;
};

inline result search(double lo = 2.0, double hi = 20.0, int max_passes = 100000) {
    namespace v = occsolve::variable;
    std::vector<double> occ(static_cast<std::size_t>(v::nspin)), nel(static_cast<std::size_t>(v::nspin));
    for (int pass = 1;; ++pass) {
        const double level = (lo + hi) * 0.5;
        std::fill(nel.begin(), nel.end(), 0.0);
        for (int k = 1; k <= v::nk; ++k) {
            std::fill(occ.begin(), occ.end(), 0.0);
            for (int b = 1; b <= v::nband; ++b)
                for (int s = 1; s <= v::nspin; ++s)
                    occ[static_cast<std::size_t>(s - 1)] += occsolve::fermifunction::fermi(v::bandenergy(s, b, k), level, v::t, v::nspin);
            for (int s = 1; s <= v::nspin; ++s) nel[static_cast<std::size_t>(s - 1)] += occ[static_cast<std::size_t>(s - 1)] * v::kwpt(k);
        }
        double total = 0;
        for (double n : nel) total += n;
        if (total > v::totale) hi = level;
        if (total < v::totale) lo = level;
        if (std::fabs(total - v::totale) < 1e-8 || std::isnan(total) || pass == max_passes) return {level, pass};
    }
}

}  // namespace plain
