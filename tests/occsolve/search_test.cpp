// The core search: every call returns, and the accelerated path gives the plain bits.
#include "structures.hpp"

#include "detail/approximate.hpp"
#include "detail/bounds.hpp"
#include "detail/survey.hpp"
#include "detail/near_states.hpp"
#include "detail/search.hpp"

#include <occsolve/core.hpp>
#include <occsolve/params.hpp>

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

using occsolve::bracket;
using occsolve::detail::find_level;
using occsolve::detail::search_options;
using occsolve::detail::search_report;
using occsolve_test::plain_search;
using occsolve_test::random_structure;
using occsolve_test::structure;
namespace params = occsolve::params;

constexpr double inf = std::numeric_limits<double>::infinity();
const double nan = std::nan("");
constexpr double largest = std::numeric_limits<double>::max();

search_options with(search_options::path use) {
    search_options o;
    o.use = use;
    return o;
}
const search_options plain = with(search_options::path::plain);
const search_options fast = with(search_options::path::accelerated);

std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

// One k-point of weight 1, one spin channel, the given bands.
structure bands(std::vector<double> e) {
    structure st;
    st.nk = st.nspin = 1;
    st.nband = static_cast<int>(e.size());
    st.e = std::move(e);
    st.w = {1.0};
    return st;
}

structure no_states(int nk, int nband) {
    structure st;
    st.nk = nk;
    st.nband = nband;
    st.e.assign(static_cast<std::size_t>(nk * nband), 1.0);
    st.w.assign(static_cast<std::size_t>(nk), 1.0);
    return st;
}

// Inputs that looped for ever, or could: each ends, with its status, on both paths.
// (ctest gives every test of this file a time limit.)
TEST(search, every_call_returns) {
    std::mt19937_64 rng(5);
    const structure metal = random_structure(rng, 2, 40, 60, true);  // 4800 states
    const double all_full = occsolve_test::plain_count(metal.view(), inf, 300);
    structure overlapping = metal;
    overlapping.overlap = 1;
    const struct {
        const char* name;
        structure st;
        double t, electrons;
        bracket b;
        int status;
        std::int64_t passes;  // -1: any
    } cases[] = {
        {"electrons not a number", metal, 300, nan, {2, 20}, params::status_unusable, 0},
        {"electrons infinite", metal, 300, inf, {2, 20}, params::status_unusable, 0},
        {"a bracket end not a number", metal, 300, 100, {nan, 20}, params::status_unusable, 0},
        {"no k-point, a bracket end not a number", no_states(0, 3), 300, 0, {2, nan}, params::status_unusable, 0},
        {"no band, a bracket end not a number", no_states(2, 0), 300, 0, {nan, 2}, params::status_unusable, 0},
        {"no k-point, the whole line: the first pass decides", no_states(0, 3), 300, 1, {-inf, inf}, params::status_stalled, 1},
        {"no band, no electron: converged at once", no_states(3, 0), 300, 0, {-inf, inf}, params::status_converged, 1},
        {"no k-point: the first pass decides, even in a finite bracket", no_states(0, 3), 300, 1, {2, 20},
         params::status_stalled, 1},
        {"a k-point's stride overlapping its bands", overlapping, 300, 100, {2, 20}, params::status_unusable, 0},
        {"an infinite upper end, every state full there", metal, 300, all_full, {5, inf}, params::status_converged, 1},
        // |count - electrons| < tolerance, strictly: a count exactly the tolerance away
        // is not the level.
        {"the count exactly the tolerance from the target", bands({30}), 300, params::tolerance, {2, 20},
         params::status_stalled, -1},
        {"the whole line: the level is not a number", metal, 300, 100, {-inf, inf}, params::status_stalled, 1},
        {"an infinite lower end", metal, 300, 100, {-inf, 5}, params::status_stalled, -1},
        {"an infinite upper end", metal, 300, 100, {5, inf}, params::status_stalled, -1},
        {"ends whose midpoint overflows", metal, 300, 100, {1e308, 1.7e308}, params::status_stalled, -1},
        {"upside down", metal, 300, 100, {20, -20}, params::status_stalled, -1},
        // One band: the count jumps from 0 to 2 at the band, so a level holding 1.5 exists
        // on neither side; the search must stop at the band from above and from below.
        {"upper-end stall at 4.3 eV", bands({4.3}), 1e-300, 1.5, {2, 20}, params::status_stalled, -1},
        {"upper-end stall at 5.7 eV", bands({5.7}), 1e-300, 1.5, {2, 20}, params::status_stalled, -1},
        {"upper-end stall at 9.1 eV", bands({9.1}), 1e-300, 1.5, {2, 20}, params::status_stalled, -1},
        {"zero temperature", metal, 0, 100, {-20, 20}, params::status_stalled, -1},
        {"temperature not a number", metal, nan, 100, {-20, 20}, params::status_stalled, 1},
        {"negative temperature", metal, -300, 100, {-20, 20}, params::status_stalled, -1},
        {"an enormous temperature", metal, 1e300, 100, {-20, 20}, params::status_stalled, -1},
    };
    for (const auto& c : cases) {
        for (const auto& o : {plain, fast}) {
            const auto r = find_level(c.st.view(), c.t, c.electrons, c.b, o);
            const std::string name = std::string(c.name) + (o.use == plain.use ? " (plain)" : " (accelerated)");
            EXPECT_EQ(r.status, c.status) << name;
            if (c.passes >= 0) {
                EXPECT_EQ(r.passes, c.passes) << name;
            }
            EXPECT_LT(r.passes, 2200) << name;  // bounded by the exponent range of doubles
        }
    }
}

