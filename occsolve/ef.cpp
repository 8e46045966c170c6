#include "occsolve/ef.hpp"

#include "occsolve/params.hpp"
#include "occsolve/variable.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <optional>
#include <vector>

// The search bisects on the level; each pass needs the weighted electron count at the
// trial level, and which side of totale it lies on.  Counting every state on every pass
// is the plain way (plain_count).  The accelerated way gives bit-identical results by
// doing exactly the same floating-point operations where they matter:
//
//  * Most passes only need the side of totale.  A histogram of the band energies bounds
//    the count from below and above without evaluating a single state (a state more
//    than 40 kT below the level holds exactly g electrons, one more than 40 kT above
//    holds exactly 0); a cheap approximation of the count, with a rigorous bound on its
//    distance from the exact count, decides most of the rest.
//  * When the exact count is needed, states that are exactly full or exactly empty for
//    every level left in the bracket are not evaluated: adding 0 changes no sum, and a
//    run of full states at the start of a k-point's bands sums exactly to its count
//    times g (g is a float, so any count below 2^29 times g is exact in double).  Only
//    the states after that run, in band order, are added one by one.

namespace occsolve::ef {

namespace {

constexpr double unit_roundoff = 0x1p-53;

// What one call reads once at its start.
struct problem {
    std::int32_t nspin, nk, nband;
    double totale;
    double kT;
    double g;  // electrons in a full state, formed as fermi forms it
    const double* energy;
    std::int64_t band_stride, kpoint_stride;  // spin stride is 1
    const double* weight;

    double e(std::int32_t s, std::int32_t b, std::int32_t k) const {
        return energy[s + b * band_stride + k * kpoint_stride];
    }
    std::int64_t states() const { return std::int64_t{nspin} * nband * nk; }
};

// fermifunction::fermi with kT and g formed once: the same operations in the same order.
inline double occupation(double energy, double level, const problem& p) {
    const double x = (energy - level) / p.kT;
    if (x > params::cutoff) return 0.0;
    if (x < -params::cutoff) return p.g;
    return p.g / (std::exp(x) + 1.0);
}

// The electron count at `level`, every state evaluated.  occ and nel hold nspin values.
double plain_count(const problem& p, double level, double* occ, double* nel) {
    std::fill(nel, nel + p.nspin, 0.0);
    for (std::int32_t k = 0; k < p.nk; ++k) {
        std::fill(occ, occ + p.nspin, 0.0);
        for (std::int32_t b = 0; b < p.nband; ++b)
            for (std::int32_t s = 0; s < p.nspin; ++s) occ[s] += occupation(p.e(s, b, k), level, p);
        for (std::int32_t s = 0; s < p.nspin; ++s) nel[s] += occ[s] * p.weight[k];
    }
    double total = 0;
    for (std::int32_t s = 0; s < p.nspin; ++s) total += nel[s];
    return total;
}

// What one pass learnt at its level: the exact count, or only which side of totale the
// exact count lies on (and that it is farther than the tolerance from it).
struct verdict {
    enum { exact, above, below } kind;
    double total;
};

class accelerated {
public:
    // Worth it for big problems with every input finite, weights not negative, kT > 0
    // and an ordered bracket; the plain count serves the rest.  The energies are checked
    // as the histogram is built (`ready`).
    static bool suits(const problem& p, double lo, double hi) {
        if (p.states() < 4096 || !(p.kT > 0) || !std::isfinite(p.kT) || !std::isfinite(p.totale)) return false;
        if (!std::isfinite(lo) || !std::isfinite(hi) || lo > hi) return false;
        for (std::int32_t k = 0; k < p.nk; ++k)
            if (!(p.weight[k] >= 0) || !std::isfinite(p.weight[k])) return false;
        return true;
    }

