// Any bytes as "OUTCAR": the reader either fails with a message or fills a listing that
// selection and writing then walk whole.  No crash, no hang, no read out of bounds.
#include "bandgrid.hpp"
#include "listing.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static std::FILE* sink = std::fopen("/dev/null", "w");
    std::FILE* in = fmemopen(const_cast<std::uint8_t*>(data), size, "r");
    if (!in) return 0;
    bandcut::listing bands;
    const auto failure = bandcut::read_listing(in, 1.0f, sink, bands);
    std::fclose(in);
    if (failure) return 0;
    if (bands.nkpts == 0) return 0;
    const auto nstore = bandcut::select_bands(bands, 1.0f);
    const bandcut::grid g{1, 1, std::max(1, std::min(bands.nkpts, 64))};
    bandcut::write_bandgrid(sink, bands, 1.0f, g, nstore, {});
    return 0;
}
