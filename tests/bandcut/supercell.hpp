// A listing of a large antiferromagnetic supercell, for the bound on the symmetry work:
// n x n x n conventional face-centred cubic cells of 4 A (4 n^3 ions of one species),
// moments up and down in alternate (001) planes of cells, spin-polarised, a 2 x 2 x 2 mesh
// reduced to 4 k-points as a cubic crystal would reduce it, and `bands` bands, enough that
// the listing warrants the search.  Used by a test (which checks only that the run ends
// sanely) and by the benchmark (which times it).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace bandcut_test {

inline std::string supercell_listing(int n, int bands) {
    std::vector<std::string> up, down;
    const double basis[4][3] = {{0, 0, 0}, {0.5, 0.5, 0}, {0.5, 0, 0.5}, {0, 0.5, 0.5}};
    char line[512];
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            for (int k = 0; k < n; ++k)
                for (const auto& b : basis) {
                    std::snprintf(line, sizeof line, "  %11.8f %11.8f %11.8f\n", (i + b[0]) / n, (j + b[1]) / n, (k + b[2]) / n);
                    (k % 2 ? down : up).push_back(line);
                }
    const auto ions = static_cast<int>(up.size() + down.size());
    std::string t = " INCAR:\n   ISPIN = 2\n   MAGMOM = " + std::to_string(up.size()) + "*1.0 " + std::to_string(down.size()) +
                    "*-1.0\n\n KPOINTS: Automatic mesh\n\nAutomatic generation of k-mesh.\n"
                    " Subroutine IBZKPT returns following result:\n Following reciprocal coordinates:\n"
                    "            Coordinates               Weight\n"
                    "  0.000000  0.000000  0.000000      1.000000\n  0.500000  0.000000  0.000000      3.000000\n"
                    "  0.500000  0.500000  0.000000      3.000000\n  0.500000  0.500000  0.500000      1.000000\n \n"
                    "------------------------------------------------------------------\n Dimension of arrays:\n";
    std::snprintf(line, sizeof line,
                  "   k-points           NKPTS =      4   k-points in BZ     NKDIM =      4   number of bands    NBANDS= %6d\n"
                  "   number of ions     NIONS = %6d\n   ions per type = %6d\n   ISPIN  =      2    spin polarized?\n",
                  bands, ions, ions);
    t += line;
    std::snprintf(line, sizeof line, "      direct lattice vectors                 reciprocal lattice vectors\n"
                                     "  %14.9f 0.0 0.0   %14.9f 0.0 0.0\n  0.0 %14.9f 0.0   0.0 %14.9f 0.0\n"
                                     "  0.0 0.0 %14.9f   0.0 0.0 %14.9f\n\n",
                  4.0 * n, 0.25 / n, 4.0 * n, 0.25 / n, 4.0 * n, 0.25 / n);
    t += line;
    t += " k-points in reciprocal lattice and weights: mesh\n   0.00000000  0.00000000  0.00000000  0.125\n"
         "   0.50000000  0.00000000  0.00000000  0.375\n   0.50000000  0.50000000  0.00000000  0.375\n"
         "   0.50000000  0.50000000  0.50000000  0.125\n \n position of ions in fractional coordinates (direct lattice) \n";
    for (const auto& p : up) t += p;
    for (const auto& p : down) t += p;
    t += " \n E-fermi :   5.0000\n\n\n";
    const char* coordinates[] = {"0.0000 0.0000 0.0000", "0.5000 0.0000 0.0000", "0.5000 0.5000 0.0000", "0.5000 0.5000 0.5000"};
    for (int s = 0; s < 2; ++s) {
        t += " spin component " + std::to_string(s + 1) + "\n\n";
        for (int k = 0; k < 4; ++k) {
            t += " k-point     " + std::to_string(k + 1) + " :       " + coordinates[k] + "\n  band No.  band energies     occupation \n";
            for (int b = 1; b <= bands; ++b) {
                std::snprintf(line, sizeof line, "%7d%13.4f%13.5f\n", b, -10.0 + 0.01 * b + 0.1 * k + 0.05 * s, 1.0);
                t += line;
            }
            t += "\n";
        }
    }
    return t + "------------------------------------------------------------------\n";
}

}  // namespace bandcut_test