    accelerated(const problem& p, double lo, double hi) : p_(p) {
        // Rounding of the sums involved, relative to the sum: generously, one unit
        // roundoff per addition in the longest chain of additions, twice over.  A bin of
        // the histogram may gather every state; a count adds at most a k-point's bands,
        // then the k-points, then the spin channels.
        const double n = static_cast<double>(p.states());
        histogram_chain_ = 4 * (n + p.nband + p.nk + p.nspin + 16) * unit_roundoff;
        count_chain_ = 4 * (p.nband + p.nk + p.nspin + 16) * unit_roundoff;
        tolerance_ = params::tolerance * (1 + 4 * unit_roundoff) + 4 * unit_roundoff * std::fabs(p.totale);
        ready_ = build_histogram(lo, hi);
        if (!ready_) return;
        e1_ = last_level_below(lo, hi);
        e2_ = first_level_above(lo, hi);
    }

    bool ready() const { return ready_; }

    // The count at `level`, or the side of totale it certainly lies on.  The bracket
    // [lo, hi] holds `level` and every later level of the search.
    verdict at(double level, double lo, double hi, double* nel) {
        if (count_surely_above(level)) return {verdict::above, 0};
        if (count_surely_below(level)) return {verdict::below, 0};

        const double wlo = std::max(lo, e1_), whi = std::min(hi, e2_);
        if (!listed_ || estimated_active(wlo, whi) < 0.7 * static_cast<double>(tail_energy_.size()) ||
            (!approximable_ && (whi - wlo) / (2 * p_.kT) <= exp_range)) {
            list(wlo, whi);
        }
        if (approximable_) {
            const auto [estimate, error] = approximate_count(level);
            if (estimate - error > p_.totale + tolerance_) return {verdict::above, 0};
            if (estimate + error < p_.totale - tolerance_) return {verdict::below, 0};
        }
        return {verdict::exact, listed_count(level, nel)};
    }

private:
    // --- Bounds from a histogram of the energies -------------------------------------
    //
    // Bins of equal width over the bracket widened by 41 kT, one more bin for everything
    // below and one for everything above.  A quarter of kT resolves the cut-offs well
    // enough; fewer bins keep the tallies in the fastest cache.

    // False when an energy is not finite or too large for the margins below.  Also notes
    // which groups list their bands in ascending order, as calculations do.
    bool build_histogram(double lo, double hi) {
        const double reach = (params::cutoff + 1) * p_.kT + 1e-3;
        range_lo_ = lo - reach;
        const double span = hi - lo + 2 * reach;
        bins_ = static_cast<std::size_t>(std::clamp(std::ceil(span / (0.25 * p_.kT)), 1024.0, 65536.0));
        inverse_width_ = static_cast<double>(bins_) / span;
        std::vector<double> weight(bins_ + 2, 0.0), count(bins_ + 2, 0.0);
        std::vector<double> previous(static_cast<std::size_t>(p_.nspin));
        std::vector<char> ascending(static_cast<std::size_t>(p_.nspin));
        ascending_.assign(static_cast<std::size_t>(p_.nk) * static_cast<std::size_t>(p_.nspin), 0);
        double largest = 0;
        bool finite = true;
        for (std::int32_t k = 0; k < p_.nk; ++k) {
            std::fill(previous.begin(), previous.end(), -std::numeric_limits<double>::infinity());
            std::fill(ascending.begin(), ascending.end(), 1);
            const double w = p_.weight[k];
            for (std::int32_t b = 0; b < p_.nband; ++b) {
                const double* e = &p_.energy[b * p_.band_stride + k * p_.kpoint_stride];
                for (std::size_t s = 0; s < previous.size(); ++s) {
                    const double a = std::fabs(e[s]);
                    finite = finite && a < 1e6;  // false for a NaN too
                    largest = a > largest ? a : largest;
                    ascending[s] &= static_cast<char>(e[s] >= previous[s]);
                    previous[s] = e[s];
                    const auto j = bin(e[s]);
                    weight[j] += w;
                    count[j] += 1;
                }
            }
            std::copy(ascending.begin(), ascending.end(), ascending_.begin() + std::int64_t{k} * p_.nspin);
        }
        if (!finite) return false;
        // Rounding of energies and levels near the cut-offs: far below kT, far above the
        // rounding of anything added to an energy.
        cutoff_margin_ = 1e-3 * p_.kT + 1e-12 * (1.0 + largest + std::fabs(lo) + std::fabs(hi));
        weight_below_.assign(bins_ + 3, 0.0);
        count_below_.assign(bins_ + 3, 0.0);
        for (std::size_t j = 0; j < bins_ + 2; ++j) {
            weight_below_[j + 1] = weight_below_[j] + weight[j];
            count_below_[j + 1] = count_below_[j] + count[j];
        }
        return true;
    }