// Every finite bracket, however wide: the accelerated path gives the plain bits, and it
// is the accelerated path that gives them.
TEST(search, wide_brackets_give_the_plain_bits) {
    std::mt19937_64 rng(11);
    const structure st = random_structure(rng, 2, 64, 40, true);  // 5120 states: the automatic choice is accelerated
    const double electrons = st.full() * st.nspin * st.weights() * st.nband * 0.45;
    for (const bracket b : {bracket{-1e308, 1e308}, bracket{-largest, largest}, bracket{-1e300, 3}, bracket{-4, 1e300},
                            bracket{-1e-300, 1e300}}) {
        const auto expected = plain_search(st.view(), 300, electrons, b.lo, b.hi);
        const auto r = find_level(st.view(), 300, electrons, b, {});
        EXPECT_TRUE(r.accelerated) << b.lo;
        EXPECT_EQ(r.plain, 0) << b.lo;
        EXPECT_EQ(bits(r.level), bits(expected.level)) << b.lo << ": " << r.level << " vs " << expected.level;
        EXPECT_EQ(r.status, expected.status) << b.lo;
        EXPECT_EQ(r.passes, expected.passes) << b.lo;
        EXPECT_EQ(r.status, params::status_converged) << b.lo;
    }
}

struct shape {
    int nspin, nk, nband;
    double t;
    bool sorted;
    int pad;
    bool even;
};

const shape shapes[] = {
    {1, 200, 60, 300, true, 0, false},   {2, 150, 50, 300, true, 1, false}, {2, 120, 40, 30, true, 0, true},
    {1, 300, 30, 3000, false, 0, false}, {3, 60, 40, 300, true, 2, false},  {4, 50, 30, 1000, false, 0, true},
    {2, 400, 20, 5, true, 0, false},     {1, 100, 100, 0.5, true, 0, true}, {2, 200, 64, 10000, true, 0, false},
    {2, 100, 50, 1e-3, true, 0, true},   {1, 64, 80, 11, false, 1, false},
};

