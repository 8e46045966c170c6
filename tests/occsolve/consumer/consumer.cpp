// Bands at 4 and 6 eV, 2 electrons, 300 K: the search settles on 5.375 eV.
#include <occsolve/ef.hpp>
#include <occsolve/params.hpp>
#include <occsolve/variable.hpp>

#include <cstdio>

int main() {
    namespace v = occsolve::variable;
    v::nspin = 1;
    v::nk = 1;
    v::nband = 2;
    v::t = 300;
    v::totale = 2;
    v::bandenergy.allocate(1, 2, 1);
    v::bandenergy(1, 1, 1) = 4.0;
    v::bandenergy(1, 2, 1) = 6.0;
    v::kwpt.allocate(1);
    v::kwpt(1) = 1.0;
    int status = -1;
    occsolve::ef::getef(nullptr, nullptr, &status);
    std::printf("efermi %.17g status %d\n", v::efermi, status);
    return v::efermi == 5.375 && status == occsolve::params::status_converged ? 0 : 1;
}
