/* The reference searches through the C interface; prints each result as bits. */
#include <occsolve/occsolve.h>

#include <inttypes.h>
#include <stdio.h>
#include <string.h>

static uint64_t bits(double x) {
    uint64_t b;
    memcpy(&b, &x, sizeof b);
    return b;
}

static void report(const double* emin, const double* emax) {
    int status = -1;
    occsolve_getef(emin, emax, &status);
    printf("%" PRIu64 " %d %d %d %d\n", bits(occsolve_efermi()), status, (int)occsolve_ik(), (int)occsolve_iband(),
           (int)occsolve_ispin());
}

int main(void) {
    double* e;
    double* w;
    double lo = 4.5, hi = 5.5, emin = 0, emax = 0;
    int k, b, s, found;
    /* Bands at 4 and 6 eV, 2 electrons, 300 K: the default bracket, then 4.5 to 5.5. */
    occsolve_set_nspin(1);
    occsolve_set_nk(1);
    occsolve_set_nband(2);
    occsolve_set_t(300);
    occsolve_set_totale(2);
    e = occsolve_allocate_bandenergy(1, 2, 1);
    w = occsolve_allocate_kwpt(1);
    e[0] = 4.0;
    e[1] = 6.0;
    w[0] = 1.0;
    report(NULL, NULL);
    report(&lo, &hi);

    /* Two spin channels, two k-points of weight 1/2, three bands below 0 eV, 500 K. */
    occsolve_set_nspin(2);
    occsolve_set_nk(2);
    occsolve_set_nband(3);
    occsolve_set_t(500);
    occsolve_set_totale(2.5);
    e = occsolve_allocate_bandenergy(2, 3, 2);
    w = occsolve_allocate_kwpt(2);
    for (k = 0; k < 2; ++k) {
        w[k] = 0.5;
        for (b = 0; b < 3; ++b)
            for (s = 0; s < 2; ++s) e[s + 2 * (b + 3 * k)] = -9.0 + 2.0 * b + s + 0.5 * k;
    }
    report(NULL, NULL); /* stalls at 2 eV */
    found = occsolve_energy_bracket(&emin, &emax);
    printf("%d %" PRIu64 " %" PRIu64 "\n", found, bits(emin), bits(emax));
    report(&emin, &emax);
    return 0;
}