// Random band structures, each searched inside the bracket find_bracket gives, where
// the level lies: the search must converge, with the plain bits, and the accelerated
// path must have decided passes in each of its ways across the set.
TEST(search, random_structures_agree_bit_for_bit) {
    std::mt19937_64 rng(2026);
    search_report seen{};
    int cases = 0;
    for (const auto& s : shapes) {
        for (int repeat = 0; repeat < 3; ++repeat, ++cases) {
            const structure st = random_structure(rng, s.nspin, s.nk, s.nband, s.sorted, s.pad, s.even);
            // The count at some level: a count the search can reach at any temperature.
            const double electrons = occsolve_test::plain_count(st.view(), std::uniform_real_distribution<double>(-8, 13)(rng), s.t);
            bracket b{};
            ASSERT_TRUE(occsolve::find_bracket(st.view(), s.t, b));
            const auto expected = plain_search(st.view(), s.t, electrons, b.lo, b.hi);
            const auto r = find_level(st.view(), s.t, electrons, b, fast);
            const auto p = find_level(st.view(), s.t, electrons, b, plain);
            const std::string name = "nspin " + std::to_string(s.nspin) + " nk " + std::to_string(s.nk) + " t " +
                                     std::to_string(s.t) + " #" + std::to_string(repeat);
            EXPECT_EQ(expected.status, params::status_converged) << name;
            for (const auto& got : {r, p}) {
                EXPECT_EQ(bits(got.level), bits(expected.level)) << name << ": " << got.level << " vs " << expected.level;
                EXPECT_EQ(got.status, expected.status) << name;
                EXPECT_EQ(got.passes, expected.passes) << name;
            }
            EXPECT_TRUE(r.accelerated) << name;
            EXPECT_EQ(r.plain, 0) << name;
            EXPECT_EQ(p.plain, p.passes) << name;
            seen.approximate += r.approximate;
            seen.exact += r.exact;
            seen.approximations += r.approximations;
            seen.exact_counts += r.exact_counts;
        }
    }
    EXPECT_GT(seen.approximate, cases * 5);
    EXPECT_GT(seen.exact, cases / 2);
    EXPECT_GT(seen.approximations, cases);
    // The Newton probes narrow the levels so well that few exact counts, the passes that
    // cost, are left to make: about two per search (seven when the probes aim badly).
    EXPECT_LT(seen.exact_counts, cases * 4);
}

// Temperatures from zero to 10^8 K on a log scale, band counts at and around the
// multiples of the approximate count's eight lanes, one and two spins: the accelerated
// path, forced, gives the plain bits and status at each (at zero temperature it declines).
// Above about 10^4 K kT is several eV, and a state anywhere in the spectrum counts.
TEST(search, every_temperature_gives_the_plain_bits) {
    std::mt19937_64 rng(1856);
    const int band_counts[] = {1, 7, 8, 9, 15, 16, 17, 63, 64, 65};
    std::vector<int> per_decade(13, 0);
    int cases = 0;
    for (int j = -1; j <= 44; ++j) {
        const double t = j < 0 ? 0.0 : std::pow(10.0, -3 + j / 4.0);  // 0, then 1e-3 K to 1e8 K
        for (int repeat = 0; repeat < 4; ++repeat, ++cases) {
            const int nspin = 1 + repeat % 2;
            const int nband = band_counts[rng() % std::size(band_counts)];
            const structure st = random_structure(rng, nspin, 20 + static_cast<int>(rng() % 40), nband, rng() % 4 != 0);
            const double full = st.full() * st.nspin * st.weights() * st.nband;
            const double electrons = full * std::uniform_real_distribution<double>(0.05, 0.95)(rng);
            bracket b{};
            ASSERT_TRUE(occsolve::find_bracket(st.view(), t, b));
            const auto expected = plain_search(st.view(), t, electrons, b.lo, b.hi);
            const auto r = find_level(st.view(), t, electrons, b, fast);
            const std::string name = "t " + std::to_string(t) + " nspin " + std::to_string(nspin) + " nband " +
                                     std::to_string(nband) + " nk " + std::to_string(st.nk);
            EXPECT_EQ(bits(r.level), bits(expected.level)) << name << ": " << r.level << " vs " << expected.level;
            EXPECT_EQ(r.status, expected.status) << name;
            EXPECT_EQ(r.passes, expected.passes) << name;
            EXPECT_EQ(r.accelerated, t > 0) << name;
            ++per_decade[t > 0 ? static_cast<std::size_t>(std::floor(std::log10(t)) + 4) : 0];
        }
    }
    std::printf("cases per decade of temperature (0 K, then 1e-3 K up to 1e8 K):");
    for (const int n : per_decade) std::printf(" %d", n);
    std::printf("\n");
    EXPECT_GT(cases, 160);
}

