/* The reference searches through the C interface; prints each result as bits.  The
 * stateless searches run first in one thread, then in eight threads at once, two on each
 * of four band structures: every thread must get the single-threaded answer. */
#include <occsolve/occsolve.h>

#include <inttypes.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
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

/* One of six band structures in arrays of our own (see consumer_reference.cpp), and
 * what the stateless interface makes of it. */
struct problem {
    occsolve_bands bands;
    double t, electrons;
    int bracket_status, status;
    double lo, hi, level, count;
};

static void make_problem(int i, struct problem* p) {
    static const double temperatures[] = {30, 300, 3000, 30000, 300000, 300};
    const int nspin = 1 + i % 2, nband = 8 + 9 * i, nk = 10 + 23 * i;
    double* e = malloc(sizeof(double) * (size_t)(nspin * nband * nk));
    double* w = malloc(sizeof(double) * (size_t)nk);
    double weights = 0;
    int k, b, s;
    for (k = 1; k <= nk; ++k) {
        w[k - 1] = (1 + k % 3) / 8.0;
        weights += w[k - 1];
        for (b = 1; b <= nband; ++b)
            for (s = 1; s <= nspin; ++s)
                e[(s - 1) + nspin * ((b - 1) + nband * (k - 1))] = ((37 * k + 101 * b + 53 * s) % 997 - 498) / 64.0 + b / 4.0;
    }
    memset(p, 0, sizeof *p);
    p->bands.nspin = nspin;
    p->bands.nband = nband;
    p->bands.nk = nk;
    p->bands.extent[0] = nspin;
    p->bands.extent[1] = nband;
    p->bands.extent[2] = nk;
    p->bands.energy = e;
    p->bands.weight = w;
    p->t = temperatures[i];
    p->electrons = 0.75 * nband * weights;
}

static void solve(struct problem* p) {
    p->bracket_status = occsolve_find_bracket(&p->bands, p->t, &p->lo, &p->hi);
    p->status = occsolve_find_level(&p->bands, p->t, p->electrons, &p->lo, &p->hi, &p->level);
    occsolve_electron_count(&p->bands, p->t, p->level, &p->count);
}

static struct problem problems[6];

static void* solve_again(void* arg) {
    const struct problem* alone = &problems[*(const int*)arg];
    struct problem p = *alone; /* the same arrays, read by two threads at once */
    int round;
    for (round = 0; round < 5; ++round) {
        solve(&p);
        if (p.status != alone->status || bits(p.level) != bits(alone->level) || bits(p.count) != bits(alone->count) ||
            bits(p.lo) != bits(alone->lo))
            return (void*)1;
    }
    return NULL;
}

int main(void) {
    double* e;
    double* w;
    double lo = 4.5, hi = 5.5, emin = 0, emax = 0;
    int k, b, s, found, i;
    pthread_t threads[8];
    int which[8], disagree = 0;
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
    found = occsolve_energy_bracket(&emin, &emax); /* the former name: 1 when set */
    found = found && occsolve_getef_bracket(&emin, &emax) == OCCSOLVE_STATUS_CONVERGED;
    printf("%d %" PRIu64 " %" PRIu64 "\n", found, bits(emin), bits(emax));
    report(&emin, &emax);

    /* The occupation functions, each argument in its place. */
    printf("%" PRIu64 " %" PRIu64 "\n", bits(occsolve_fermi(4.93, 5.01, 300, 2)), bits(occsolve_dfermi(4.93, 5.01, 300, 1)));
    printf("%" PRIu64 " %" PRIu64 "\n", bits(occsolve_fermi(4.93, 5.01, 1e5, 2)), bits(occsolve_dfermi(4.93, 5.01, 1e5, 1)));

    /* The stateless searches, alone, then from eight threads at once. */
    for (i = 0; i < 6; ++i) {
        make_problem(i, &problems[i]);
        solve(&problems[i]);
        printf("%d %d %d %" PRIu64 " %" PRIu64 " %" PRIu64 " %" PRIu64 "\n", i, problems[i].bracket_status,
               problems[i].status, bits(problems[i].lo), bits(problems[i].hi), bits(problems[i].level),
               bits(problems[i].count));
    }
    for (i = 0; i < 8; ++i) {
        which[i] = 2 + i % 4;
        if (pthread_create(&threads[i], NULL, solve_again, &which[i]) != 0) return 1;
    }
    for (i = 0; i < 8; ++i) {
        void* result = NULL;
        pthread_join(threads[i], &result);
        disagree += result != NULL;
    }
    puts(disagree ? "threads disagree" : "threads agree");
    for (i = 0; i < 6; ++i) {
        free((void*)problems[i].bands.energy);
        free((void*)problems[i].bands.weight);
    }
    if (disagree) return 1;

    /* No bracket given: the data's own, which holds a level below 2 eV (the shared
     * state's default bracket does not). */
    {
        const double ee[2] = {-3.0, -1.0}, ww[1] = {1.0};
        const occsolve_bands one = {1, 2, 1, {1, 2, 1}, ee, ww};
        double level = 0;
        if (occsolve_find_level(&one, 300, 2.0, NULL, NULL, &level) != OCCSOLVE_STATUS_CONVERGED || level != -2.0) return 3;
    }
    return 0;
}
