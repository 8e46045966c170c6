// The states that matter for a window of levels [wlo, whi], as index ranges into the
// caller's energies (no copy): in each group (k-point, spin) the states before `first`
// are full at every level of the window (x~ < -40 at wlo, so at every higher level, the
// rounded x~ falling as the level rises), the states from `last` on are empty at every
// level of it (x~ > 40 at whi), and the states between are evaluated.  For the
// approximate count the cut lies at 30 kT instead: beyond it a state is within
// e^-30 g of full or empty (bounds.hpp, 1b), and a quarter fewer states are evaluated.
//
// The exact count over these ranges equals the plain count bit for bit at any level of
// the window: the plain sum of a group starts 0 + g + g + ... over its leading full
// states, which is exactly first * g (g is a float and first < 2^29, so every partial sum
// is exact in double); it goes on in band order over the range with the same kernel; the
// states after the range add 0.0, which changes no sum.  The k-point and spin sums are
// then formed in the documented order.
#pragma once

#include "detail/survey.hpp"
#include "detail/occupation.hpp"
#include "occsolve/core.hpp"

#include <cstdint>
#include <vector>

namespace occsolve::detail {

class near_states {
public:
    // Every state of every group, until `place` is called.  Throws std::bad_alloc.
    near_states(band_view v, occupation kernel, const energy_survey& order);

    // The ranges for the window [wlo, whi], cut at 40 kT as the exact count needs, or at
    // 30 kT for the approximate count.  Groups whose bands ascend are cut by bisection
    // (at first) or by galloping from the previous cut (successive windows of a search
    // lie close together), the others by a scan from each end.
    enum class cut { exact, approximate };
    void place(double wlo, double whi, cut at = cut::exact);

    // The exact count at `level`, a level of the window.
    double exact_count(double level) const;

    std::int32_t nk() const noexcept { return v_.nk; }
    std::int32_t nspin() const noexcept { return v_.nspin; }
    // The range of group (k-point k, spin s), numbered k * nspin + s.
    std::int32_t first(std::size_t group) const noexcept { return first_[group]; }
    std::int32_t last(std::size_t group) const noexcept { return last_[group]; }
    const double* group_energy(std::size_t group) const noexcept {
        const auto k = static_cast<std::int64_t>(group / static_cast<std::size_t>(v_.nspin));
        const auto s = static_cast<std::int64_t>(group % static_cast<std::size_t>(v_.nspin));
        return v_.energy + s + k * v_.kpoint_stride;
    }
    std::int64_t band_stride() const noexcept { return v_.band_stride; }
    double weight(std::int32_t k) const noexcept { return v_.weight[k]; }

    // States in all ranges: what an evaluation over them costs.
    std::int64_t size() const noexcept;

    // Asks the processor to fetch a group's states in range ahead of their use.
    void prefetch(std::size_t group) const noexcept;

private:
    template <class Predicate>
    std::int32_t gallop(std::int32_t from, Predicate holds) const;
    template <class Full, class Empty>
    void place_with(Full full, Empty empty);

    band_view v_;
    occupation kernel_;
    std::vector<char> ascending_;
    std::vector<std::int32_t> first_, last_;
    bool placed_ = false;  // the ranges hold a window (else every group whole)
    mutable std::vector<double> nel_;  // per spin, scratch of exact_count
};

}  // namespace occsolve::detail
