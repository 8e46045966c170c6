// Searches through the C++ interface, each result printed as bits: built in the tree as
// the reference, and outside it against the installed package (as C++17).  The C and
// Fortran hosts must print exactly the same; they run the stateless searches from
// several threads at once, this program in one.
#include <occsolve/core.hpp>
#include <occsolve/ef.hpp>
#include <occsolve/fermifunction.hpp>
#include <occsolve/variable.hpp>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace v = occsolve::variable;

static unsigned long long bits(double x) {
    std::uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

static void report(const double* emin, const double* emax) {
    int status = -1;
    occsolve::ef::getef(emin, emax, &status);
    std::printf("%llu %d %d %d %d\n", bits(v::efermi), status, v::ik, v::iband, v::ispin);
}

int main() {
    // Bands at 4 and 6 eV, 2 electrons, 300 K: the default bracket, then 4.5 to 5.5.
    v::nspin = 1;
    v::nk = 1;
    v::nband = 2;
    v::t = 300;
    v::totale = 2;
    v::bandenergy.allocate(1, 2, 1);
    v::kwpt.allocate(1);
    v::bandenergy(1, 1, 1) = 4.0;
    v::bandenergy(1, 2, 1) = 6.0;
    v::kwpt(1) = 1.0;
    report(nullptr, nullptr);
    const double lo = 4.5, hi = 5.5;
    report(&lo, &hi);

    // Two spin channels, two k-points of weight 1/2, three bands, 500 K, 2.5 electrons,
    // all below 0 eV: outside the default bracket, inside the one from the data.
    v::nspin = 2;
    v::nk = 2;
    v::nband = 3;
    v::t = 500;
    v::totale = 2.5;
    v::bandenergy.allocate(2, 3, 2);
    v::kwpt.allocate(2);
    for (int k = 1; k <= 2; ++k) {
        v::kwpt(k) = 0.5;
        for (int b = 1; b <= 3; ++b)
            for (int s = 1; s <= 2; ++s) v::bandenergy(s, b, k) = -9.0 + 2.0 * (b - 1) + (s - 1) + 0.5 * (k - 1);
    }
    report(nullptr, nullptr);  // stalls at 2 eV
    double emin = 0, emax = 0;
    const bool found = occsolve::ef::getef_bracket(emin, emax);
    std::printf("%d %llu %llu\n", found ? 1 : 0, bits(emin), bits(emax));
    report(&emin, &emax);

    // The occupation functions, each argument in its place.
    for (const double t : {300.0, 1e5})
        std::printf("%llu %llu\n", bits(occsolve::fermifunction::fermi(4.93, 5.01, t, 2)),
                    bits(occsolve::fermifunction::dfermi(4.93, 5.01, t, 1)));

    // Six band structures of the caller's own, searched without shared state: energies
    // e(s, b, k) = (mod(37 k + 101 b + 53 s, 997) - 498) / 64 + b / 4 (s, b, k from 1),
    // weights (1 + mod(k, 3)) / 8, 3/8 of the states filled; up to 13250 states and 3e5 K.
    const double temperatures[] = {30, 300, 3000, 30000, 300000, 300};
    for (int i = 0; i < 6; ++i) {
        const int nspin = 1 + i % 2, nband = 8 + 9 * i, nk = 10 + 23 * i;
        std::vector<double> e(static_cast<std::size_t>(nspin * nband * nk)), w(static_cast<std::size_t>(nk));
        double weights = 0;
        for (int k = 1; k <= nk; ++k) {
            w[static_cast<std::size_t>(k - 1)] = (1 + k % 3) / 8.0;
            weights += w[static_cast<std::size_t>(k - 1)];
            for (int b = 1; b <= nband; ++b)
                for (int s = 1; s <= nspin; ++s)
                    e[static_cast<std::size_t>((s - 1) + nspin * ((b - 1) + nband * (k - 1)))] =
                        ((37 * k + 101 * b + 53 * s) % 997 - 498) / 64.0 + b / 4.0;
        }
        const occsolve::band_view v{nspin, nband, nk, e.data(), nspin, std::int64_t{nspin} * nband, w.data()};
        occsolve::bracket b{};
        const bool found = occsolve::find_bracket(v, temperatures[i], b);
        const auto r = occsolve::find_level(v, temperatures[i], 0.75 * nband * weights, b);
        std::printf("%d %d %d %llu %llu %llu %llu\n", i, found ? 0 : 2, r.status, bits(b.lo), bits(b.hi), bits(r.level),
                    bits(occsolve::electron_count(v, temperatures[i], r.level)));
    }
    std::printf("threads agree\n");
}
