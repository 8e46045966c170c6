// One timed Fermi-level search in a fresh process, for bench/run_getef.py:
//
//     getef_bench LAYOUT CONTENDER [CALLS]
//
// LAYOUT: "even" (bands spread evenly with jitter) or "uniform" (sorted uniform randoms);
// 2 spins x 20000 k-points x 400 bands from -10 to 15 eV at 300 K, the level near 5 eV,
// inside the 2 to 20 eV bracket.  CONTENDER: "getef" (the library, through its shared
// state), "plain" (the same search as a careful C++ programmer writes it: the documented
// loop and order, kT and g formed once, raw indexing) or "fortran" (the same in Fortran).
// Building the energies is not timed; the thread's CPU time around the first call is, and
// around the CALLS-th (default 1) for a host that calls once per iteration.  Prints:
//     CONTENDER LAYOUT first_seconds nth_seconds level_bits passes_or_status peak_rss_kib
#include <occsolve/ef.hpp>
#include <occsolve/params.hpp>
#include <occsolve/variable.hpp>

#include <sys/resource.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#ifdef BENCH_FORTRAN
extern "C" void plain_sweep_fortran(std::int32_t nspin, std::int32_t nband, std::int32_t nk, const double* e,
                                    const double* w, double t, double totale, double lo, double hi, double* level,
                                    std::int64_t* passes);
#endif

namespace {

namespace v = occsolve::variable;

double thread_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// The plain search with kT and g hoisted and raw indexing: the yardstick.
double plain_sweep(const double* e, const double* w, std::int32_t nspin, std::int32_t nband, std::int32_t nk, double t,
                   double totale, double lo, double hi, std::int64_t& passes) {
    const double kT = occsolve::params::kB * t;
    const double g = static_cast<double>(2.0f / static_cast<float>(nspin));
    std::vector<double> occ(static_cast<std::size_t>(nspin)), nel(static_cast<std::size_t>(nspin));
    passes = 0;
    for (;;) {
        const double level = (lo + hi) * 0.5;
        ++passes;
        std::fill(nel.begin(), nel.end(), 0.0);
        for (std::int32_t k = 0; k < nk; ++k) {
            std::fill(occ.begin(), occ.end(), 0.0);
            const double* ek = e + std::size_t(k) * std::size_t(nband) * std::size_t(nspin);
            for (std::int32_t b = 0; b < nband; ++b)
                for (std::int32_t s = 0; s < nspin; ++s) {
                    const double x = (ek[b * nspin + s] - level) / kT;
                    if (x > 40.0) continue;
                    occ[std::size_t(s)] += x < -40.0 ? g : g / (std::exp(x) + 1.0);
                }
            for (std::int32_t s = 0; s < nspin; ++s) nel[std::size_t(s)] += occ[std::size_t(s)] * w[k];
        }
        double total = 0;
        for (double n : nel) total += n;
        if (std::fabs(total - totale) < 1e-8) return level;
        if (std::isnan(total) || level == lo || level == hi) return level;
        if (total > totale) hi = level;
        if (total < totale) lo = level;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: getef_bench even|uniform getef|plain|fortran [CALLS]\n");
        return 2;
    }
    const std::string layout = argv[1], contender = argv[2];
    const int calls = argc > 3 ? std::max(1, std::atoi(argv[3])) : 1;
    const std::int32_t nspin = 2, nk = 20000, nband = 400;
    v::nspin = nspin;
    v::nk = nk;
    v::nband = nband;
    v::t = 300;
    v::bandenergy.allocate(nspin, nband, nk);
    v::kwpt.allocate(nk);
    std::mt19937_64 rng(42);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> band(static_cast<std::size_t>(nband));
    for (int k = 1; k <= nk; ++k) {
        v::kwpt(k) = 1.0 / nk;
        for (int s = 1; s <= nspin; ++s) {
            for (int b = 0; b < nband; ++b)
                band[std::size_t(b)] = layout == "even" ? -10.0 + 25.0 * (b + 0.5 * unit(rng)) / nband : -10.0 + 25.0 * unit(rng);
            std::sort(band.begin(), band.end());
            for (int b = 1; b <= nband; ++b) v::bandenergy(s, b, k) = band[std::size_t(b - 1)];
        }
    }
    double weights = 0;
    for (int k = 1; k <= nk; ++k) weights += v::kwpt(k);
    v::totale = weights * nband * 0.6 * 2;  // the level near 5 eV
    const double lo = 2.0, hi = 20.0;

    double first = 0, nth = 0, level = 0;
    std::int64_t passes = 0;
    for (int call = 1; call <= calls; ++call) {
        const double start = thread_seconds();
        if (contender == "getef") {
            int status = -1;
            occsolve::ef::getef(&lo, &hi, &status);
            level = v::efermi;
            passes = status;
        } else if (contender == "plain") {
            level = plain_sweep(v::bandenergy.data(), v::kwpt.data(), nspin, nband, nk, v::t, v::totale, lo, hi, passes);
        } else {
#ifdef BENCH_FORTRAN
            plain_sweep_fortran(nspin, nband, nk, v::bandenergy.data(), v::kwpt.data(), v::t, v::totale, lo, hi, &level,
                                &passes);
#else
            std::fprintf(stderr, "built without a Fortran compiler\n");
            return 2;
#endif
        }
        const double elapsed = thread_seconds() - start;
        if (call == 1) first = elapsed;
        nth = elapsed;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%s %s %.6f %.6f %llu %lld %ld\n", contender.c_str(), layout.c_str(), first, nth,
                static_cast<unsigned long long>(std::bit_cast<std::uint64_t>(level)), static_cast<long long>(passes),
                usage.ru_maxrss);
}
