// A host of the installed bandcut library: reads a listing held in memory through the
// public header alone, prints what the run said, the bands it chose, a few values and the
// band-grid file.  Built in the tree as the reference, and outside it against the
// installed package (CMake and pkg-config): the outputs must be the same.
#include <bandcut/cut.hpp>

#include <cstdio>
#include <cstring>

namespace {

// A full 2 x 2 x 2 mesh of a 3 A cube, two bands, as a listing prints it.
const char listing[] = R"( a listing for the hosts
 Dimension of arrays:
   k-points           NKPTS =      8   k-points in BZ     NKDIM =      8   number of bands    NBANDS=      2

      direct lattice vectors                 reciprocal lattice vectors
     3.000000000  0.000000000  0.000000000     0.333333333  0.000000000  0.000000000
     0.000000000  3.000000000  0.000000000     0.000000000  0.333333333  0.000000000
     0.000000000  0.000000000  3.000000000     0.000000000  0.000000000  0.333333333

 E-fermi :   5.0000     XC(G=0): -10.2373     alpha+bet :-12.9472


 k-point     1 :        0.0000    0.0000    0.0000
  band No.  band energies     occupation 
      1       2.3000      2.00000
      2       5.3000      0.00000

 k-point     2 :        0.0000    0.0000    0.5000
  band No.  band energies     occupation 
      1       4.1000      2.00000
      2       7.1000      0.00000

 k-point     3 :        0.0000    0.5000    0.0000
  band No.  band energies     occupation 
      1       4.1000      2.00000
      2       7.1000      0.00000

 k-point     4 :        0.0000    0.5000    0.5000
  band No.  band energies     occupation 
      1       5.9000      0.00000
      2       8.9000      0.00000

 k-point     5 :        0.5000    0.0000    0.0000
  band No.  band energies     occupation 
      1       4.1000      2.00000
      2       7.1000      0.00000

 k-point     6 :        0.5000    0.0000    0.5000
  band No.  band energies     occupation 
      1       5.9000      0.00000
      2       8.9000      0.00000

 k-point     7 :        0.5000    0.5000    0.0000
  band No.  band energies     occupation 
      1       5.9000      0.00000
      2       8.9000      0.00000

 k-point     8 :        0.5000    0.5000    0.5000
  band No.  band energies     occupation 
      1       7.7000      0.00000
      2      10.7000      0.00000

--------------------------------------------------------------------------------
)";

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
    const bandcut::cut_result r = bandcut::cut_buffer(listing, std::strlen(listing), "OUTCAR", g, 5.2f);
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
    report(bandcut::cut_buffer(listing, std::strlen(listing), "OUTCAR", g, std::nullopt));
    report(bandcut::cut_buffer(listing, 700, "OUTCAR", g, 5.2f));
    report(bandcut::cut_buffer(listing, 0, "OUTCAR", g, 5.2f));
    return 0;
}
