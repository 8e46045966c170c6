// Any bytes as "OUTCAR", after four bytes that choose the grid and Ef: the same one call
// the program makes (bandcut::cut), then the writers, the sheets' numbers and the contours'
// picture on what it gives, with small buffers so that the growth and flush paths run too.  No crash, no
// hang, no read out of bounds.
#include "bandgrid.hpp"
#include "contours.hpp"
#include "cut_state.hpp"
#include "frmsf.hpp"
#include "sheets.hpp"
#include "svg.hpp"

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    static std::FILE* sink = std::fopen("/dev/null", "w");
    const bandcut::grid g{1 + data[0] % 8, 1 + data[1] % 8, 1 + data[2] % 8};
    const float ef = static_cast<std::int8_t>(data[3]) / 8.0f;
    const std::size_t buffer = 64 + data[3] % 64;
    std::FILE* in = fmemopen(const_cast<std::uint8_t*>(data + 4), size - 4, "r");
    if (!in) return 0;
    bandcut::cut_options options;
    options.read.buffer = buffer;
    options.read.first_table = 1 + data[3] % 7;
    const auto r = bandcut::run_cut(in, "OUTCAR", g, ef, options);
    std::fclose(in);
    if (!r.ok) return 0;
    bandcut::write_bandgrid(sink, r.bands, r.ef, r.g, r.selected, r.values(), {buffer});
    bandcut::write_frmsf(sink, r.bands, r.ef, r.g, r.selected, r.values(), r.shift, {buffer, buffer});
    if (!bandcut::sheets_fault(r)) {
        bandcut::sheets_at(r, r.ef);
        bandcut::level_for(r, bandcut::electrons_below(r, r.ef).electrons);
    }
    if (!bandcut::contours_fault(r, 0)) bandcut::write_svg(sink, bandcut::contours_of(r, r.ef, 0), r.g);
    return 0;
}
