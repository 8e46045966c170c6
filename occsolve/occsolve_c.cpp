// The C interface: the stateless functions over the core (occsolve/core.hpp), and thin
// functions over the C++ modules' process-wide state.
#include "occsolve/occsolve.h"

#include "occsolve/core.hpp"
#include "occsolve/ef.hpp"
#include "occsolve/fermifunction.hpp"
#include "occsolve/params.hpp"
#include "occsolve/variable.hpp"

#include <cmath>
#include <cstddef>
#include <new>
#include <optional>

namespace v = occsolve::variable;

static_assert(OCCSOLVE_STATUS_CONVERGED == occsolve::params::status_converged);
static_assert(OCCSOLVE_STATUS_STALLED == occsolve::params::status_stalled);
static_assert(OCCSOLVE_STATUS_UNUSABLE == occsolve::params::status_unusable);

namespace {

// No exception may cross into a C or Fortran caller: short of memory, the array is left
// unallocated and the caller gets a null pointer.
template <class Array, class... Extent>
double* allocated_storage(Array& array, Extent... extents) {
    try {
        array.allocate(extents...);
        return array.data();
    } catch (const std::bad_alloc&) {
        array.deallocate();
        return nullptr;
    }
}

// The caller's band structure as a view of the core, when its counts, extents and
// pointers can be read: the extents hold the counts, and the array they describe fits
// in memory (so that no index into it overflows).
std::optional<occsolve::band_view> view_of(const occsolve_bands* b) noexcept {
    if (!b) return std::nullopt;
    occsolve::band_view v{b->nspin, b->nband, b->nk, nullptr, 0, 0, b->weight};
    if (b->nspin >= 1 && b->nband > 0 && b->nk > 0) {  // the energies are read
        const std::int64_t s = b->extent[0], bands = b->extent[1], k = b->extent[2];
        constexpr auto most = static_cast<std::int64_t>(PTRDIFF_MAX / sizeof(double));
        if (s < b->nspin || bands < b->nband || k < b->nk || s > most / bands || s * bands > most / k)
            return std::nullopt;
        v.energy = b->energy;
        v.band_stride = s;
        v.kpoint_stride = s * bands;
    }
    if (!occsolve::readable(v)) return std::nullopt;
    return v;
}

}  // namespace

extern "C" {

int occsolve_find_level(const occsolve_bands* bands, double t, double electrons, const double* emin,
                        const double* emax, double* level) {
    const auto v = view_of(bands);
    if (!v) return OCCSOLVE_STATUS_UNUSABLE;
    const occsolve::bracket b =
        emin && emax ? occsolve::bracket{*emin, *emax} : occsolve::bracket{occsolve::params::default_emin,
                                                                            occsolve::params::default_emax};
    const auto r = occsolve::find_level(*v, t, electrons, b);
    if (r.status != OCCSOLVE_STATUS_UNUSABLE && level) *level = r.level;
    return r.status;
}

int occsolve_electron_count(const occsolve_bands* bands, double t, double level, double* count) {
    const auto v = view_of(bands);
    if (!v || !count) return OCCSOLVE_STATUS_UNUSABLE;
    *count = occsolve::electron_count(*v, level, t);
    return OCCSOLVE_STATUS_CONVERGED;
}

int occsolve_find_bracket(const occsolve_bands* bands, double t, double* emin, double* emax) {
    const auto v = view_of(bands);
    occsolve::bracket b{};
    if (!v || !emin || !emax || !occsolve::energy_bracket(*v, t, b)) return OCCSOLVE_STATUS_UNUSABLE;
    *emin = b.lo;
    *emax = b.hi;
    return OCCSOLVE_STATUS_CONVERGED;
}

void occsolve_set_nspin(int32_t nspin) { v::nspin = nspin; }
void occsolve_set_nk(int32_t nk) { v::nk = nk; }
void occsolve_set_nband(int32_t nband) { v::nband = nband; }
void occsolve_set_t(double t) { v::t = t; }
void occsolve_set_totale(double totale) { v::totale = totale; }
int32_t occsolve_nspin(void) { return v::nspin; }
int32_t occsolve_nk(void) { return v::nk; }
int32_t occsolve_nband(void) { return v::nband; }
double occsolve_t(void) { return v::t; }
double occsolve_totale(void) { return v::totale; }

double occsolve_efermi(void) { return v::efermi; }
int32_t occsolve_ik(void) { return v::ik; }
int32_t occsolve_iband(void) { return v::iband; }
int32_t occsolve_ispin(void) { return v::ispin; }

double* occsolve_allocate_bandenergy(int64_t nspin, int64_t nband, int64_t nk) {
    return allocated_storage(v::bandenergy, nspin, nband, nk);
}
void occsolve_deallocate_bandenergy(void) { v::bandenergy.deallocate(); }
double* occsolve_bandenergy(void) { return v::bandenergy.data(); }
int64_t occsolve_bandenergy_extent(int dim) { return dim >= 1 && dim <= 3 ? v::bandenergy.extent(dim) : 0; }

double* occsolve_allocate_kwpt(int64_t nk) { return allocated_storage(v::kwpt, nk); }
void occsolve_deallocate_kwpt(void) { v::kwpt.deallocate(); }
double* occsolve_kwpt(void) { return v::kwpt.data(); }
int64_t occsolve_kwpt_extent(void) { return v::kwpt.extent(1); }

double occsolve_fermi(double energy, double level, double temperature, int32_t nspin) {
    return occsolve::fermifunction::fermi(energy, level, temperature, nspin);
}
double occsolve_dfermi(double energy, double level, double temperature, int32_t nspin) {
    return occsolve::fermifunction::dfermi(energy, level, temperature, nspin);
}

void occsolve_getef(const double* emin, const double* emax, int* status) {
    occsolve::ef::getef(emin, emax, status);  // throws nothing: short of memory it takes the plain path
}

int occsolve_energy_bracket(double* emin, double* emax) {
    return emin && emax && occsolve::ef::energy_bracket(*emin, *emax) ? 1 : 0;
}

}  // extern "C"
