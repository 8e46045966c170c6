// Writes a large listing in the current layout for the bandcut benchmark:
//   make_listing PATH [N [NBANDS]]   (defaults: a 40 x 40 x 40 grid, 200 bands: about 400 MB)
// Band b has the tight-binding dispersion  c_b - w_b (cos 2πk1 + cos 2πk2 + cos 2πk3) / 3
// with centres spread from -10 to 15 eV, so that a dozen bands cross 5.0 eV.  The output
// depends on nothing but the arguments.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_listing PATH [N [NBANDS]]\n");
        return 2;
    }
    const int n = argc > 2 ? std::atoi(argv[2]) : 40;
    const int nbands = argc > 3 ? std::atoi(argv[3]) : 200;
    std::FILE* out = std::fopen(argv[1], "w");
    if (!out) {
        std::perror(argv[1]);
        return 1;
    }
    const int nkpts = n * n * n;
    std::fprintf(out, " benchmark listing: %d x %d x %d grid, %d bands\n", n, n, n, nbands);
    std::fprintf(out, "   k-points           NKPTS = %6d   k-points in BZ     NKDIM = %6d   number of bands    NBANDS= %6d\n",
                 nkpts, nkpts, nbands);
    // The electrons of the bands below 5 eV, about: --sheets finds the level the grid implies.
    std::fprintf(out, "   NELECT =     %8.4f    total number of electrons\n", 2.0 * std::floor(0.6 * nbands));
    std::fprintf(out, "  direct lattice vectors                 reciprocal lattice vectors\n"
                      "     3.000000000  0.000000000  0.000000000     0.333333333  0.000000000  0.000000000\n"
                      "     0.000000000  3.000000000  0.000000000     0.000000000  0.333333333  0.000000000\n"
                      "     0.000000000  0.000000000  3.500000000     0.000000000  0.000000000  0.285714286\n\n");
    std::fprintf(out, " E-fermi :   5.0000     XC(G=0): -10.2373     alpha+bet :-12.9472\n\n"
                      " Fermi energy:         5.0000000000\n\n");
    const double pi = std::acos(-1.0);
    std::vector<double> cosine(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) cosine[static_cast<std::size_t>(i)] = std::cos(2 * pi * i / n);
    auto wrapped = [n](int i) { return i * 2 > n ? double(i - n) / n : double(i) / n; };
    int number = 0;
    for (int i3 = 0; i3 < n; ++i3)
        for (int i2 = 0; i2 < n; ++i2)
            for (int i1 = 0; i1 < n; ++i1) {
                std::fprintf(out, " k-point %5d :    %10.4f%10.4f%10.4f\n  band No.  band energies     occupation \n",
                             ++number, wrapped(i1), wrapped(i2), wrapped(i3));
                const double s = cosine[static_cast<std::size_t>(i1)] + cosine[static_cast<std::size_t>(i2)] +
                                 cosine[static_cast<std::size_t>(i3)];
                for (int b = 0; b < nbands; ++b) {
                    const double centre = -10.0 + 25.0 * b / nbands;
                    const double width = 0.6 + 0.4 * ((b * 7) % 5);
                    const double e = centre - width * s / 3.0;
                    std::fprintf(out, "%7d%13.4f%13.5f\n", b + 1, e, e < 5.0 ? 2.0 : 0.0);
                }
                std::fputs("\n", out);
            }
    return std::fclose(out) == 0 ? 0 : 1;
}
