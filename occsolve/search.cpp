// The core: the plain count, the Fermi-level search and its accelerated decisions.
#include "detail/approximate.hpp"
#include "detail/bounds.hpp"
#include "detail/near_states.hpp"
#include "detail/occupation.hpp"
#include "detail/search.hpp"
#include "detail/survey.hpp"
#include "occsolve/core.hpp"
#include "occsolve/params.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cmath>
#include <limits>
#include <new>
#include <optional>

namespace occsolve {

namespace {

using detail::occupation;

constexpr double infinity = std::numeric_limits<double>::infinity();

// The count in the documented order: bands within a k-point, then k-points, then spins.
double plain_count(band_view v, occupation kernel, double level) noexcept {
    constexpr std::int32_t held = 16;
    if (v.nspin <= held) {
        std::array<double, held> occ{}, nel{};
        for (std::int32_t k = 0; k < v.nk; ++k) {
            std::fill_n(occ.begin(), v.nspin, 0.0);
            const double* e = v.energy + k * v.kpoint_stride;
            for (std::int32_t b = 0; b < v.nband; ++b, e += v.band_stride)
                for (std::int32_t s = 0; s < v.nspin; ++s) occ[static_cast<std::size_t>(s)] += kernel(e[s], level);
            for (std::int32_t s = 0; s < v.nspin; ++s) nel[static_cast<std::size_t>(s)] += occ[static_cast<std::size_t>(s)] * v.weight[k];
        }
        double total = 0;
        for (std::int32_t s = 0; s < v.nspin; ++s) total += nel[static_cast<std::size_t>(s)];
        return total;
    }
    // Many channels: one at a time, which forms each channel's sums in the same order.
    double total = 0;
    for (std::int32_t s = 0; s < v.nspin; ++s) {
        double nel = 0;
        for (std::int32_t k = 0; k < v.nk; ++k) {
            double occ = 0;
            for (std::int32_t b = 0; b < v.nband; ++b) occ += kernel(v.energy[s + b * v.band_stride + k * v.kpoint_stride], level);
            nel += occ * v.weight[k];
        }
        total += nel;
    }
    return total;
}

occupation kernel_for(band_view v, double temperature) noexcept {
    return {params::kB * temperature, detail::full_occupation(v.nspin)};
}

// What one pass learnt at its level: the exact count, or only the side of the target it
// lies on (and that it lies beyond the tolerance).
struct verdict {
    enum { exact, above, below } kind;
    double total;
};

// The accelerated decisions.  One survey of the energies; then Newton's method on the
// approximate count, whose error bound decides whole ranges of levels at once (bounds.hpp,
// 4); only the levels left between those ranges need the exact count, over the states
// near them.  Exact counts decide ranges of levels too.
class accelerated {
public:
    // Worth it for detail::accelerated_from states or more (any number when forced), with kT > 0 and
    // bands few enough that a run of full states sums exactly (first * g, first < 2^29).
    static bool suits(band_view v, occupation kernel, detail::search_options::path use) noexcept {
        using path = detail::search_options::path;
        const double states = static_cast<double>(v.nspin) * v.nband * v.nk;
        if (use == path::plain || states == 0) return false;
        if (use == path::automatic && states < detail::accelerated_from) return false;
        return kernel.kT > 0 && kernel.kT < infinity && v.nband < (1 << 29);
    }

    accelerated(band_view v, occupation kernel, double target, double tolerance)
        : v_(v), kernel_(kernel), survey_(v, kernel), target_(target), tolerance_(tolerance),
          exact_error_(detail::error_of_count(detail::term_rho, static_cast<double>(v.nband) + v.nk + v.nspin,
                                              survey_.g_weight())),
          rule_(target, tolerance, exact_error_) {}

    bool ok() const noexcept { return survey_.ok(); }