// Targets placed a hair from the counts at levels the search actually tries: a decision
// one ulp wrong anywhere (a bound too tight, a comparison the wrong way) changes the
// level, the status or the number of passes.
TEST(search, targets_a_hair_from_the_counts_tried) {
    std::mt19937_64 rng(77);
    int exact_decided = 0;
    for (const auto& s : shapes) {
        const structure st = random_structure(rng, s.nspin, s.nk, s.nband, s.sorted, s.pad, s.even);
        const double start = st.full() * st.nspin * st.weights() * st.nband * 0.5;
        bracket b{};
        ASSERT_TRUE(occsolve::find_bracket(st.view(), s.t, b));
        const auto trace = plain_search(st.view(), s.t, start, b.lo, b.hi);
        for (int trial = 0; trial < 6; ++trial) {
            const auto i = static_cast<std::size_t>(rng() % trace.counts.size());
            double target = trace.counts[i] + (rng() % 2 ? 1e-8 : -1e-8);
            for (int step = static_cast<int>(rng() % 7) - 3; step != 0; step += step > 0 ? -1 : 1)
                target = std::nextafter(target, step > 0 ? inf : -inf);
            const auto expected = plain_search(st.view(), s.t, target, b.lo, b.hi);
            const auto r = find_level(st.view(), s.t, target, b, fast);
            EXPECT_EQ(bits(r.level), bits(expected.level)) << "t " << s.t << " target " << target;
            EXPECT_EQ(r.status, expected.status) << "t " << s.t;
            EXPECT_EQ(r.passes, expected.passes) << "t " << s.t;
            exact_decided += r.exact > 0;
        }
    }
    EXPECT_GT(exact_decided, 20);
}

// The accelerated search's parts for one structure and temperature.
struct parts {
    occsolve::detail::occupation kernel;
    occsolve::detail::energy_survey survey;
    occsolve::detail::near_states near;

    parts(const structure& st, double t)
        : kernel{params::kB * t, st.full()}, survey(st.view(), kernel), near(st.view(), kernel, survey) {}
};

// The exact count over the near states at fixed levels, bit for bit the documented count,
// for ascending and shuffled bands, at levels across and beyond the energies, in windows
// placed afresh, moved a little (galloping from the last cut) and moved far.
TEST(search, near_state_counts_equal_the_documented_count) {
    std::mt19937_64 rng(3);
    int evaluated = 0, narrowed = 0;
    for (const auto& s : shapes) {
        const structure st = random_structure(rng, s.nspin, s.nk, s.nband, s.sorted, s.pad, s.even);
        parts x(st, s.t);
        ASSERT_TRUE(x.survey.ok());
        auto& near = x.near;
        std::uniform_real_distribution<double> level(-12.0, 17.0);
        double wlo = level(rng), whi = level(rng);
        if (wlo > whi) std::swap(wlo, whi);
        for (int window = 0; window < 6; ++window) {
            near.place(wlo, whi);
            for (const double l : {wlo, whi, wlo / 2 + whi / 2, std::nextafter(wlo, inf), std::nextafter(whi, -inf)}) {
                ASSERT_EQ(bits(near.exact_count(l)), bits(occsolve_test::plain_count(st.view(), l, s.t))) << l;
                EXPECT_EQ(bits(occsolve::electron_count(st.view(), s.t, l)), bits(occsolve_test::plain_count(st.view(), l, s.t)));
                ++evaluated;
            }
            // The next window: inside this one, a little off it, or anywhere.
            const double shift = window % 3 == 1 ? 1e-3 * (whi - wlo + 1) : 0;
            if (window % 3 == 2) {
                wlo = level(rng);
                whi = wlo + std::uniform_real_distribution<double>(0, 3)(rng);
            } else {
                wlo = std::uniform_real_distribution<double>(wlo, whi)(rng) + shift;
                whi = std::uniform_real_distribution<double>(wlo, whi + shift)(rng);
            }
        }
        narrowed += near.size() < std::int64_t{st.nk} * st.nband * st.nspin;
    }
    EXPECT_GT(evaluated, 100);
    EXPECT_GE(narrowed, 9);  // all but the hottest shape (40 kT beyond the whole spectrum)
}

