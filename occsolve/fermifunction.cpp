#include "occsolve/fermifunction.hpp"

#include "occsolve/params.hpp"

#include <cmath>

namespace occsolve::fermifunction {

double fermi(const double& energy, const double& level, const double& temperature, const std::int32_t& nspin) {
    const double kT = params::kB * temperature;
    const double x = (energy - level) / kT;
    if (x > params::cutoff) return 0.0;
    // The full occupation in single precision, as it always was: for 3 channels this is
    // the float nearest 2/3, not the double.
    const double g = static_cast<double>(2.0f / static_cast<float>(nspin));
    if (x < -params::cutoff) return g;
    return g / (std::exp(x) + 1.0);
}

double dfermi(const double& energy, const double& level, const double& temperature, const std::int32_t& nspin) {
    const double kT = params::kB * temperature;
    const double x = (energy - level) / kT;
    if (x > params::cutoff || x < -params::cutoff) return 0.0;
    const double e = std::exp(x);
    return ((e / (kT * ((1.0 + e) * (1.0 + e)))) * 2.0) / static_cast<double>(nspin);
}

}  // namespace occsolve::fermifunction
