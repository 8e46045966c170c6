// The public interface (include/bandcut/cut.hpp) over the run: each accessor reads the
// run's part, each entry runs run_cut().
#include <bandcut/cut.hpp>

#include "bandgrid.hpp"
#include "cut_state.hpp"

#include <cstdio>

namespace bandcut {

bool cut_result::ok() const { return run_->ok; }
bool cut_result::unreadable() const { return run_->unreadable; }
const account& cut_result::said() const { return run_->said; }
route cut_result::how() const { return run_->how; }
grid cut_result::mesh() const { return run_->g; }
float cut_result::ef() const { return run_->ef; }
float cut_result::listing_ef() const { return run_->bands.efermi; }
std::array<double, 3> cut_result::shift() const { return run_->shift; }
std::array<std::array<double, 3>, 3> cut_result::direct() const { return run_->bands.direct_double; }
std::array<std::array<double, 3>, 3> cut_result::reciprocal() const { return run_->bands.reciprocal_double; }
int cut_result::nspin() const { return run_->bands.nspin; }
std::int32_t cut_result::nbands() const { return run_->bands.nbands; }
const std::vector<std::int64_t>& cut_result::selected() const { return run_->selected; }
float cut_result::energy(int s, std::int32_t b, std::int64_t n) const { return run_->energy(s, b, n); }
std::array<double, 3> cut_result::velocity(int s, std::int32_t b, std::int64_t n) const { return run_->velocity(s, b, n); }

bool cut_result::write_bandgrid(std::FILE* out) const {
    const cut_state& r = *run_;
    return r.ok && bandcut::write_bandgrid(out, r.bands, r.ef, r.g, r.selected, r.values());
}

namespace {

cut_result shared(cut_state&& r) { return cut_result(std::make_shared<const cut_state>(std::move(r))); }

}  // namespace

cut_result cut(const std::string& path, const grid& g, std::optional<float> ef) { return shared(run_cut(path, g, ef)); }

cut_result cut(std::FILE* in, std::string_view name, const grid& g, std::optional<float> ef) {
    return shared(run_cut(in, name, g, ef));
}

cut_result cut_buffer(const char* data, std::size_t size, std::string_view name, const grid& g, std::optional<float> ef) {
    // A stream over the caller's bytes, read in place; an empty buffer is an empty stream.
    std::FILE* in = size > 0 ? fmemopen(const_cast<char*>(data), size, "r") : std::fopen("/dev/null", "r");
    if (!in) {  // short of memory or of descriptors
        cut_state r;
        r.g = g;
        r.unreadable = true;
        refuse_cannot_open(r.said, name);
        return shared(std::move(r));
    }
    cut_result r = shared(run_cut(in, name, g, ef));
    std::fclose(in);
    return r;
}

}  // namespace bandcut