    std::size_t bin(double e) const {
        const double q = (e - range_lo_) * inverse_width_;
        if (!(q >= 0)) return 0;  // below the range, or not a number
        return q >= static_cast<double>(bins_) ? bins_ + 1 : 1 + static_cast<std::size_t>(static_cast<std::int64_t>(q));
    }

    // How many bins_ from the bottom surely hold only energies below c, and how many
    // hold every energy that may be at or below c; two bins_ of margin for the rounding
    // of bin().  The levels asked about lie well inside the regular bins_.
    std::size_t bins_surely_below(double c) const {
        const double q = std::floor((c - range_lo_) * inverse_width_);
        return 1 + static_cast<std::size_t>(std::clamp(q - 1, 0.0, static_cast<double>(bins_)));
    }
    std::size_t bins_maybe_upto(double c) const {
        const double q = std::floor((c - range_lo_) * inverse_width_);
        return 1 + static_cast<std::size_t>(std::clamp(q + 3, 0.0, static_cast<double>(bins_)));
    }

    // The count is at least g times the weight of the states more than 40 kT below the
    // level (each holds exactly g), and at most g times the weight of the states not more
    // than 40 kT above it (the others hold exactly 0).
    bool count_surely_above(double level) const {
        const double full_below = level - params::cutoff * p_.kT - cutoff_margin_;
        return p_.g * weight_below_[bins_surely_below(full_below)] * (1 - histogram_chain_) > p_.totale + tolerance_;
    }
    bool count_surely_below(double level) const {
        const double empty_above = level + params::cutoff * p_.kT + cutoff_margin_;
        return p_.g * weight_below_[bins_maybe_upto(empty_above)] * (1 + histogram_chain_) < p_.totale - tolerance_;
    }

    // Levels of [lo, hi] below e1 or above e2 are decided by the histogram alone, so only
    // levels between need the states themselves.
    double last_level_below(double a, double b) const {
        if (!count_surely_below(a)) return -std::numeric_limits<double>::infinity();
        for (;;) {
            const double m = (a + b) * 0.5;
            if (m == a || m == b) return a;
            (count_surely_below(m) ? a : b) = m;
        }
    }
    double first_level_above(double a, double b) const {
        if (!count_surely_above(b)) return std::numeric_limits<double>::infinity();
        for (;;) {
            const double m = (a + b) * 0.5;
            if (m == a || m == b) return b;
            (count_surely_above(m) ? b : a) = m;
        }
    }

    double estimated_active(double wlo, double whi) const {
        const double reach = params::cutoff * p_.kT + cutoff_margin_;
        return count_below_[bins_maybe_upto(whi + reach)] - count_below_[bins_surely_below(wlo - reach)];
    }

    // --- The states that matter for levels in [wlo, whi] ------------------------------
    //
    // For each k-point and spin channel ("group", k-point major): `lead`, the exact sum
    // of the full states before the first state that is neither full nor empty, and the
    // energies of the states after it in band order, empty ones left out and full ones
    // written as -infinity (whose occupation is exactly g at any level).  A state is
    // full when x < -40 at wlo, empty when x > 40 at whi: then it is so at every level
    // between, as a rounded difference and quotient grow with their operands.

