#include "occsolve/fermifunction.hpp"

#include "detail/occupation.hpp"
#include "occsolve/params.hpp"

#include <cmath>

namespace occsolve::fermifunction {

double fermi(const double& energy, const double& level, const double& temperature, const std::int32_t& nspin) {
    return detail::occupation{params::kB * temperature, detail::full_occupation(nspin)}(energy, level);
}

double dfermi(const double& energy, const double& level, const double& temperature, const std::int32_t& nspin) {
    const double kT = params::kB * temperature;
    const double x = (energy - level) / kT;
    if (x > params::cutoff || x < -params::cutoff) return 0.0;
    const double e = std::exp(x);
    return ((e / (kT * ((1.0 + e) * (1.0 + e)))) * 2.0) / static_cast<double>(nspin);
}

}  // namespace occsolve::fermifunction
