#include "bandgrid.hpp"

#include "block_writer.hpp"
#include "columns.hpp"
#include "convert.hpp"

#include <algorithm>
#include <cmath>
#include <charconv>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>
#include <vector>

namespace bandcut {

namespace {

void write_head(block_writer& w, const listing& bands, float ef, const grid& g, std::size_t nsel) {
    w.text("BEGIN_INFO\n  Fermi Energy: ");
    w.real(ef, 5, 7);
    w.text("\nEND_INFO\n\nBEGIN_BLOCK_BANDGRID_3D\n  one_word_comment \n  BEGIN_BANDGRID_3D\n  ");
    w.integer(static_cast<std::int64_t>(nsel));
    w.text(" \n");
    for (std::int32_t d : {g.nkx, g.nky, g.nkz}) {
        w.text(" ");
        w.integer(std::int64_t{d} + 1);  // the closed grid's count: 2^31 for the largest d
    }
    w.text(" \n 0 0 0\n");
    for (const vec3& b : bands.reciprocal) {
        for (float c : b) {
            w.text(" ");
            w.real(c);
        }
        w.text(" \n");
    }
}

// One band section; false once a write has failed.
bool write_band(block_writer& w, std::int64_t band, const float* column, const grid& g,
                const grid_source& values) {
    const auto value = [&](std::int64_t n) { return grid_value(column, values, n); };
    w.text(" BAND: ");
    w.integer(band + 1);
    w.text(" \n");
    // ix runs over 0..nkx, the last plane repeating the first; likewise iy and iz.
    for (std::int64_t ix = 0; ix <= g.nkx; ++ix) {
        const std::int64_t mx = ix == g.nkx ? 0 : ix;
        for (std::int64_t iy = 0; iy <= g.nky; ++iy) {
            const std::int64_t row = (mx * g.nky + (iy == g.nky ? 0 : iy)) * g.nkz;
            for (std::int64_t iz = 0; iz <= g.nkz; ++iz) w.grid_value(value(row + (iz == g.nkz ? 0 : iz)));
            w.text("\n");
            if (!w.ok()) return false;  // a full disk: stop at once
        }
        w.text("\n");
    }
    return true;
}

}  // namespace

bool write_bandgrid(std::FILE* out, const listing& bands, float ef, const grid& g, std::span<const std::int64_t> nstore,
                    grid_source values, const write_options& options) {
    block_writer w(out, options.block);
    write_head(w, bands, ef, g, nstore.size());
    // In listing order only the first nkx * nky * nkz k-points are written; a map may take
    // any k-point, and where it swaps spin components, any of their other component.
    const std::size_t used = entries_used(bands, g, values);
    const std::size_t group = bands_per_gather(nstore.size(), used, options.gather);
    const auto columns = column_room(nstore.empty() ? 0 : group * used);
    for (std::size_t first = 0; first < nstore.size(); first += group) {
        const auto these = nstore.subspan(first, std::min(group, nstore.size() - first));
        gather_columns(bands, these, used, columns.get());
        for (std::size_t j = 0; j < these.size(); ++j)
            if (!write_band(w, these[j], columns.get() + j * used, g, values)) return false;
    }
    w.text("  END_BANDGRID_3D\nEND_BLOCK_BANDGRID_3D\n");
    return w.flush() && std::fflush(out) == 0;
}

}  // namespace bandcut
