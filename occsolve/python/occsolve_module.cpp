// The Python module occsolve: the stateless search over NumPy arrays of the caller's, and
// the occupation functions, vectorised.  A thin layer over occsolve/core.hpp: the same
// level and status, bit for bit, as the C and Fortran interfaces give.
#include "occsolve/core.hpp"
#include "occsolve/fermifunction.hpp"
#include "occsolve/params.hpp"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <optional>
#include <string>
#include <utility>

namespace py = pybind11;

namespace {

// A C-contiguous float64 array: passed as it is (no copy), or converted to one.
using doubles = py::array_t<double, py::array::c_style | py::array::forcecast>;

// The caller's band structure: energies (k-points, bands, spins) or (k-points, bands),
// spin fastest in memory as the core reads it, and a weight per k-point.
occsolve::band_view view_of(const doubles& energies, const doubles& weights) {
    if (energies.ndim() != 2 && energies.ndim() != 3)
        throw py::value_error("energies must have the shape (k-points, bands, spins) or (k-points, bands), not " +
                              std::to_string(energies.ndim()) + " axes");
    if (weights.ndim() != 1 || weights.shape(0) != energies.shape(0))
        throw py::value_error("weights must have one entry per k-point (" + std::to_string(energies.shape(0)) + ")");
    const py::ssize_t nk = energies.shape(0), nband = energies.shape(1), nspin = energies.ndim() == 3 ? energies.shape(2) : 1;
    constexpr py::ssize_t most = 2147483647;
    if (nk > most || nband > most || nspin > most || nspin < 1)
        throw py::value_error("energies' extents must lie between 1 spin and 2^31 - 1 of each");
    return {static_cast<std::int32_t>(nspin), static_cast<std::int32_t>(nband), static_cast<std::int32_t>(nk),
            energies.data(),
            static_cast<std::int64_t>(nspin),
            static_cast<std::int64_t>(nspin) * static_cast<std::int64_t>(nband),
            weights.data()};
}

std::pair<double, double> bracket_of(occsolve::band_view v, double temperature) {
    occsolve::bracket b{};
    bool found = false;
    {
        py::gil_scoped_release unlocked;
        found = occsolve::energy_bracket(v, temperature, b);
    }
    if (!found)
        throw py::value_error("no bracket: there is no state, an energy is not finite, or the temperature is negative or "
                              "not finite");
    return {b.lo, b.hi};
}

std::pair<double, int> find_level(const doubles& energies, const doubles& weights, double electrons, double temperature,
                                  std::optional<std::pair<double, double>> bracket) {
    const auto v = view_of(energies, weights);
    const auto b = bracket ? *bracket : bracket_of(v, temperature);
    occsolve::search_result r;
    {
        py::gil_scoped_release unlocked;
        r = occsolve::find_level(v, temperature, electrons, {b.first, b.second});
    }
    if (r.status == occsolve::params::status_unusable)
        throw py::value_error("the search cannot use these: electrons not finite, a bracket end not a number, or "
                              "weights missing");
    return {r.level, r.status};
}

double electron_count(const doubles& energies, const doubles& weights, double level, double temperature) {
    const auto v = view_of(energies, weights);
    py::gil_scoped_release unlocked;
    return occsolve::electron_count(v, level, temperature);
}

std::pair<double, double> bracket_of_arrays(const doubles& energies, const doubles& weights, double temperature) {
    return bracket_of(view_of(energies, weights), temperature);
}

// One or two spin channels: any other count (0, a negative one, one beyond 32 bits that
// a narrower conversion would wrap) is refused, not evaluated.
std::int32_t spin_channels(std::int64_t nspin) {
    if (nspin != 1 && nspin != 2)
        throw py::value_error("nspin must be 1 or 2 (spin channels), not " + std::to_string(nspin));
    return static_cast<std::int32_t>(nspin);
}
double fermi(double energy, double level, double temperature, std::int64_t nspin) {
    return occsolve::fermifunction::fermi(energy, level, temperature, spin_channels(nspin));
}
double dfermi(double energy, double level, double temperature, std::int64_t nspin) {
    return occsolve::fermifunction::dfermi(energy, level, temperature, spin_channels(nspin));
}

}  // namespace

PYBIND11_MODULE(occsolve, m) {
    m.doc() = R"(Fermi-Dirac occupations and the Fermi level of a band structure held in NumPy arrays.

Units: energies in eV, temperatures in K.  A state holds at most 2/nspin electrons.
Energies are an array (k-points, bands, spins), or (k-points, bands) for one spin
channel; weights one per k-point.  The electron count at a level is the sum over states
of occupation times weight, bands summed first, then k-points, then spins, as the C and
Fortran interfaces sum it: the same bits.  A C-contiguous float64 array is read where it
lies; any other array (another dtype, a slice, Fortran order) is converted to one first,
a copy.  The searches keep no state and release the interpreter's lock: threads may
search at once.)";

    m.attr("CONVERGED") = occsolve::params::status_converged;
    m.attr("STALLED") = occsolve::params::status_stalled;
    m.attr("UNUSABLE") = occsolve::params::status_unusable;

    m.def("find_level", &find_level, py::arg("energies"), py::arg("weights"), py::arg("electrons"), py::arg("temperature"),
          py::arg("bracket") = py::none(),
          R"(The Fermi level (eV) at which the states hold `electrons` at `temperature` (K), by
bisection of the bracket (lo, hi) in eV (default: energy_bracket's, which holds every
count), and the status: CONVERGED (the level holds them within 1e-8), or STALLED (no
level of the bracket does: it lies outside, or the count jumps past it between
neighbouring levels, as at zero temperature; the level is the last one tried).  Raises
ValueError for arrays of the wrong shape and for inputs the search cannot use.)");
    m.def("electron_count", &electron_count, py::arg("energies"), py::arg("weights"), py::arg("level"),
          py::arg("temperature"), "The electron count at `level` (eV) and `temperature` (K): the sum find_level bisects on.");
    m.def("energy_bracket", &bracket_of_arrays, py::arg("energies"), py::arg("weights"), py::arg("temperature"),
          R"((lo, hi) in eV: the lowest and highest energy widened by 41 kT and at least 1 meV, a
bracket that holds the level for every electron count.  Raises ValueError when there is
no state, an energy is not finite, or the temperature is negative or not finite.)");
    m.def("fermi", py::vectorize(fermi), py::arg("energy"), py::arg("level"), py::arg("temperature"), py::arg("nspin"),
          "Electrons in a state of `energy` (eV) at Fermi level `level` (eV) and `temperature` (K), with nspin 1 or 2 "
          "spin channels (else ValueError); elementwise.");
    m.def("dfermi", py::vectorize(dfermi), py::arg("energy"), py::arg("level"), py::arg("temperature"), py::arg("nspin"),
          "The state's broadening weight: minus the derivative of fermi with respect to energy, electrons per eV; "
          "nspin 1 or 2; elementwise.");
}
