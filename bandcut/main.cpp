// bandcut nkx nky nkz Ef
//
// Run in the folder of a finished band-structure calculation: reads the listing
// "OUTCAR", keeps the bands that cross the Fermi energy Ef (eV) and writes their energies
// over the nkx x nky x nkz k-point grid to the band-grid file "FS.bsxf".  Everything it
// says goes to standard output; the status is 0 only when "FS.bsxf" was written.
#include "bandgrid.hpp"
#include "convert.hpp"
#include "listing.hpp"
#include "outfile.hpp"
#include "placement.hpp"

#include <cstdio>
#include <cstdlib>
#include <limits>
#include <new>

namespace {

// Like atoi: leading blanks, an optional sign, digits; anything else converts to 0.
// Values beyond the 32-bit range are clamped rather than wrapped.
std::int32_t to_dimension(const char* text) {
    const long value = std::strtol(text, nullptr, 10);
    constexpr long lo = std::numeric_limits<std::int32_t>::min();
    constexpr long hi = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(value < lo ? lo : value > hi ? hi : value);
}

int run(int argc, char** argv) {
    using namespace bandcut;
    if (argc <= 4) {
        std::puts("should be like: ");
        std::puts("./a.out nkx nky nkz Ef ");
        return 1;
    }
    const grid g{to_dimension(argv[1]), to_dimension(argv[2]), to_dimension(argv[3])};
    // Like atof, then narrowed: every later comparison and printout uses the float.
    const float ef = narrow(std::strtod(argv[4], nullptr));

    std::FILE* in = std::fopen("OUTCAR", "r");
    if (!in) {
        std::puts("cant open OUTCAR");
        return 1;
    }
    listing bands;
    const auto failure = read_listing(in, ef, stdout, bands);
    std::fclose(in);
    if (failure) {
        if (failure->line > 0) {
            std::printf("OUTCAR:%ld: %s\n", failure->line, failure->what.c_str());
        } else {
            std::printf("OUTCAR: %s\n", failure->what.c_str());  // e.g. a folder of that name
        }
        return 1;
    }
    if (g.points() > bands.nkpts) {
        std::printf("OUTCAR:%ld: the grid %d x %d x %d needs %lld k-points but the listing has %d (NKPTS)\n",
                    bands.counts_line, g.nkx, g.nky, g.nkz, static_cast<long long>(g.points()), bands.nkpts);
        return 1;
    }

    const auto nstore = select_bands(bands, ef);
    const auto kpoint_at = place_on_grid(bands, g, stderr);

    replacement_file out("FS.bsxf");
    if (!out.open()) {
        std::puts("can't create fout: FS.bsxf");
        return 1;
    }
    const bool written = write_bandgrid(out.stream(), bands, ef, g, nstore, kpoint_at);
    switch (written ? out.commit() : replacement_file::outcome::write_failed) {
    case replacement_file::outcome::replaced:
        return 0;
    case replacement_file::outcome::rename_failed:
        std::puts("can't create fout: FS.bsxf");
        return 1;
    case replacement_file::outcome::write_failed:
        break;
    }
    std::puts("FS.bsxf: write error (disk full?); the previous FS.bsxf is left as it was");
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::puts("bandcut: out of memory");
        return 1;
    }
}