    void list(double wlo, double whi) {
        // Plain comparisons settle all but the states within a hair of the cut-offs,
        // which take the exact test.
        const double surely_empty = whi + params::cutoff * p_.kT + cutoff_margin_;
        const double maybe_empty = whi + params::cutoff * p_.kT - cutoff_margin_;
        const double surely_full = wlo - params::cutoff * p_.kT - cutoff_margin_;
        const double maybe_full = wlo - params::cutoff * p_.kT + cutoff_margin_;
        const double full = -std::numeric_limits<double>::infinity();
        // A narrower window keeps a subsequence of the listed states, so the list is
        // filtered in place; the factors stay valid inside the old window.
        const bool carry = listed_ && approximable_;
        const auto groups = static_cast<std::size_t>(p_.nk) * static_cast<std::size_t>(p_.nspin);
        if (!listed_) {
            lead_.assign(groups, 0.0);
            tail_start_.assign(groups + 1, 0);
            tail_energy_.clear();
            tail_energy_.reserve(static_cast<std::size_t>(estimated_active(wlo, whi)) + 16);
        }

        std::size_t out = 0;
        std::int64_t read = 0;
        for (std::size_t group = 0; group < groups; ++group) {
            double sum = lead_[group];
            bool tail = false;
            const auto take = [&](double e, std::size_t from) {
                if (e > maybe_empty && (e > surely_empty || (e - whi) / p_.kT > params::cutoff)) return;
                const bool is_full = e < maybe_full && (e < surely_full || (e - wlo) / p_.kT < -params::cutoff);
                if (is_full && !tail) {
                    sum += p_.g;
                    return;
                }
                tail = true;
                if (listed_) {
                    tail_energy_[out] = is_full ? full : e;
                    if (carry) tail_factor_[out] = is_full ? 0.0 : tail_factor_[from];
                } else {
                    tail_energy_.push_back(is_full ? full : e);
                }
                ++out;
            };
            const std::int64_t read_end = tail_start_[group + 1];
            tail_start_[group] = static_cast<std::int64_t>(out);
            if (listed_) {
                for (; read < read_end; ++read) take(tail_energy_[static_cast<std::size_t>(read)], static_cast<std::size_t>(read));
            } else {
                const auto k = static_cast<std::int64_t>(group / static_cast<std::size_t>(p_.nspin));
                const auto s = static_cast<std::int64_t>(group % static_cast<std::size_t>(p_.nspin));
                const double* e = &p_.energy[s + k * p_.kpoint_stride];
                const auto at = [&](std::int32_t b) { return e[b * p_.band_stride]; };
                std::int32_t first = 0, last = p_.nband;
                if (ascending_[group]) {
                    // Ascending bands: the surely full ones lead, the surely empty ones
                    // close; n full states sum to exactly n g.
                    first = partition_point(0, p_.nband, [&](std::int32_t b) { return at(b) < surely_full; });
                    last = partition_point(first, p_.nband, [&](std::int32_t b) { return at(b) <= surely_empty; });
                    sum = first * p_.g;
                }
                for (std::int32_t b = first; b < last; ++b) take(at(b), 0);
            }
            lead_[group] = sum;
        }
        tail_start_[groups] = static_cast<std::int64_t>(out);
        tail_energy_.resize(out);
        listed_ = true;
        if (carry) {
            tail_factor_.resize(out);
        } else {
            prepare_approximation(wlo, whi);
        }
    }

    // The first b in [lo, hi) for which `holds` is false, `holds` being true up to it.
    template <class Predicate>
    static std::int32_t partition_point(std::int32_t lo, std::int32_t hi, Predicate holds) {
        while (lo < hi) {
            const std::int32_t mid = lo + (hi - lo) / 2;
            if (holds(mid)) {
                lo = mid + 1;
            } else {
                hi = mid;
            }
        }
        return lo;
    }

