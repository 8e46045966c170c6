#include "bandgrid.hpp"

#include "convert.hpp"

#include <algorithm>
#include <cmath>
#include <charconv>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>

namespace bandcut {

std::int64_t grid::points() const {
    if (nkx <= 0 || nky <= 0 || nkz <= 0) return 0;
    const std::int64_t plane = std::int64_t{nkx} * nky;  // below 2^62
    constexpr std::int64_t most = std::numeric_limits<std::int64_t>::max();
    return plane > most / nkz ? most : plane * nkz;
}

namespace {

// Calls f(row) for the band energies of each k-point that counts.
template <class F>
void each_kpoint(const listing& bands, int spin, std::span<const std::int32_t> kpoints, F f) {
    const float* table = bands.eband[static_cast<std::size_t>(spin)].get();
    const auto nbands = static_cast<std::size_t>(bands.nbands);
    if (kpoints.empty()) {
        for (std::int32_t k = 0; k < bands.nkpts; ++k) f(table + static_cast<std::size_t>(k) * nbands);
    } else {
        for (const std::int32_t k : kpoints) f(table + static_cast<std::size_t>(k) * nbands);
    }
}

}  // namespace

std::vector<std::int64_t> select_bands(const listing& bands, float ef, std::span<const std::int32_t> kpoints) {
    // The sentinels are +-10000 eV, not the largest float: a band lying wholly above
    // 10000 eV (or below -10000 eV) is never selected, as it never was.  With no
    // k-point no band can cross, whatever NBANDS says: nothing is allocated for it.
    if (bands.nkpts == 0) return {};
    const auto nbands = static_cast<std::size_t>(bands.nbands);
    std::vector<std::int64_t> nstore;
    std::vector<float> lo(nbands), hi(nbands);
    for (int s = 0; s < bands.nspin; ++s) {
        std::fill(lo.begin(), lo.end(), 10000.0f);
        std::fill(hi.begin(), hi.end(), -10000.0f);
        each_kpoint(bands, s, kpoints, [&](const float* row) {
            // Written so as to compile to vector minimum and maximum, which keep the
            // running value when e is not a number, as the comparisons do.
            for (std::size_t b = 0; b < nbands; ++b) {
                const float e = row[b];
                lo[b] = e < lo[b] ? e : lo[b];
                hi[b] = e > hi[b] ? e : hi[b];
            }
        });
        for (std::size_t b = 0; b < nbands; ++b)
            if (hi[b] > ef && lo[b] < ef) nstore.push_back(std::int64_t{s} * bands.nbands + static_cast<std::int64_t>(b));
    }
    return nstore;
}

std::string no_crossing_warning(const listing& bands, float ef, std::span<const std::int32_t> kpoints) {
    if (bands.nkpts == 0 || bands.nbands == 0 || std::isnan(ef)) return {};
    // The true extremes of each band (not-a-number values left out): the band maximum
    // nearest below Ef, the band minimum nearest above.  A band touching Ef lies on the
    // side of its other values.
    struct edge {
        float value;
        std::int64_t band = -1;  // counting from 0 across spin components
    };
    edge below{-std::numeric_limits<float>::infinity()}, above{std::numeric_limits<float>::infinity()};
    const auto nbands = static_cast<std::size_t>(bands.nbands);
    std::vector<float> lo(nbands), hi(nbands);
    for (int s = 0; s < bands.nspin; ++s) {
        std::fill(lo.begin(), lo.end(), std::numeric_limits<float>::infinity());
        std::fill(hi.begin(), hi.end(), -std::numeric_limits<float>::infinity());
        each_kpoint(bands, s, kpoints, [&](const float* row) {
            for (std::size_t b = 0; b < nbands; ++b) {
                lo[b] = std::min(lo[b], row[b]);  // a NaN in row[b] leaves lo[b] as it was
                hi[b] = std::max(hi[b], row[b]);
            }
        });
        for (std::size_t b = 0; b < nbands; ++b) {
            if (lo[b] > hi[b]) continue;  // no value that is a number
            const std::int64_t band = std::int64_t{s} * bands.nbands + static_cast<std::int64_t>(b);
            if (hi[b] <= ef) {
                if (hi[b] > below.value || below.band < 0) below = {hi[b], band};
            } else if (lo[b] < above.value || above.band < 0) {
                above = {lo[b], band};
            }
        }
    }
    char line[200];
    const auto e = [](float v) { return static_cast<double>(v); };
    const auto number = [](const edge& x) { return static_cast<long long>(x.band + 1); };
    if (below.band >= 0 && above.band >= 0) {
        std::snprintf(line, sizeof line,
                      "bandcut: warning: no band crosses Ef = %f: the bands below end at %f (band %lld), "
                      "the bands above begin at %f (band %lld)\n",
                      e(ef), e(below.value), number(below), e(above.value), number(above));
    } else if (above.band >= 0) {
        std::snprintf(line, sizeof line, "bandcut: warning: all bands lie above Ef = %f: the lowest begins at %f (band %lld)\n",
                      e(ef), e(above.value), number(above));
    } else if (below.band >= 0) {
        std::snprintf(line, sizeof line, "bandcut: warning: all bands lie below Ef = %f: the highest ends at %f (band %lld)\n",
                      e(ef), e(below.value), number(below));
    } else {
        return {};
    }
    return line;
}

namespace {

// Formats into a large block and hands it to the stream whole: printf per value is the
// slow part of writing millions of energies.  Once a write has failed, nothing more is
// written (ok() says so, and the caller stops).
class block_writer {
public:
    block_writer(std::FILE* out, std::size_t capacity)
        : out_(out), capacity_(std::max<std::size_t>(capacity, 1)), buffer_(new char[capacity_]) {}
    ~block_writer() { flush(); }

