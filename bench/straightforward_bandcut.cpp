// The straightforward way to do bandcut's job, kept as the benchmark's yardstick: fgets
// line by line, sscanf for every number, fprintf for every value.  Same output on the
// benchmark's listing (a full mesh listed in the file's own order, so no placement).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
    if (argc <= 4) return 1;
    const int nkx = std::atoi(argv[1]), nky = std::atoi(argv[2]), nkz = std::atoi(argv[3]);
    const float ef = static_cast<float>(std::atof(argv[4]));
    std::FILE* in = std::fopen("OUTCAR", "r");
    if (!in) return 1;
    static char line[1 << 16];
    char t[8][256];
    int nkpts = 0, nbands = 0;
    while (std::fgets(line, sizeof line, in) && !std::strstr(line, "NKPTS")) {
    }
    std::sscanf(line, "%255s%255s%255s%d", t[0], t[1], t[2], &nkpts);
    std::sscanf(std::strstr(line, "NBANDS"), "NBANDS= %d", &nbands);
    printf("str=%s", line);
    printf("NKPTS: %d, NBANDS: %d\n", nkpts, nbands);
    float a[3][3], b[3][3];
    while (std::fgets(line, sizeof line, in) && !std::strstr(line, "reciprocal lattice vectors")) {
    }
    for (int i = 0; i < 3; ++i) {
        std::fgets(line, sizeof line, in);
        std::sscanf(line, "%f%f%f%f%f%f", &a[i][0], &a[i][1], &a[i][2], &b[i][0], &b[i][1], &b[i][2]);
    }
    while (std::fgets(line, sizeof line, in) && !std::strstr(line, "E-fermi")) {
    }
    printf("Ef: %f\n", static_cast<double>(ef));
    for (int i = 0; i < 3; ++i) std::fgets(line, sizeof line, in);  // blank, "Fermi energy:", blank
    std::vector<float> eband(static_cast<std::size_t>(nkpts) * static_cast<std::size_t>(nbands));
    for (int k = 0; k < nkpts; ++k) {
        float c[3];
        std::fgets(line, sizeof line, in);
        std::sscanf(line, "%255s%255s%255s%f%f%f", t[0], t[1], t[2], &c[0], &c[1], &c[2]);
        std::fgets(line, sizeof line, in);
        for (int j = 0; j < nbands; ++j) {
            int n;
            float occupation;
            std::fgets(line, sizeof line, in);
            std::sscanf(line, "%d%f%f", &n, &eband[static_cast<std::size_t>(k) * static_cast<std::size_t>(nbands) + static_cast<std::size_t>(j)], &occupation);
        }
        std::fgets(line, sizeof line, in);
    }
    std::fclose(in);
    std::vector<int> nstore;
    for (int j = 0; j < nbands; ++j) {
        float lo = 10000, hi = -10000;
        for (int k = 0; k < nkpts; ++k) {
            const float e = eband[static_cast<std::size_t>(k) * static_cast<std::size_t>(nbands) + static_cast<std::size_t>(j)];
            if (e < lo) lo = e;
            if (e > hi) hi = e;
        }
        if (hi > ef && lo < ef) nstore.push_back(j);
    }
    std::FILE* out = std::fopen("FS.bsxf", "w");
    if (!out) return 1;
    std::fprintf(out, "BEGIN_INFO\n  Fermi Energy: %7.5f\nEND_INFO\n\nBEGIN_BLOCK_BANDGRID_3D\n  one_word_comment \n"
                      "  BEGIN_BANDGRID_3D\n  %d \n %d %d %d \n 0 0 0\n",
                 static_cast<double>(ef), static_cast<int>(nstore.size()), nkx + 1, nky + 1, nkz + 1);
    for (auto& v : b) std::fprintf(out, " %f %f %f \n", static_cast<double>(v[0]), static_cast<double>(v[1]), static_cast<double>(v[2]));
    for (int j : nstore) {
        std::fprintf(out, " BAND: %d \n", j + 1);
        // The closed grid: each axis runs one point further, onto the first one's image.
        for (int ix = 0; ix <= nkx; ++ix) {
            for (int iy = 0; iy <= nky; ++iy) {
                for (int iz = 0; iz <= nkz; ++iz) {
                    const int n = ((ix % nkx) * nky + iy % nky) * nkz + iz % nkz;
                    std::fprintf(out, "  %f  ", static_cast<double>(eband[static_cast<std::size_t>(n) * static_cast<std::size_t>(nbands) + static_cast<std::size_t>(j)]));
                }
                std::fprintf(out, "\n");
            }
            std::fprintf(out, "\n");
        }
    }
    std::fprintf(out, "  END_BANDGRID_3D\nEND_BLOCK_BANDGRID_3D\n");
    return std::fclose(out) == 0 ? 0 : 1;
}