    double listed_count(double level, double* nel) const {
        std::fill(nel, nel + p_.nspin, 0.0);
        std::size_t group = 0;
        for (std::int32_t k = 0; k < p_.nk; ++k) {
            for (std::int32_t s = 0; s < p_.nspin; ++s, ++group) {
                double occ = lead_[group];
                for (auto i = tail_start_[group]; i < tail_start_[group + 1]; ++i)
                    occ += occupation(tail_energy_[static_cast<std::size_t>(i)], level, p_);
                nel[s] += occ * p_.weight[k];
            }
        }
        double total = 0;
        for (std::int32_t s = 0; s < p_.nspin; ++s) total += nel[s];
        return total;
    }

    // --- An approximate count without exp per state ----------------------------------
    //
    // exp((e - level)/kT) = exp((e - c0)/kT) * exp((c0 - level)/kT): with the first
    // factor kept per state, a pass costs a multiply, an add and a divide per listed
    // state.  Its distance from the exact count is bounded: exact and approximate terms
    // both stem from the same real occupation, each within a relative error set by the
    // size of the reduced energies involved and a few roundings.

    static constexpr double exp_range = 600;  // keeps every factor and product normal

    void prepare_approximation(double wlo, double whi) {
        centre_ = (wlo + whi) * 0.5;
        approximable_ = (whi - wlo) / (2 * p_.kT) <= exp_range;
        if (!approximable_) return;
        tail_factor_.resize(tail_energy_.size());
        largest_reduced_ = 0;
        for (std::size_t i = 0; i < tail_energy_.size(); ++i) {
            const double e = tail_energy_[i];
            if (std::isinf(e)) {
                tail_factor_[i] = 0.0;  // full: g / (0 + 1) = g exactly
                continue;
            }
            const double y = (e - centre_) / p_.kT;
            largest_reduced_ = std::max(largest_reduced_, std::fabs(y));
            tail_factor_[i] = std::exp(y);
        }
        approximable_ = largest_reduced_ <= exp_range;
        // g times the weight of all states: bounds what the cut-offs neglect.
        weight_all_ = 0;
        for (std::int32_t k = 0; k < p_.nk; ++k) weight_all_ += p_.weight[k];
        weight_all_ *= p_.g * p_.nband * p_.nspin;
    }

    struct approximation {
        double count, error;
    };

    approximation approximate_count(double level) const {
        const double z = (centre_ - level) / p_.kT;
        const double c = std::exp(z);
        double total = 0;
        std::size_t group = 0;
        for (std::int32_t k = 0; k < p_.nk; ++k) {
            double occ = 0;
            for (std::int32_t s = 0; s < p_.nspin; ++s, ++group) {
                // Four partial sums: the order of an approximate sum is free, and four
                // independent chains keep the divider busy.
                double sum[4] = {lead_[group], 0, 0, 0};
                auto i = tail_start_[group];
                const auto end = tail_start_[group + 1];
                for (; i + 4 <= end; i += 4)
                    for (int j = 0; j < 4; ++j)
                        sum[j] += p_.g / (tail_factor_[static_cast<std::size_t>(i + j)] * c + 1.0);
                for (; i < end; ++i) sum[0] += p_.g / (tail_factor_[static_cast<std::size_t>(i)] * c + 1.0);
                occ += (sum[0] + sum[1]) + (sum[2] + sum[3]);
            }
            total += occ * p_.weight[k];
        }
        // Per term: the reduced energies carry two roundings each (|x| <= 40 where the exact
        // term uses the formula), exp at most 2 ulp, then product, add and divide.
        const double u = unit_roundoff;
        const double term = 4 * u * (params::cutoff + largest_reduced_ + std::fabs(z)) + 32 * u;
        const double error = 2 * ((term + 2 * count_chain_) * total * (1 + 1e-6) + weight_all_ * 1e-17) +
                             4 * u * (std::fabs(total) + std::fabs(p_.totale));
        return {total, error};
    }

    const problem& p_;
    bool ready_ = false;
    std::size_t bins_ = 0;
    std::vector<char> ascending_;  // per group: bands in ascending order
    double range_lo_ = 0, inverse_width_ = 0;
    std::vector<double> weight_below_, count_below_;
    double histogram_chain_ = 0, count_chain_ = 0, cutoff_margin_ = 0, tolerance_ = 0;
    double e1_ = 0, e2_ = 0;

