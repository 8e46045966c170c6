// Any bytes as "OUTCAR", after four bytes that choose the grid and Ef: the reader either
// fails with a message or fills a listing that placement or unfolding, the selection and
// the closed-grid writer then walk whole, with small buffers so that the growth and flush
// paths run too.  No crash, no hang, no read out of bounds.
#include "bandgrid.hpp"
#include "listing.hpp"
#include "unfolding.hpp"

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
    bandcut::listing bands;
    const auto failure = bandcut::read_listing(in, ef, nullptr, bands, {buffer});
    std::fclose(in);
    if (failure) return 0;
    const auto map = bandcut::map_grid(bands, g);
    if (!map.refused.empty()) return 0;
    const auto nstore = bandcut::select_bands(bands, ef, map.counted);
    if (nstore.empty()) bandcut::no_crossing_warning(bands, ef, map.counted);
    bandcut::write_bandgrid(sink, bands, ef, g, nstore, map.kpoint_at, {buffer});
    return 0;
}
