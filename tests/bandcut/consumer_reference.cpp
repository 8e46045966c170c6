// A host of the installed bandcut library: reads a listing held in memory through the
// public header alone, prints what the run said, the bands it chose, a few values and the
// band-grid file.  Built in the tree as the reference, and outside it against the
// installed package (CMake and pkg-config): the outputs must be the same.
#include <bandcut/cut.hpp>

#include <cstdio>
#include <string>

namespace {

// A full 2 x 2 x 2 mesh of a 3 A cube, two bands, as a listing prints it: a tight-binding
// band about 5 eV and one 3 eV above it.
std::string listing() {
    std::string text = " a listing for the hosts\n Dimension of arrays:\n"
                       "   k-points           NKPTS =      8   k-points in BZ     NKDIM =      8   number of bands    NBANDS=      2\n"
                       "\n      direct lattice vectors                 reciprocal lattice vectors\n"
                       "     3.000000000  0.000000000  0.000000000     0.333333333  0.000000000  0.000000000\n"
                       "     0.000000000  3.000000000  0.000000000     0.000000000  0.333333333  0.000000000\n"
                       "     0.000000000  0.000000000  3.000000000     0.000000000  0.000000000  0.333333333\n"
                       "\n E-fermi :   5.0000     XC(G=0): -10.2373     alpha+bet :-12.9472\n\n\n";
    char line[120];
    for (int n = 0; n < 8; ++n) {
        const int i = n / 4, j = n / 2 % 2, k = n % 2;
        std::snprintf(line, sizeof line, " k-point %5d :    %10.4f%10.4f%10.4f\n  band No.  band energies     occupation \n",
                      n + 1, i / 2.0, j / 2.0, k / 2.0);
        text += line;
        const double e = 5.0 - 0.9 * ((1 - 2 * i) + (1 - 2 * j) + (1 - 2 * k));
        for (int b = 0; b < 2; ++b) {
            std::snprintf(line, sizeof line, "%7d%13.4f%13.5f\n", b + 1, e + 3 * b, e + 3 * b < 5 ? 2.0 : 0.0);
            text += line;
        }
        text += "\n";
    }
    return text + std::string(80, '-') + "\n";
}

const char* name_of(bandcut::route how) {
    switch (how) {
    case bandcut::route::placed:
        return "placed";
    case bandcut::route::unfolded:
        return "unfolded";
    case bandcut::route::listing_order:
        return "listing order";
    case bandcut::route::refused:
        break;
    }
    return "refused";
}

void report(const bandcut::cut_result& r) {
    std::printf("ok %d, %s, ef %.9g, listing %.9g\n", r.ok(), name_of(r.how()), static_cast<double>(r.ef()),
                static_cast<double>(r.listing_ef()));
    for (const auto& m : r.said())
        std::printf("[%d %s line %ld] %s\n", static_cast<int>(m.what), bandcut::reason_name(m.why), m.line, m.text.c_str());
}

}  // namespace

int main() {
    const bandcut::grid g{2, 2, 2};
    const std::string text = listing();
    const bandcut::cut_result r = bandcut::cut_buffer(text.data(), text.size(), "OUTCAR", g, 5.2f);
    report(r);
    if (!r.ok()) return 1;
    std::printf("%d spin component(s), %d bands, %lld points; selected:", r.nspin(), r.nbands(),
                static_cast<long long>(r.mesh().points()));
    for (const auto b : r.selected()) std::printf(" %lld", static_cast<long long>(b));
    const auto v = r.velocity(0, 0, 1);
    std::printf("\nE(0, 1, 5) %.9g, v(0, 0, 1) %.17g %.17g %.17g m/s, b1 %.17g\n", static_cast<double>(r.energy(0, 1, 5)),
                v[0], v[1], v[2], r.reciprocal()[0][0]);
    if (!r.write_bandgrid(stdout)) return 1;
    // The listing's own Fermi energy; a listing cut short, refused naming its line; no listing.
    report(bandcut::cut_buffer(text.data(), text.size(), "OUTCAR", g, std::nullopt));
    report(bandcut::cut_buffer(text.data(), 700, "OUTCAR", g, 5.2f));
    report(bandcut::cut_buffer(text.data(), 0, "OUTCAR", g, 5.2f));
    return 0;
}