    bool listed_ = false;
    std::vector<double> lead_;
    std::vector<std::int64_t> tail_start_;
    std::vector<double> tail_energy_;

    bool approximable_ = false;
    double centre_ = 0, largest_reduced_ = 0, weight_all_ = 0;
    std::vector<double> tail_factor_;
};

bool usable() {
    using namespace occsolve::variable;
    if (nspin < 1 || nk < 0 || nband < 0) return false;
    if (nk == 0) return true;  // no state and no weight is read
    if (!kwpt.allocated() || kwpt.extent(1) < nk) return false;
    if (nband == 0) return true;
    return bandenergy.allocated() && bandenergy.extent(1) >= nspin && bandenergy.extent(2) >= nband &&
           bandenergy.extent(3) >= nk;
}

// The counters as the search's loops leave them after a pass: one past each range, or 1
// for an empty one; with no k-point the inner loops never start.
void leave_counters() {
    using namespace occsolve::variable;
    ik = nk > 0 ? nk + 1 : 1;
    if (nk <= 0) return;
    iband = nband > 0 ? nband + 1 : 1;
    ispin = nspin + 1;
}

}  // namespace

void getef(const double* emin, const double* emax, int* status) {
    namespace v = occsolve::variable;
    int verdict_status = params::status_stalled;
    if (!usable()) {
        if (status) *status = params::status_unusable;
        return;
    }

    double lo = params::default_emin, hi = params::default_emax;
    if (emin && emax) {
        lo = *emin;
        hi = *emax;
    }
    problem p{};
    p.nspin = v::nspin;
    p.nk = v::nk;
    p.nband = v::nband;
    p.totale = v::totale;
    p.kT = params::kB * v::t;
    p.g = static_cast<double>(2.0f / static_cast<float>(v::nspin));
    p.weight = v::kwpt.data();
    if (v::nband > 0 && v::nk > 0) {
        p.energy = v::bandenergy.data();
        p.band_stride = v::bandenergy.extent(1);
        p.kpoint_stride = v::bandenergy.extent(1) * v::bandenergy.extent(2);
    }

    std::vector<double> occ(static_cast<std::size_t>(p.nspin)), nel(static_cast<std::size_t>(p.nspin));
    // The accelerated search needs tables of its own; short of memory for them, the
    // plain count carries on with the same results.
    std::optional<accelerated> fast;
    if (accelerated::suits(p, lo, hi)) {
        try {
            fast.emplace(p, lo, hi);
            if (!fast->ready()) fast.reset();
        } catch (const std::bad_alloc&) {
            fast.reset();
        }
    }

    for (;;) {
        const double level = (lo + hi) * 0.5;
        v::efermi = level;
        std::optional<verdict> fast_verdict;
        if (fast) {
            try {
                fast_verdict = fast->at(level, lo, hi, nel.data());
            } catch (const std::bad_alloc&) {
                fast.reset();
            }
        }
        const verdict found = fast_verdict ? *fast_verdict : verdict{verdict::exact, plain_count(p, level, occ.data(), nel.data())};
        const bool above = found.kind == verdict::above || (found.kind == verdict::exact && found.total > p.totale);
        const bool below = found.kind == verdict::below || (found.kind == verdict::exact && found.total < p.totale);
        if (found.kind == verdict::exact) {
            if (std::fabs(found.total - p.totale) < params::tolerance) {
                verdict_status = params::status_converged;
                break;
            }
            if (std::isnan(found.total)) break;
        }
        // A level equal to an end of the bracket leaves it as it is (or empty): no later
        // pass could try another level.
        if (level == lo || level == hi) break;
        if (above) hi = level;
        if (below) lo = level;
    }
    leave_counters();
    if (status) *status = verdict_status;
}

}  // namespace occsolve::ef