    void text(std::string_view s) {
        while (!s.empty()) {
            if (used_ == capacity_) flush();
            const std::size_t n = std::min(s.size(), capacity_ - used_);
            std::memcpy(buffer_.get() + used_, s.data(), n);
            used_ += n;
            s.remove_prefix(n);
        }
    }
    void integer(std::int64_t v) {
        char digits[24];
        text({digits, static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, v).ptr - digits)});
    }
    // printf("%*.*f", width, precision, (double)v)
    void real(float v, int precision = 6, int width = 0) {
        char digits[max_real_chars + 16];
        const auto length = static_cast<std::size_t>(format_real(digits, v, precision) - digits);
        for (auto pad = static_cast<std::size_t>(width); pad > length; --pad) text(" ");
        text({digits, length});
    }
    // "  %f  " of v: written straight into the block where it has room, the millions of
    // grid values needing no copy.  A block too small for any value (tests make them so)
    // takes the piecewise way, which gives the same bytes.
    void grid_value(float v) {
        constexpr std::size_t most = 2 + max_real_chars + 6 + 2;
        if (capacity_ - used_ < most) flush();
        if (capacity_ - used_ < most) {
            text("  ");
            real(v);
            text("  ");
            return;
        }
        char* const start = buffer_.get() + used_;
        std::memcpy(start, "  ", 2);
        char* end = format_real(start + 2, v, 6);
        std::memcpy(end, "  ", 2);
        used_ += static_cast<std::size_t>(end + 2 - start);
    }
    bool flush() {
        // Some streams take a failed write whole and only set their error flag.
        if (ok_ && used_ && (std::fwrite(buffer_.get(), 1, used_, out_) != used_ || std::ferror(out_))) ok_ = false;
        used_ = 0;
        return ok_;
    }
    bool ok() const { return ok_; }

private:
    std::FILE* out_;
    std::size_t capacity_;
    std::unique_ptr<char[]> buffer_;
    std::size_t used_ = 0;
    bool ok_ = true;
};

}  // namespace

bool write_bandgrid(std::FILE* out, const listing& bands, float ef, const grid& g,
                    std::span<const std::int64_t> nstore, std::span<const std::int32_t> kpoint_at,
                    const write_options& options) {
    block_writer w(out, options.block);
    w.text("BEGIN_INFO\n  Fermi Energy: ");
    w.real(ef, 5, 7);
    w.text("\nEND_INFO\n\nBEGIN_BLOCK_BANDGRID_3D\n  one_word_comment \n  BEGIN_BANDGRID_3D\n  ");
    w.integer(static_cast<std::int64_t>(nstore.size()));
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

    // The selected bands' energies are first gathered in listing order, as many bands at
    // a time as `gather` bytes hold, in one pass along the table's rows: reading one band
    // down the table would touch a cache line per k-point, all of them missing.  Placing
    // the values on the grid then jumps about these columns instead.
    const auto nbands = static_cast<std::size_t>(bands.nbands);
    // Placed k-points may come from anywhere in the listing; in listing order only the
    // first nkx * nky * nkz are written.
    const auto used = kpoint_at.empty() ? static_cast<std::size_t>(g.points()) : static_cast<std::size_t>(bands.nkpts);
    const std::size_t group =
        std::clamp<std::size_t>(options.gather / (sizeof(float) * std::max<std::size_t>(used, 1)), 1, nstore.size());
    std::vector<float> columns(nstore.empty() ? 0 : group * used);
    std::vector<const float*> firsts(std::min(group, nstore.size()));  // each band's value at the first k-point
    for (std::size_t first = 0; first < nstore.size(); first += group) {
        const auto these = nstore.subspan(first, std::min(group, nstore.size() - first));
        for (std::size_t j = 0; j < these.size(); ++j)
            firsts[j] = bands.eband[static_cast<std::size_t>(these[j] / bands.nbands)].get() + these[j] % bands.nbands;
        for (std::size_t k = 0; k < used; ++k)
            for (std::size_t j = 0; j < these.size(); ++j) columns[j * used + k] = firsts[j][k * nbands];
        for (std::size_t j = 0; j < these.size(); ++j) {
            const float* column = columns.data() + j * used;
            const auto value = [&](std::int64_t n) {
                return column[kpoint_at.empty() ? static_cast<std::size_t>(n)
                                                : static_cast<std::size_t>(kpoint_at[static_cast<std::size_t>(n)])];
            };
            w.text(" BAND: ");
            w.integer(these[j] + 1);
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
        }
    }
    w.text("  END_BANDGRID_3D\nEND_BLOCK_BANDGRID_3D\n");
    return w.flush() && std::fflush(out) == 0;
}

}  // namespace bandcut
