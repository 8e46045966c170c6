// The Python module occsolve: the stateless search over NumPy arrays of the caller's, and
// the occupation functions, vectorised.  A thin layer over occsolve/core.hpp: the same
// level and status, bit for bit, as the C and Fortran interfaces give.
#include "occsolve/core.hpp"
#include "occsolve/fermifunction.hpp"
#include "occsolve/params.hpp"

#include <pybind11/eval.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

namespace py = pybind11;

namespace {

// A C-contiguous float64 array: passed as it is (no copy), or converted to one.
using doubles = py::array_t<double, py::array::c_style | py::array::forcecast>;

// The caller's band structure as the core reads it: energies (k-points, bands, spins) or
// (k-points, bands), spin fastest in memory, read where they lie; or bandcut's grid layout
// (spins, bands, nkx, nky, nkz), every grid point a k-point, rearranged into a copy.  The
// weights: one per k-point, or, not given, uniform (1 / k-points: electrons per cell).
struct band_arrays {
    doubles energies;
    doubles weights;
    occsolve::band_view view{};
};

doubles from_grid_layout(const doubles& grid) {
    const py::ssize_t nspin = grid.shape(0), nband = grid.shape(1), nk = grid.shape(2) * grid.shape(3) * grid.shape(4);
    doubles out({nk, nband, nspin});
    const double* in = grid.data();
    double* to = out.mutable_data();
    for (py::ssize_t s = 0; s < nspin; ++s)
        for (py::ssize_t b = 0; b < nband; ++b)
            for (py::ssize_t k = 0; k < nk; ++k) to[(k * nband + b) * nspin + s] = in[(s * nband + b) * nk + k];
    return out;
}

band_arrays arrays_of(const doubles& energies, const py::object& weights) {
    band_arrays a;
    if (energies.ndim() == 5) {
        a.energies = from_grid_layout(energies);
    } else if (energies.ndim() == 2 || energies.ndim() == 3) {
        a.energies = energies;
    } else {
        throw py::value_error("energies must have the shape (k-points, bands, spins), (k-points, bands) or (spins, "
                              "bands, nkx, nky, nkz), not " + std::to_string(energies.ndim()) + " axes");
    }
    const auto& e = a.energies;
    const py::ssize_t nk = e.shape(0), nband = e.shape(1), nspin = e.ndim() == 3 ? e.shape(2) : 1;
    if (weights.is_none()) {
        a.weights = doubles(std::vector<py::ssize_t>{nk});
        std::fill_n(a.weights.mutable_data(), nk, 1.0 / static_cast<double>(std::max<py::ssize_t>(nk, 1)));
    } else {
        a.weights = weights.cast<doubles>();
    }
    if (a.weights.ndim() != 1 || a.weights.shape(0) != nk)
        throw py::value_error("weights must have one entry per k-point (" + std::to_string(nk) + ")");
    constexpr py::ssize_t most = 2147483647;
    if (nk > most || nband > most || nspin > most || nspin < 1)
        throw py::value_error("energies' extents must lie between 1 spin and 2^31 - 1 of each");
    a.view = {static_cast<std::int32_t>(nspin), static_cast<std::int32_t>(nband), static_cast<std::int32_t>(nk),
              e.data(), static_cast<std::int64_t>(nspin), static_cast<std::int64_t>(nspin) * static_cast<std::int64_t>(nband),
              a.weights.data()};
    return a;
}

std::pair<double, double> bracket_of(occsolve::band_view v, double temperature) {
    occsolve::bracket b{};
    bool found = false;
    {
        py::gil_scoped_release unlocked;
        found = occsolve::find_bracket(v, temperature, b);
    }
    if (!found)
        throw py::value_error("no bracket: there is no state, an energy is not finite, or the temperature is negative or "
                              "not finite");
    return {b.lo, b.hi};
}

py::object find_level(const doubles& energies, const py::object& weights, double temperature, double electrons,
                      std::optional<std::pair<double, double>> bracket) {
    const auto arrays = arrays_of(energies, weights);
    const auto v = arrays.view;
    const auto b = bracket ? *bracket : bracket_of(v, temperature);
    occsolve::search_result r;
    {
        py::gil_scoped_release unlocked;
        r = occsolve::find_level(v, temperature, electrons, {b.first, b.second});
    }
    if (r.status == occsolve::params::status_unusable)
        throw py::value_error("the search cannot use these: electrons not finite, a bracket end not a number, or "
                              "weights missing");
    const py::module_ self = py::module_::import("occsolve");
    return self.attr("Level")(r.level, self.attr("Status")(r.status));
}

double electron_count(const doubles& energies, const py::object& weights, double temperature, double level) {
    const auto arrays = arrays_of(energies, weights);
    py::gil_scoped_release unlocked;
    return occsolve::electron_count(arrays.view, temperature, level);
}

std::pair<double, double> bracket_of_arrays(const doubles& energies, const py::object& weights, double temperature) {
    return bracket_of(arrays_of(energies, weights).view, temperature);
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
channel, or bandcut's Cut.energies as they are: (spins, bands, nkx, nky, nkz), every grid
point a k-point (rearranged into a copy).  Weights: one per k-point, or None for uniform
weights 1/k-points (electrons per cell).  The electron count at a level is the sum over states
of occupation times weight, bands summed first, then k-points, then spins, as the C and
Fortran interfaces sum it: the same bits.  A C-contiguous float64 array is read where it
lies; any other array (another dtype, a slice, Fortran order) is converted to one first,
a copy.  As in C, C++ and Fortran, every call takes the temperature before the level or
electron count (here by keyword).  The searches keep no state and release the
interpreter's lock: threads may search at once.)";

    // The statuses as an IntEnum (equal to the C interface's numbers), and the search's
    // result: a (level, status) pair that also names its fields.
    py::exec(R"(
import collections as _collections
import enum as _enum

class Status(_enum.IntEnum):
    """What a search reports: the numbers of the C interface's OCCSOLVE_STATUS_ constants."""
    CONVERGED = 0
    STALLED = 1
    UNUSABLE = 2

class Level(_collections.namedtuple("Level", "level status")):
    """find_level's result: (level, status), also .level (eV), .status (a Status), .converged."""
    __slots__ = ()

    @property
    def converged(self):
        return self.status == Status.CONVERGED

CONVERGED, STALLED, UNUSABLE = Status.CONVERGED, Status.STALLED, Status.UNUSABLE
)", m.attr("__dict__"));
    static_assert(occsolve::params::status_converged == 0 && occsolve::params::status_stalled == 1 &&
                  occsolve::params::status_unusable == 2);

    m.def("find_level", &find_level, py::arg("energies"), py::arg("weights") = py::none(), py::kw_only(),
          py::arg("temperature"), py::arg("electrons"), py::arg("bracket") = py::none(),
          R"(The Fermi level (eV) at which the states hold `electrons` at `temperature` (K), by
bisection of the bracket (lo, hi) in eV (default: find_bracket's, which holds every
count), and the status: CONVERGED (the level holds them within 1e-8), or STALLED (no
level of the bracket does: it lies outside, or the count jumps past it between
neighbouring levels, as at zero temperature; the level is the last one tried).  Raises
ValueError for arrays of the wrong shape and for inputs the search cannot use.)");
    m.def("electron_count", &electron_count, py::arg("energies"), py::arg("weights") = py::none(), py::kw_only(),
          py::arg("temperature"), py::arg("level"),
          "The electron count at `temperature` (K) and `level` (eV): the sum find_level bisects on.");
    m.def("find_bracket", &bracket_of_arrays, py::arg("energies"), py::arg("weights") = py::none(), py::kw_only(),
          py::arg("temperature"),
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
