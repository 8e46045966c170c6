// A host program for occsolve: fills the shared state from a band structure it computes
// itself, a ferromagnetic tight-binding metal, and asks for the Fermi level.
//
// Simple-cubic s band, E(k) = e0 - 2 t (cos kx + cos ky + cos kz), on a 24^3 grid of
// equal weights summing to 1, two spin channels split by 0.6 eV, four bands per channel
// (the s band and three copies shifted up by 4, 8 and 12 eV).  With 1.3 electrons per
// cell the lowest band pair is partly filled and the level lies inside it, near 6 eV.
// Then the same metal with every energy 12 eV lower: its level, near -6 eV, lies outside
// the default bracket, and getef_bracket gives one that holds it.
#include <occsolve/ef.hpp>
#include <occsolve/fermifunction.hpp>
#include <occsolve/params.hpp>
#include <occsolve/variable.hpp>

#include <cmath>
#include <cstdio>

int main() {
    namespace v = occsolve::variable;
    const int n = 24;
    const double pi = std::acos(-1.0);
    v::nspin = 2;
    v::nk = n * n * n;
    v::nband = 4;
    v::totale = 1.3;
    v::bandenergy.allocate(v::nspin, v::nband, v::nk);
    v::kwpt.allocate(v::nk);
    int k = 0;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            for (int l = 0; l < n; ++l) {
                ++k;
                const double s = std::cos(2 * pi * i / n) + std::cos(2 * pi * j / n) + std::cos(2 * pi * l / n);
                v::kwpt(k) = 1.0 / v::nk;
                for (int b = 1; b <= v::nband; ++b) {
                    const double e = 6.0 - 2 * 1.0 * s + 4.0 * (b - 1);
                    v::bandenergy(1, b, k) = e - 0.3;  // majority spin
                    v::bandenergy(2, b, k) = e + 0.3;  // minority spin
                }
            }

    std::printf("%8s  %-14s  %12s  %s\n", "T (K)", "bracket (eV)", "E_F (eV)", "status");
    for (const double t : {10.0, 300.0, 1000.0, 3000.0}) {
        v::t = t;
        int status = -1;
        occsolve::ef::getef(nullptr, nullptr, &status);
        std::printf("%8.0f  %-14s  %12.8f  %d\n", t, "2 to 20", v::efermi, status);

        const double lo = 5.0, hi = 9.0;
        occsolve::ef::getef(&lo, &hi, &status);
        std::printf("%8.0f  %-14s  %12.8f  %d\n", t, "5 to 9", v::efermi, status);
    }
    // A bracket that cannot hold the level: reported, not looped on.
    const double lo = 15.0, hi = 20.0;
    int status = -1;
    occsolve::ef::getef(&lo, &hi, &status);
    std::printf("%8.0f  %-14s  %12.8f  %d (stalled: the level is not in the bracket)\n", v::t, "15 to 20", v::efermi, status);

    // A level below 0 eV: the default bracket (2 to 20 eV) cannot hold it; a bracket from
    // the data always does.
    for (int kk = 1; kk <= v::nk; ++kk)
        for (int b = 1; b <= v::nband; ++b)
            for (int s = 1; s <= v::nspin; ++s) v::bandenergy(s, b, kk) -= 12.0;
    v::t = 300;
    occsolve::ef::getef(nullptr, nullptr, &status);
    std::printf("%8.0f  %-14s  %12.8f  %d (stalled: the level lies below the default bracket)\n", v::t, "2 to 20",
                v::efermi, status);
    double emin = 0, emax = 0;
    if (occsolve::ef::getef_bracket(emin, emax)) {
        occsolve::ef::getef(&emin, &emax, &status);
        char bracket[32];
        std::snprintf(bracket, sizeof bracket, "%.2f to %.2f", emin, emax);
        std::printf("%8.0f  %-14s  %12.8f  %d (the bracket from getef_bracket)\n", v::t, bracket, v::efermi, status);
    }

    // The broadening weight at the level: electrons per eV per cell.
    double dos = 0;
    for (int kk = 1; kk <= v::nk; ++kk)
        for (int b = 1; b <= v::nband; ++b)
            for (int s = 1; s <= v::nspin; ++s)
                dos += v::kwpt(kk) * occsolve::fermifunction::dfermi(v::bandenergy(s, b, kk), v::efermi, v::t, v::nspin);
    std::printf("thermal density of states at E_F: %.6f states/eV/cell\n", dos);
    return 0;
}
