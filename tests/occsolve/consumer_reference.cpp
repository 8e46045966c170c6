// Searches through the C++ interface, each result printed as bits: built in the tree as
// the reference, and outside it against the installed package (as C++17).  The C and
// Fortran hosts must print exactly the same.
#include <occsolve/ef.hpp>
#include <occsolve/variable.hpp>

#include <cstdint>
#include <cstdio>
#include <cstring>

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
    const bool found = occsolve::ef::energy_bracket(emin, emax);
    std::printf("%d %llu %llu\n", found ? 1 : 0, bits(emin), bits(emax));
    report(&emin, &emax);
}
