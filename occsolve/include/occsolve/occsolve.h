/* occsolve for C (and, through it, Fortran) hosts.
 *
 * Units: energies in eV, temperatures in K.  A state holds at most 2/nspin electrons.
 * Band energies are stored with the spin index fastest, then the band, then the
 * k-point: entry (s, b, k), counting from 1 as a Fortran host does, is element
 * (s-1) + S*((b-1) + B*(k-1)) of an array of extents (S, B, K), so that a Fortran
 * array e(S, B, K) is passed as it is.  The counts nspin <= S, nband <= B, nk <= K say
 * which leading block is read.
 *
 * One convention throughout: every call that can fail returns an OCCSOLVE_STATUS_ value
 * (0, CONVERGED, when it did what it says), and takes the temperature before the level or
 * the electron count it concerns.
 *
 * Two interfaces, with the same results and the same statuses, told apart by name: the
 * stateless calls are occsolve_find_... and occsolve_electron_count, the calls on the
 * shared state occsolve_getef....
 *
 * - Stateless (occsolve_find_level, occsolve_electron_count, occsolve_find_bracket):
 *   the band structure is the caller's own arrays, described by an occsolve_bands.
 *   Threads: these keep no state and write nothing but their outputs; any number of
 *   threads may call them at once, on different band structures or on the same one,
 *   as long as nobody writes its arrays meanwhile.
 *
 * - Shared state (occsolve_set_..., occsolve_allocate_..., occsolve_getef,
 *   occsolve_getef_bracket): the same
 *   process-wide state as the C++ modules (occsolve/variable.hpp), reached through
 *   functions; nothing is copied.  Order of use: set nspin, nk, nband, t, totale;
 *   allocate bandenergy with extents (nspin, nband, nk) and kwpt with nk entries and fill
 *   the storage returned; call occsolve_getef; read occsolve_efermi().
 *   Threads: the state is one per process; only one thread at a time may call these
 *   functions.
 */
#ifndef OCCSOLVE_OCCSOLVE_H
#define OCCSOLVE_OCCSOLVE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* What the searches report (and the count and bracket: CONVERGED when computed). */
#define OCCSOLVE_STATUS_CONVERGED 0 /* the level holds the electrons */
#define OCCSOLVE_STATUS_STALLED 1   /* the bracket stopped shrinking: no level in it holds them */
#define OCCSOLVE_STATUS_UNUSABLE 2  /* the input cannot be read; nothing was changed */

/* ---- Stateless: the caller's own arrays --------------------------------------------- */

/* A band structure held by the caller:
 *     occsolve_bands b = {nspin, nband, nk, {S, B, K}, e, w};
 * energy: S*B*K doubles as above (read only when nspin, nband and nk are all > 0);
 * weight: the nk weights of the k-points (read only when nk > 0).  The electron count
 * at a level is the sum over states of occupation times weight, so electrons are on
 * whatever footing the weights are (weights summing to 1: electrons per cell). */
typedef struct occsolve_bands {
    int32_t nspin, nband, nk;
    int64_t extent[3];
    const double* energy;
    const double* weight;
} occsolve_bands;

/* The Fermi level of `bands` at temperature t holding `electrons`, searched as
 * occsolve_getef searches it, in the bracket [*emin, *emax] when both are given, else in
 * the data's own (occsolve_find_bracket's, which holds every count; 2 to 20 eV where the
 * data has none: no state, an energy or t not finite).  Returns an OCCSOLVE_STATUS_ value; unless UNUSABLE, *level (if not NULL)
 * receives the level tried last, the Fermi level when CONVERGED.  UNUSABLE: bands is
 * NULL or cannot be read (a count below 0, nspin < 1, an extent smaller than its count,
 * a pointer missing that the counts need), electrons is not finite, or a bracket end
 * is not a number; *level is left as it was. */
int occsolve_find_level(const occsolve_bands* bands, double t, double electrons, const double* emin,
                        const double* emax, double* level);

/* The electron count of `bands` at Fermi level `level` and temperature t: the sum that
 * occsolve_find_level bisects on, bit for bit.  Returns OCCSOLVE_STATUS_CONVERGED (0)
 * with *count set, or UNUSABLE (as above, or count NULL) with *count untouched. */
