/* Two searches through the C interface; prints each level's bits and status. */
#include <occsolve/occsolve.h>

#include <inttypes.h>
#include <stdio.h>
#include <string.h>

static void report(void) {
    int status = -1;
    double level;
    uint64_t bits;
    occsolve_getef(NULL, NULL, &status);
    level = occsolve_efermi();
    memcpy(&bits, &level, sizeof bits);
    printf("%" PRIu64 " %d\n", bits, status);
}

int main(void) {
    /* Bands at 4 and 6 eV, 2 electrons, 300 K. */
    double* e;
    double* w;
    int k, b, s;
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
    report();

    /* Two spin channels, two k-points of weight 1/2, three bands, 500 K, 2.5 electrons. */
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
            for (s = 0; s < 2; ++s) e[s + 2 * (b + 3 * k)] = 1.0 + 2.0 * b + s + 0.5 * k;
    }
    report();
    return 0;
}
