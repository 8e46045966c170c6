// Two searches through the C++ interface, each level printed as its bits: built in the
// tree as the reference, and outside it against the installed package.  The C and
// Fortran hosts must print exactly the same.
#include <occsolve/ef.hpp>
#include <occsolve/variable.hpp>

#include <bit>
#include <cstdint>
#include <cstdio>

namespace v = occsolve::variable;

static void report() {
    int status = -1;
    occsolve::ef::getef(nullptr, nullptr, &status);
    std::printf("%llu %d\n", static_cast<unsigned long long>(std::bit_cast<std::uint64_t>(v::efermi)), status);
}

int main() {
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
    report();

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
            for (int s = 1; s <= 2; ++s) v::bandenergy(s, b, k) = 1.0 + 2.0 * (b - 1) + (s - 1) + 0.5 * (k - 1);
    }
    report();
}