int occsolve_electron_count(const occsolve_bands* bands, double t, double level, double* count);

/* A bracket that holds the level whatever the electron count: the lowest and highest
 * energy widened by 41 kT and at least 1 meV.  Returns OCCSOLVE_STATUS_CONVERGED (0)
 * with *emin and *emax set, or UNUSABLE with them untouched: bands cannot be read or
 * holds no state, an energy is not finite, t is negative or not finite, or a pointer
 * is NULL. */
int occsolve_find_bracket(const occsolve_bands* bands, double t, double* emin, double* emax);

/* ---- Shared state: one per process -------------------------------------------------- */

/* The counts and parameters of the shared state. */
void occsolve_set_nspin(int32_t nspin); /* spin channels, 1 or 2 (any count >= 1 works) */
void occsolve_set_nk(int32_t nk);       /* k-points */
void occsolve_set_nband(int32_t nband); /* bands */
void occsolve_set_t(double t);          /* electronic temperature, K */
void occsolve_set_totale(double totale); /* electrons the occupied states must hold */
int32_t occsolve_nspin(void);
int32_t occsolve_nk(void);
int32_t occsolve_nband(void);
double occsolve_t(void);
double occsolve_totale(void);

/* The result of the last occsolve_getef: the Fermi level in eV, and the loop counters
 * (nk + 1, nband + 1, nspin + 1 after a search). */
double occsolve_efermi(void);
int32_t occsolve_ik(void);
int32_t occsolve_iband(void);
int32_t occsolve_ispin(void);

/* Gives bandenergy the extents (nspin, nband, nk), zero-filled, freeing earlier storage;
 * returns the storage (owned by the library until deallocated), or NULL when memory is
 * short (then bandenergy is unallocated). */
double* occsolve_allocate_bandenergy(int64_t nspin, int64_t nband, int64_t nk);
void occsolve_deallocate_bandenergy(void);
double* occsolve_bandenergy(void);              /* the storage, NULL when unallocated */
int64_t occsolve_bandenergy_extent(int dim);    /* extent along dim 1, 2 or 3; 0 when unallocated */

/* The same for the k-point weights kwpt, nk entries. */
double* occsolve_allocate_kwpt(int64_t nk);
void occsolve_deallocate_kwpt(void);
double* occsolve_kwpt(void);
int64_t occsolve_kwpt_extent(void);

/* Electrons in a state of `energy` at Fermi level `level` and `temperature`, and its
 * broadening weight (derivative with respect to the level, electrons per eV).  Read no
 * shared state. */
double occsolve_fermi(double energy, double level, double temperature, int32_t nspin);
double occsolve_dfermi(double energy, double level, double temperature, int32_t nspin);

/* Finds the level in [*emin, *emax] eV (both NULL, or only one given: 2 to 20 eV) at
 * which the weighted occupation of all states equals totale within 1e-8, and leaves it
 * in efermi.  Returns an OCCSOLVE_STATUS_ value, also stored in *status when status is
 * not NULL (hosts written before it returned one pass it there): UNUSABLE (nothing
 * changed) also for a totale that is not finite or a bracket end that is not a number;
 * STALLED when no level of the bracket holds totale, and with no state at all.  Always
 * returns. */
int occsolve_getef(const double* emin, const double* emax, int* status);

/* Sets *emin and *emax to a bracket that holds the level whatever totale is: the lowest
 * and highest band energy widened by 41 kT and at least 1 meV.  Returns
 * OCCSOLVE_STATUS_CONVERGED (0), or UNUSABLE leaving them untouched when the state
 * cannot be read, has no state, holds an energy that is not finite, or t is negative or
 * not finite (or a pointer is NULL).
 *     double lo, hi;
 *     if (occsolve_getef_bracket(&lo, &hi) == OCCSOLVE_STATUS_CONVERGED)
 *         status = occsolve_getef(&lo, &hi, NULL);  */
int occsolve_getef_bracket(double* emin, double* emax);

/* The former name of occsolve_getef_bracket, with its former convention, kept for hosts
 * that link against it: returns 1 when the bracket was set, 0 otherwise. */
int occsolve_energy_bracket(double* emin, double* emax);

#ifdef __cplusplus
}
#endif

#endif
