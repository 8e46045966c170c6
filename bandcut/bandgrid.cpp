#include "bandgrid.hpp"

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

// The energies of bands `these` at the entries 0 .. used-1 (a listed k-point k, or k +
// NKPTS for its spin components swapped), band j's at columns[j * used + entry]: gathered
// in one pass along the table's rows, as reading one band down the table would touch a
// cache line per k-point, all of them missing.  Placing the values on the grid then jumps
// about these columns instead.
void gather(const listing& bands, std::span<const std::int64_t> these, std::size_t used, std::vector<float>& columns) {
    const auto nbands = static_cast<std::size_t>(bands.nbands);
    const auto nkpts = static_cast<std::size_t>(bands.nkpts);
    std::vector<const float*> same(these.size()), other(these.size());  // each band at the first k-point, either way
    for (std::size_t j = 0; j < these.size(); ++j) {
        const auto s = static_cast<std::size_t>(these[j] / bands.nbands), b = static_cast<std::size_t>(these[j] % bands.nbands);
        same[j] = bands.eband[s].get() + b;
        other[j] = used > nkpts ? bands.eband[1 - s].get() + b : nullptr;
    }
    for (std::size_t k = 0; k < std::min(used, nkpts); ++k)
        for (std::size_t j = 0; j < these.size(); ++j) columns[j * used + k] = same[j][k * nbands];
    for (std::size_t k = nkpts; k < used; ++k)
        for (std::size_t j = 0; j < these.size(); ++j) columns[j * used + k] = other[j][(k - nkpts) * nbands];
}

// One band section; false once a write has failed.
bool write_band(block_writer& w, std::int64_t band, const float* column, const grid& g,
                std::span<const std::int32_t> kpoint_at) {
    const auto value = [&](std::int64_t n) {
        return column[kpoint_at.empty() ? static_cast<std::size_t>(n) : static_cast<std::size_t>(kpoint_at[static_cast<std::size_t>(n)])];
    };
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
    const auto kpoint_at = values.kpoint_at;
    block_writer w(out, options.block);
    write_head(w, bands, ef, g, nstore.size());
    // In listing order only the first nkx * nky * nkz k-points are written; a map may take
    // any k-point, and where it swaps spin components, any of their other component.
    const std::size_t used = kpoint_at.empty() ? static_cast<std::size_t>(g.points())
                             : static_cast<std::size_t>(bands.nkpts) * (values.swaps ? 2 : 1);
    const std::size_t group = std::max<std::size_t>(
        1, std::min(nstore.size(), options.gather / (sizeof(float) * std::max<std::size_t>(used, 1))));
    std::vector<float> columns(nstore.empty() ? 0 : group * used);
    for (std::size_t first = 0; first < nstore.size(); first += group) {
        const auto these = nstore.subspan(first, std::min(group, nstore.size() - first));
        gather(bands, these, used, columns);
        for (std::size_t j = 0; j < these.size(); ++j)
            if (!write_band(w, these[j], columns.data() + j * used, g, kpoint_at)) return false;
    }
    w.text("  END_BANDGRID_3D\nEND_BLOCK_BANDGRID_3D\n");
    return w.flush() && std::fflush(out) == 0;
}

}  // namespace bandcut
