// The occupation of one state, the kernel every count of the library evaluates: the
// fermi function and the searches share this one definition, so that their bits cannot
// drift apart.  Not installed: compiled only inside the library, with its floating-point
// flags (no fused multiply-add, no fast-math).
#pragma once

#include "occsolve/params.hpp"

#include <cmath>
#include <cstdint>

namespace occsolve::detail {

// Electrons in a full state: 2/nspin, formed in single precision (for 3 channels the
// float nearest 2/3, not the double) and widened, as the occupation has always been.
inline double full_occupation(std::int32_t nspin) noexcept {
    return static_cast<double>(2.0f / static_cast<float>(nspin));
}

// With kT = kB T and x = (energy - level) / kT: 0 above the cut-off (x > 40), the full
// occupation g below it (x < -40), g / (exp(x) + 1) between, both ends included.  kT and
// g are formed once by the caller, exactly as fermifunction::fermi forms them per call.
struct occupation {
    double kT;
    double g;

    double operator()(double energy, double level) const noexcept {
        const double x = (energy - level) / kT;
        if (x > params::cutoff) return 0.0;
        if (x < -params::cutoff) return g;
        return g / (std::exp(x) + 1.0);
    }
    // The two cut-off tests alone, as the operator makes them.
    bool empty(double energy, double level) const noexcept { return (energy - level) / kT > params::cutoff; }
    bool full(double energy, double level) const noexcept { return (energy - level) / kT < -params::cutoff; }
};

}  // namespace occsolve::detail
