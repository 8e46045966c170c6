// The C interface: the stateless functions over the core (occsolve/core.hpp), and thin
// functions over the C++ modules' process-wide state.
#include "occsolve/occsolve.h"

#include "occsolve/core.hpp"
#include "occsolve/ef.hpp"
#include "occsolve/fermifunction.hpp"
#include "occsolve/params.hpp"
#include "occsolve/variable.hpp"

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
// pointers can be read.
std::optional<occsolve::band_view> view_of(const occsolve_bands* b) noexcept {
    occsolve::band_view v{};
    if (!b || !occsolve::view_of_array(b->nspin, b->nband, b->nk, b->extent, b->energy, b->weight, v)) return std::nullopt;
    return v;
}

}  // namespace

extern "C" {

int occsolve_find_level(const occsolve_bands* bands, double t, double electrons, const double* emin,
                        const double* emax, double* level) {
    const auto v = view_of(bands);
    if (!v) return OCCSOLVE_STATUS_UNUSABLE;
    const auto r = emin && emax ? occsolve::find_level(*v, t, electrons, {*emin, *emax}) : occsolve::find_level(*v, t, electrons);
    if (r.status != OCCSOLVE_STATUS_UNUSABLE && level) *level = r.level;
    return r.status;
}

int occsolve_electron_count(const occsolve_bands* bands, double t, double level, double* count) {
    const auto v = view_of(bands);
    if (!v || !count) return OCCSOLVE_STATUS_UNUSABLE;
    *count = occsolve::electron_count(*v, t, level);
    return OCCSOLVE_STATUS_CONVERGED;
}

int occsolve_find_bracket(const occsolve_bands* bands, double t, double* emin, double* emax) {
    const auto v = view_of(bands);
    occsolve::bracket b{};
    if (!v || !emin || !emax || !occsolve::find_bracket(*v, t, b)) return OCCSOLVE_STATUS_UNUSABLE;
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

int occsolve_getef(const double* emin, const double* emax, int* status) {
    int found = OCCSOLVE_STATUS_UNUSABLE;
    occsolve::ef::getef(emin, emax, &found);  // throws nothing: short of memory it takes the plain path
    if (status) *status = found;
    return found;
}

int occsolve_getef_bracket(double* emin, double* emax) {
    return emin && emax && occsolve::ef::getef_bracket(*emin, *emax) ? OCCSOLVE_STATUS_CONVERGED : OCCSOLVE_STATUS_UNUSABLE;
}

int occsolve_energy_bracket(double* emin, double* emax) {
    return occsolve_getef_bracket(emin, emax) == OCCSOLVE_STATUS_CONVERGED ? 1 : 0;
}

}  // extern "C"