    // The verdict at `level`, a level of [lo, hi] (either order), every later level of the
    // search lying there too.  Throws std::bad_alloc when the near states cannot be had.
    verdict decide(double level, double lo, double hi, detail::search_report& r) {
        if (!std::isfinite(level)) {
            ++r.plain;  // the error bounds are for finite levels
            return {verdict::exact, plain_count(v_, kernel_, level)};
        }
        if (auto known = from_bounds(level, r)) return *known;

        if (!near_) {
            // The first level the search tries: Newton's method narrows the levels left
            // undecided to a few kT around the Fermi level, then the near states are
            // those of that window.
            // A bracket may have infinite ends (the plain search then tries them as the
            // midpoint overflows); the window and Newton's probes need finite ones, and the
            // largest doubles hold every level a finite count can need.
            const double a = std::max(std::min(lo, hi), -std::numeric_limits<double>::max());
            const double b = std::min(std::max(lo, hi), std::numeric_limits<double>::max());
            near_.emplace(v_, kernel_, survey_);
            newton(guess(a, b), a, b, r);
            const double wlo = std::max(a, below_up_to_), whi = std::min(b, above_from_);
            if (wlo <= whi) near_->place(wlo, whi);
            if (auto known = from_bounds(level, r)) return *known;
        }
        const double total = near_->exact_count(level);
        ++r.exact_counts;
        ++r.exact;
        learn(level, total, exact_error_, &detail::search_report::exact);
        return {verdict::exact, total};
    }

private:
    // Levels up to below_up_to_ have an exact count below the target by more than the
    // tolerance, levels from above_from_ on one above it; *_source_ says which counter
    // the evaluation that proved it feeds.
    std::optional<verdict> from_bounds(double level, detail::search_report& r) const {
        if (level <= below_up_to_) {
            ++(r.*below_source_);
            return verdict{verdict::below, 0};
        }
        if (level >= above_from_) {
            ++(r.*above_source_);
            return verdict{verdict::above, 0};
        }
        return std::nullopt;
    }

    void learn(double level, double count, detail::count_error error, std::int64_t detail::search_report::*source) {
        if (level > below_up_to_ && rule_.below_up_to(count, error)) {
            below_up_to_ = level;
            below_source_ = source;
        }
        if (level < above_from_ && rule_.above_from(count, error)) {
            above_from_ = level;
            above_source_ = source;
        }
    }

    // A first guess at the Fermi level, for the first probe: the level of [a, b] at which a
    // sample of about 256 k-points holds the target at zero temperature, bisected to a kT.
    // Nothing is decided by it; a good guess only saves probes.
    double guess(double a, double b) const noexcept {
        const std::int32_t step = std::max(1, v_.nk / 256);
        double sampled = 0, all = 0;
        for (std::int32_t k = 0; k < v_.nk; ++k) {
            all += v_.weight[k];
            if (k % step == 0) sampled += v_.weight[k];
        }
        if (!(sampled > 0)) return a / 2 + b / 2;
        const auto count = [&](double level) {
            double c = 0;
            for (std::int32_t k = 0; k < v_.nk; k += step)
                for (std::int32_t s = 0; s < v_.nspin; ++s) {
                    const double* e = v_.energy + s + k * v_.kpoint_stride;
                    std::int32_t below = 0;
                    if (survey_.ascending(static_cast<std::size_t>(k) * static_cast<std::size_t>(v_.nspin) +
                                          static_cast<std::size_t>(s))) {
                        for (std::int32_t hi = v_.nband; below < hi;) {
                            const std::int32_t mid = below + (hi - below) / 2;
                            if (e[mid * v_.band_stride] < level) {
                                below = mid + 1;
                            } else {
                                hi = mid;
                            }
                        }
                    } else {
                        for (std::int32_t band = 0; band < v_.nband; ++band) below += e[band * v_.band_stride] < level;
                    }
                    c += v_.weight[k] * below;
                }
            return c * kernel_.g * all / sampled;
        };
        for (int i = 0; i < 64 && b - a > kernel_.kT; ++i) {
            const double m = a / 2 + b / 2;
            (count(m) < target_ ? a : b) = m;
        }
        return a / 2 + b / 2;
    }

