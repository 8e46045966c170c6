// The C interface: thin functions over the C++ modules' process-wide state.
#include "occsolve/occsolve.h"

#include "occsolve/ef.hpp"
#include "occsolve/fermifunction.hpp"
#include "occsolve/params.hpp"
#include "occsolve/variable.hpp"

#include <new>

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

}  // namespace

extern "C" {

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