// The survey reads four values at a time: a value out of bounds, or out of order, is
// seen wherever it stands (in a lane of a block, in the tail, in the first block where
// some values have no predecessor), in packed and in padded storage.
TEST(search, survey_sees_every_value) {
    int checked = 0;
    for (int nspin = 1; nspin <= 5; ++nspin)
        for (int nband = 1; nband <= 9; ++nband)
            for (int pad = 0; pad <= 1; ++pad) {
                std::mt19937_64 rng(static_cast<std::uint64_t>(100 * nspin + 10 * nband + pad));
                structure st = random_structure(rng, nspin, 3, nband, true, pad);
                const occsolve::detail::occupation kernel{params::kB * 300, st.full()};
                ASSERT_TRUE(occsolve::detail::energy_survey(st.view(), kernel).ok());
                for (int k = 0; k < 3; ++k)
                    for (int b = 0; b < nband; ++b)
                        for (int s = 0; s < nspin; ++s) {
                            structure bad = st;
                            bad.at(s, b, k) = b % 2 ? std::nan("") : 2e6;
                            EXPECT_FALSE(occsolve::detail::energy_survey(bad.view(), kernel).ok()) << nspin << nband << k << b << s;
                            if (b == 0) continue;
                            structure swapped = st;
                            std::swap(swapped.at(s, b, k), swapped.at(s, b - 1, k));
                            if (swapped.at(s, b, k) == swapped.at(s, b - 1, k)) continue;
                            const occsolve::detail::energy_survey survey(swapped.view(), kernel);
                            ASSERT_TRUE(survey.ok());
                            for (int g = 0; g < 3 * nspin; ++g)
                                EXPECT_EQ(survey.ascending(static_cast<std::size_t>(g)), g != k * nspin + s)
                                    << nspin << " " << nband << " " << pad << " group " << g;
                            ++checked;
                        }
            }
    EXPECT_GT(checked, 500);
}

// The decisions of the bounds never contradict the exact count: with the target placed so
// that the exact count at p lies exactly at the edge of the tolerance, a count at p,
// exact or approximate, must not decide p.
TEST(search, bounds_never_contradict_the_exact_count) {
    std::mt19937_64 rng(41);
    int approximate_below_target = 0;
    for (const auto& s : shapes) {
        const structure st = random_structure(rng, s.nspin, s.nk, s.nband, s.sorted, s.pad, s.even);
        parts x(st, s.t);
        ASSERT_TRUE(x.survey.ok());
        const auto exact_error = occsolve::detail::error_of_count(
            occsolve::detail::term_rho, static_cast<double>(st.nband) + st.nk + st.nspin, x.survey.g_weight());
        for (int trial = 0; trial < 20; ++trial) {
            const double p = std::uniform_real_distribution<double>(-11, 16)(rng);
            const double c = occsolve_test::plain_count(st.view(), p, s.t);
            x.near.place(p, p, occsolve::detail::near_states::cut::approximate);
            const auto a = occsolve::detail::approximate_count(x.near, x.kernel, p, x.survey.g_weight());
            approximate_below_target += a.count < c;
            // The bound holds.
            EXPECT_LE(std::fabs(a.count - c), a.error.relative * std::fabs(c) + a.error.absolute) << p;
            for (const double target : {c + params::tolerance, c - params::tolerance}) {
                const occsolve::detail::decision_rule rule(target, params::tolerance, exact_error);
                EXPECT_FALSE(rule.below_up_to(a.count, a.error)) << p;
                EXPECT_FALSE(rule.above_from(a.count, a.error)) << p;
                EXPECT_FALSE(rule.below_up_to(c, exact_error)) << p;
                EXPECT_FALSE(rule.above_from(c, exact_error)) << p;
            }
        }
    }
    EXPECT_GT(approximate_below_target, 20);  // the approximate count was off the exact one, both ways
}