    // Safeguarded Newton steps on the approximate count, from `start`: each probe lies
    // strictly inside the range of levels of [a, b] not yet decided (its midpoint when
    // Newton's step would leave it), and is aimed a little past the root on the side the
    // last probe was not, so that successive probes decide both sides.  Stops when the
    // undecided range is a few times the width the counts' uncertainty allows, or after
    // max_probes.
    void newton(double start, double a, double b, detail::search_report& r) {
        constexpr int max_probes = 12;
        double p = start;
        for (int probe = 0; probe < max_probes; ++probe) {
            double x = std::max(a, below_up_to_), y = std::min(b, above_from_);
            if (!(p > x && p < y)) p = x / 2 + y / 2;
            if (!(p > x && p < y)) return;  // no double left between them
            near_->place(p, p, detail::near_states::cut::approximate);
            const auto ap = detail::approximate_count(*near_, kernel_, p, survey_.g_weight());
            ++r.approximations;
            learn(p, ap.count, ap.error, &detail::search_report::approximate);
            x = std::max(a, below_up_to_);
            y = std::min(b, above_from_);
            const double uncertainty = tolerance_ +
                                       std::fabs(ap.count) * (ap.error.relative + exact_error_.relative) +
                                       ap.error.absolute + exact_error_.absolute;
            const double h = 2 * uncertainty / ap.slope;  // the level's uncertainty, eV
            if (!(ap.slope > 0) || !std::isfinite(h)) {
                p = std::numeric_limits<double>::quiet_NaN();  // the midpoint next
                continue;
            }
            if (y - x <= 4 * h) return;
            const double root = p + (target_ - ap.count) / ap.slope;
            p = ap.count > target_ ? root - h : root + h;
        }
    }

    band_view v_;
    occupation kernel_;
    detail::energy_survey survey_;
    double target_, tolerance_;
    detail::count_error exact_error_;
    detail::decision_rule rule_;
    std::optional<detail::near_states> near_;
    double below_up_to_ = -infinity, above_from_ = infinity;
    std::int64_t detail::search_report::*below_source_ = &detail::search_report::exact;
    std::int64_t detail::search_report::*above_source_ = &detail::search_report::exact;
};

}  // namespace

bool readable(band_view v) noexcept {
    if (v.nspin < 1 || v.nband < 0 || v.nk < 0) return false;
    if (v.nk > 0 && !v.weight) return false;
    if (v.nk == 0 || v.nband == 0) return true;  // no energy is read
    if (!v.energy || v.band_stride < v.nspin) return false;
    return v.band_stride <= std::numeric_limits<std::int64_t>::max() / v.nband &&
           v.kpoint_stride >= v.band_stride * v.nband;
}

bool view_of_array(std::int32_t nspin, std::int32_t nband, std::int32_t nk, const std::int64_t extent[3],
                   const double* energy, const double* weight, band_view& out) noexcept {
    band_view v{nspin, nband, nk, nullptr, 0, 0, weight};
    if (nspin >= 1 && nband > 0 && nk > 0) {  // the energies are read
        const std::int64_t s = extent[0], bands = extent[1], k = extent[2];
        constexpr auto most = static_cast<std::int64_t>(PTRDIFF_MAX / sizeof(double));
        if (s < nspin || bands < nband || k < nk || s > most / bands || s * bands > most / k) return false;
        v.energy = energy;
        v.band_stride = s;
        v.kpoint_stride = s * bands;
    }
    if (!readable(v)) return false;
    out = v;
    return true;
}

double electron_count(band_view v, double temperature, double level) noexcept {
    return plain_count(v, kernel_for(v, temperature), level);
}

namespace {

// The accelerated path for this search, if it suits the input and its tables can be had:
// short of memory for them, the plain count carries on with the same results.
std::optional<accelerated> accelerated_path(band_view v, occupation kernel, double electrons,
                                            detail::search_options options) noexcept {
    std::optional<accelerated> fast;
    try {
        if (accelerated::suits(v, kernel, options.use)) {
            if (options.fail_allocation) throw std::bad_alloc();
            fast.emplace(v, kernel, electrons, params::tolerance);
            if (!fast->ok()) fast.reset();
        }
    } catch (const std::bad_alloc&) {
        fast.reset();
    }
    return fast;
}

// What the pass at `level` learns: from the accelerated path while it can serve (it is
// dropped when its near states cannot be had), else from the plain count.
verdict learn_at(double level, double lo, double hi, std::optional<accelerated>& fast, band_view v,
                 occupation kernel, detail::search_report& r) noexcept {
    if (fast) {
        try {
            return fast->decide(level, lo, hi, r);
        } catch (const std::bad_alloc&) {
            fast.reset();
        }
    }
    ++r.plain;
    return {verdict::exact, plain_count(v, kernel, level)};
}

}  // namespace

detail::search_report detail::find_level(band_view v, double temperature, double electrons, bracket b,
                                         search_options options) noexcept {
    search_report r;
    if (!readable(v) || !std::isfinite(electrons) || std::isnan(b.lo) || std::isnan(b.hi)) return r;
    const occupation kernel = kernel_for(v, temperature);
    const bool no_states = v.nk == 0 || v.nband == 0;
    std::optional<accelerated> fast = accelerated_path(v, kernel, electrons, options);
    r.accelerated = fast.has_value();

    // Termination: a pass that does not end the search sets lo or hi to its level, which
    // differs from both.  Without overflow the level lies strictly between them, so the
    // doubles between lo and hi strictly shrink; a midpoint that overflows to an infinity
    // becomes an end, and the next midpoint equals that end.  Either way the passes are
    // bounded (by about 2100: the doubles' exponent range, halved once per pass).
    double lo = b.lo, hi = b.hi;
    r.status = params::status_stalled;
    for (;;) {
        const double level = (lo + hi) * 0.5;
        r.level = level;
        ++r.passes;
        const verdict found = learn_at(level, lo, hi, fast, v, kernel, r);
        const bool exact = found.kind == verdict::exact;
        if (exact && std::fabs(found.total - electrons) < params::tolerance) {
            r.status = params::status_converged;
            break;
        }
        // A count that is not a number decides nothing.  No state: the count is 0 at every
        // level.  A level equal to an end of the bracket (or not a number) leaves it as it
        // is: no later pass could try another.
        if ((exact && std::isnan(found.total)) || no_states || std::isnan(level) || level == lo || level == hi) break;
        if (found.kind == verdict::above || (exact && found.total > electrons)) {
            hi = level;
        } else {
            lo = level;  // below, or an exact count below (one equal to the target converged)
        }
    }
    return r;
}

search_result find_level(band_view v, double temperature, double electrons, bracket b) noexcept {
    return detail::find_level(v, temperature, electrons, b, {});
}

search_result find_level(band_view v, double temperature, double electrons) noexcept {
    bracket b{params::default_emin, params::default_emax};
    find_bracket(v, temperature, b);  // leaves the default where the data has no bracket
    return detail::find_level(v, temperature, electrons, b, {});
}

bool find_bracket(band_view v, double temperature, bracket& out) noexcept {
    if (!readable(v) || v.nk == 0 || v.nband == 0 || !(temperature >= 0) || !std::isfinite(temperature))
        return false;
    double lowest = infinity, highest = -infinity;
    for (std::int32_t k = 0; k < v.nk; ++k)
        for (std::int32_t b = 0; b < v.nband; ++b)
            for (std::int32_t s = 0; s < v.nspin; ++s) {
                const double e = v.energy[s + b * v.band_stride + k * v.kpoint_stride];
                if (!std::isfinite(e)) return false;
                lowest = std::min(lowest, e);
                highest = std::max(highest, e);
            }
    // 41 kT puts every state past the cut-off at 40 kT, whatever the rounding of x; 1 meV
    // does at zero temperature (x is then infinite); the last term covers the rounding of
    // the ends themselves for energies so large that 1 meV is below their spacing.
    const double widen = std::max((params::cutoff + 1) * params::kB * temperature, 1e-3) +
                         1e-15 * std::max(std::fabs(lowest), std::fabs(highest));
    const bracket found{lowest - widen, highest + widen};
    if (!std::isfinite(found.lo) || !std::isfinite(found.hi)) return false;
    out = found;
    return true;
}

}  // namespace occsolve