// The polynomial exp of the approximate count against the true value: within the 200u the
// bounds take, over the whole range it serves, at its reduction's seams (x near n ln2 / 2)
// and at the cut-offs.
TEST(search, polynomial_exp_within_its_bound) {
    std::mt19937_64 rng(17);
    std::vector<double> xs;
    for (int i = 0; i < 200000; ++i) xs.push_back(std::uniform_real_distribution<double>(-50, 50)(rng));
    for (int n = -73; n <= 73; ++n)
        for (const double d : {-1e-9, 0.0, 1e-9}) xs.push_back(n * std::log(2.0) / 2 + d);
    for (const double x : {-50.0, -40.0, -36.7, 0.0, 1e-300, 36.7, 40.0, 50.0}) xs.push_back(x);
    long double worst = 0;
    for (const double x : xs) {
        const long double exact = std::exp(static_cast<long double>(x));
        const long double got = occsolve::detail::fast_exp(x);
        worst = std::max(worst, std::fabs(got - exact) / exact);
    }
    const double u = 0x1p-53;
    EXPECT_LT(static_cast<double>(worst), 200 * u);
    EXPECT_GT(static_cast<double>(worst), 2 * u);  // a Taylor polynomial, not the C library in disguise
}

// The decision rule at the edge of its bound: a count within its error of the threshold
// decides nothing, one beyond it does.
TEST(search, decision_rule_at_its_edge) {
    const double target = 100, tol = params::tolerance;
    const occsolve::detail::count_error exact{1e-12, 1e-15}, approx{2e-12, 1e-15};
    const occsolve::detail::decision_rule rule(target, tol, exact);
    // Below: (1 + 1e-12)(x + 1e-15) / (1 - 2e-12) + 1e-15 < T - tol takes x below
    // (T - tol)(1 - 3e-12), less the absolute parts.
    const double below = target - tol, above = target + tol;
    const struct {
        double x;
        bool below, above;
    } cases[] = {
        {below * (1 - 2.9e-12), false, false}, {below * (1 - 3.2e-12), true, false},
        {below, false, false},                 {above, false, false},
        {above * (1 + 2.9e-12), false, false}, {above * (1 + 3.2e-12), false, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(rule.below_up_to(c.x, approx), c.below) << c.x - target;
        EXPECT_EQ(rule.above_from(c.x, approx), c.above) << c.x - target;
    }
}

TEST(search, options_force_a_path_or_a_failed_allocation) {
    std::mt19937_64 rng(9);
    const structure small = random_structure(rng, 1, 10, 20, true);  // 200 states: plain unless forced
    const structure big = random_structure(rng, 2, 50, 60, true);    // 6000: accelerated unless told
    const structure below = random_structure(rng, 1, 63, 65, true);  // 4095 states: plain
    const structure from = random_structure(rng, 2, 32, 64, true);   // 4096 states: accelerated
    for (const structure* st : {&small, &big, &below, &from}) {
        const double electrons = st->full() * st->nspin * st->weights() * st->nband * 0.4;
        const auto expected = plain_search(st->view(), 300, electrons, -15, 20);
        search_options failing = fast;
        failing.fail_allocation = true;
        const struct {
            search_options o;
            bool accelerated;
        } runs[] = {{{}, st == &big || st == &from}, {plain, false}, {fast, true}, {failing, false}};
        for (const auto& run : runs) {
            const auto r = find_level(st->view(), 300, electrons, {-15, 20}, run.o);
            EXPECT_EQ(r.accelerated, run.accelerated);
            EXPECT_EQ(r.plain == r.passes, !run.accelerated);
            EXPECT_EQ(bits(r.level), bits(expected.level));
            EXPECT_EQ(r.passes, expected.passes);
        }
    }
}

// Inputs the accelerated path's proofs do not cover take the plain path, with its bits.
TEST(search, inputs_outside_the_assumptions_take_the_plain_path) {
    std::mt19937_64 rng(21);
    const struct {
        const char* name;
        void (*spoil)(structure&);
    } cases[] = {
        {"a negative weight", [](structure& st) { st.w[3] = -0.01; }},
        {"an energy not a number", [](structure& st) { st.at(0, 5, 7) = std::nan(""); }},
        {"an infinite energy", [](structure& st) { st.at(1, 0, 2) = -inf; }},
        {"an energy of 1e6 eV", [](structure& st) { st.at(0, 59, 9) = 1e6; }},
    };
    for (const auto& c : cases) {
        structure st = random_structure(rng, 2, 50, 60, true);
        c.spoil(st);
        const auto expected = plain_search(st.view(), 300, 30, -15, 20);
        const auto r = find_level(st.view(), 300, 30, {-15, 20}, fast);
        EXPECT_FALSE(r.accelerated) << c.name;
        EXPECT_EQ(bits(r.level), bits(expected.level)) << c.name;
        EXPECT_EQ(r.passes, expected.passes) << c.name;
    }
}

// The count over any number of spin channels, the first sixteen held at once and more
// one at a time: the documented sum, bit for bit, spin fastest in memory.
TEST(search, counts_over_many_spin_channels) {
    std::mt19937_64 rng(17);
    for (const std::int32_t nspin : {1, 2, 16, 17, 33}) {
        const structure st = random_structure(rng, nspin, 7, 5, false, 1, false);
        for (const double level : {-5.0, 0.5, 3.0})
            EXPECT_EQ(bits(occsolve::electron_count(st.view(), 3000, level)), bits(occsolve_test::plain_count(st.view(), level, 3000)))
                << nspin << " " << level;
    }
}

TEST(find_bracket, holds_every_count) {
    const struct {
        const char* name;
        structure st;
        double t;
    } cases[] = {
        {"negative energies", bands({-9.5, -7.25, -3.0}), 300},
        {"mixed", bands({-2.0, 0.5, 3.0, 11.0}), 1000},
        {"degenerate: all states equal", bands({4.2, 4.2, 4.2}), 300},
        {"zero temperature", bands({-1.0, 1.0}), 0},
        {"a millikelvin", bands({-1.0, 1.0, 1.0 + 1e-9}), 1e-3},
        // A meV below the spacing of the doubles there: the ends widened past their rounding.
        {"energies of 1e14 eV at zero temperature", bands({-3e14, 5e14}), 0},
        {"energies of 1e13 eV at zero temperature", bands({-2e13, 7e13, 7e13}), 0},
    };
    for (const auto& c : cases) {
        bracket b{};
        ASSERT_TRUE(occsolve::find_bracket(c.st.view(), c.t, b)) << c.name;
        // At the ends every state is exactly empty or exactly full.
        const double full = c.st.full() * c.st.nband;
        EXPECT_EQ(occsolve::electron_count(c.st.view(), c.t, b.lo), 0.0) << c.name;
        EXPECT_EQ(occsolve::electron_count(c.st.view(), c.t, b.hi), full) << c.name;
        EXPECT_LE(b.lo, *std::min_element(c.st.e.begin(), c.st.e.end()) - 1e-3) << c.name;
        // Counts inside are found (where the temperature makes the count continuous).
        if (c.t >= 300) {
            for (const double fraction : {0.1, 0.5, 0.9}) {
                const auto r = occsolve::find_level(c.st.view(), c.t, full * fraction, b);
                EXPECT_EQ(r.status, params::status_converged) << c.name << " " << fraction;
            }
        }
    }
    bracket untouched{1, 2};
    EXPECT_FALSE(occsolve::find_bracket(no_states(0, 3).view(), 300, untouched));
    EXPECT_FALSE(occsolve::find_bracket(no_states(3, 0).view(), 300, untouched));
    EXPECT_FALSE(occsolve::find_bracket(bands({1.0, nan}).view(), 300, untouched));
    EXPECT_FALSE(occsolve::find_bracket(bands({1.0, 2.0}).view(), -1, untouched));
    EXPECT_FALSE(occsolve::find_bracket(bands({1.0, 2.0}).view(), inf, untouched));
    EXPECT_EQ(untouched.lo, 1);
    EXPECT_EQ(untouched.hi, 2);
}

}  // namespace
