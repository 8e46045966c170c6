#include "plain_search.hpp"

#include <occsolve/core.hpp>
#include <occsolve/ef.hpp>
#include <occsolve/occsolve.h>
#include <occsolve/params.hpp>
#include <occsolve/variable.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

namespace v = occsolve::variable;
using occsolve::ef::getef;
namespace params = occsolve::params;

// One k-point of weight 1, one spin channel, the given bands.
void one_kpoint(std::vector<double> bands, double totale, double t) {
    v::nspin = 1;
    v::nk = 1;
    v::nband = static_cast<std::int32_t>(bands.size());
    v::t = t;
    v::totale = totale;
    v::bandenergy.allocate(1, v::nband, 1);
    for (int b = 1; b <= v::nband; ++b) v::bandenergy(1, b, 1) = bands[static_cast<std::size_t>(b - 1)];
    v::kwpt.allocate(1);
    v::kwpt(1) = 1.0;
}

struct search_case {
    const char* name;
    std::vector<double> bands;
    double totale, t;
    const double *emin, *emax;
    double efermi;
    int status;
};

const double b45 = 4.5, b55 = 5.5, b65 = 6.5;

TEST(getef, worked_examples) {
    const search_case cases[] = {
        // 11, 6.5, 4.25, then 5.375, whose count is within 1e-8 of 2: not the gap's centre
        {"no bracket", {4.0, 6.0}, 2.0, 300, nullptr, nullptr, 5.375, params::status_converged},
        {"bracket 4.5 to 5.5: 5.0 at once", {4.0, 6.0}, 2.0, 300, &b45, &b55, 5.0, params::status_converged},
        {"only emin: the default bracket", {4.0, 6.0}, 2.0, 300, &b45, nullptr, 5.375, params::status_converged},
        {"count equal at the first midpoint", {10.0, 12.0}, 2.0, 300, nullptr, nullptr, 11.0, params::status_converged},
        // Mended: these used to loop for ever.
        {"level outside the bracket", {30.0, 31.0}, 2.0, 300, nullptr, nullptr, 20.0, params::status_stalled},
        {"upside-down bracket", {4.0, 6.0}, 2.0, 300, &b65, &b55, 6.5, params::status_stalled},
        {"zero temperature: the count jumps", {4.0, 6.0}, 1.0, 0, nullptr, nullptr, 4.0, params::status_stalled},
        {"zero temperature, a band at the first level", {11.0, 30.0}, 1.0, 0, nullptr, nullptr, 11.0, params::status_stalled},
    };
    for (const auto& c : cases) {
        one_kpoint(c.bands, c.totale, c.t);
        int status = -1;
        getef(c.emin, c.emax, &status);
        EXPECT_EQ(v::efermi, c.efermi) << c.name;
        EXPECT_EQ(status, c.status) << c.name;
        EXPECT_EQ(v::ik, 2) << c.name;
        EXPECT_EQ(v::iband, 3) << c.name;
        EXPECT_EQ(v::ispin, 2) << c.name;
    }
}

TEST(getef, no_kpoints) {
    v::nspin = 1;
    v::nk = 0;
    v::nband = 4;
    v::totale = 0;
    v::t = 300;
    v::bandenergy.deallocate();
    v::kwpt.deallocate();
    v::iband = -7;
    v::ispin = -8;
    getef();  // no status argument
    EXPECT_EQ(v::efermi, 11.0);
    EXPECT_EQ(v::ik, 1);
    EXPECT_EQ(v::iband, -7);
    EXPECT_EQ(v::ispin, -8);
}

TEST(allocatable, layout_and_impossible_sizes) {
    occsolve::allocatable<double, 3> a;
    EXPECT_FALSE(a.allocated());
    a.allocate(2, 3, 4);
    a(2, 3, 4) = 7.0;
    a(1, 2, 1) = 5.0;
    EXPECT_EQ(a.data()[(2 - 1) + 2 * ((3 - 1) + 3 * (4 - 1))], 7.0);  // first index fastest
    EXPECT_EQ(a.data()[2], 5.0);
    EXPECT_EQ(a.extent(3), 4);
    a.allocate(-1, 5, 5);
    EXPECT_EQ(a.size(), 0);
    EXPECT_THROW(a.allocate(std::int64_t{1} << 40, std::int64_t{1} << 40, 1), std::bad_alloc);
    EXPECT_FALSE(a.allocated());
}

TEST(c_interface, shares_the_state_and_never_throws) {
    double* e = occsolve_allocate_bandenergy(2, 3, 4);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e, v::bandenergy.data());  // the same storage, no copy
    for (int dim = 0; dim <= 4; ++dim) EXPECT_EQ(occsolve_bandenergy_extent(dim), dim >= 1 && dim <= 3 ? dim + 1 : 0);
    EXPECT_EQ(occsolve_allocate_bandenergy(std::int64_t{1} << 40, std::int64_t{1} << 40, 1), nullptr);
    EXPECT_FALSE(v::bandenergy.allocated());
    EXPECT_EQ(occsolve_allocate_kwpt(std::int64_t{1} << 62), nullptr);
    occsolve_set_nspin(1);
    occsolve_set_nk(1);
    occsolve_set_nband(2);
    EXPECT_EQ(v::nspin, 1);
    int status = -1;  // the arrays the counts need are unallocated
    occsolve_getef(nullptr, nullptr, &status);
    EXPECT_EQ(status, OCCSOLVE_STATUS_UNUSABLE);
}

TEST(getef, unusable_state_is_not_read) {
    const struct {
        const char* name;
        void (*spoil)();
    } cases[] = {
        {"no spin channel", [] { v::nspin = 0; }},
        {"negative k-points", [] { v::nk = -1; }},
        {"negative bands", [] { v::nband = -2; }},
        {"band energies unallocated", [] { v::bandenergy.deallocate(); }},
        {"weights unallocated", [] { v::kwpt.deallocate(); }},
        {"too few bands allocated", [] { v::bandenergy.allocate(1, 1, 1); }},
        {"too few spins allocated", [] { v::nspin = 2; }},
        {"too few weights", [] { v::nk = 2; }},
    };
    for (const auto& c : cases) {
        one_kpoint({4.0, 6.0}, 2.0, 300);
        c.spoil();
        v::efermi = -1;
        v::ik = v::iband = v::ispin = -3;
        int status = -1;
        getef(nullptr, nullptr, &status);
        EXPECT_EQ(status, params::status_unusable) << c.name;
        EXPECT_EQ(v::efermi, -1) << c.name;
        EXPECT_EQ(v::ik, -3) << c.name;
    }
}

// The stateless C interface reads the caller's arrays only where their description
// holds: each spoiled description is refused, with the outputs left as they were.
TEST(c_interface, stateless_calls_read_only_what_is_described) {
    // Two spins, three bands, two k-points in arrays of extents (2, 4, 3): padded.
    std::vector<double> e(2 * 4 * 3, std::nan("")), w{0.25, 0.75, std::nan("")};
    for (int k = 0; k < 2; ++k)
        for (int b = 0; b < 3; ++b)
            for (int s = 0; s < 2; ++s) e[static_cast<std::size_t>(s + 2 * (b + 4 * k))] = -1.0 + b + 0.5 * s + 0.25 * k;
    const occsolve_bands good{2, 3, 2, {2, 4, 3}, e.data(), w.data()};
    const double big = static_cast<double>(std::int64_t{1} << 40);
    const struct {
        const char* name;
        occsolve_bands bands;
    } refused[] = {
        {"no spin channel", {0, 3, 2, {2, 4, 3}, e.data(), w.data()}},
        {"negative bands", {2, -1, 2, {2, 4, 3}, e.data(), w.data()}},
        {"negative k-points", {2, 3, -2, {2, 4, 3}, e.data(), w.data()}},
        {"spin extent short", {2, 3, 2, {1, 4, 3}, e.data(), w.data()}},
        {"band extent short", {2, 3, 2, {2, 2, 3}, e.data(), w.data()}},
        {"k-point extent short", {2, 3, 2, {2, 4, 1}, e.data(), w.data()}},
        {"extents beyond memory", {2, 3, 2, {2, std::int64_t{1} << 40, std::int64_t{1} << 40}, e.data(), w.data()}},
        {"no energies", {2, 3, 2, {2, 4, 3}, nullptr, w.data()}},
        {"no weights", {2, 3, 2, {2, 4, 3}, e.data(), nullptr}},
    };
    for (const auto& c : refused) {
        double level = big, count = big, lo = big, hi = big;
        EXPECT_EQ(occsolve_find_level(&c.bands, 300, 3, nullptr, nullptr, &level), OCCSOLVE_STATUS_UNUSABLE) << c.name;
        EXPECT_EQ(occsolve_electron_count(&c.bands, 300, 0, &count), OCCSOLVE_STATUS_UNUSABLE) << c.name;
        EXPECT_EQ(occsolve_find_bracket(&c.bands, 300, &lo, &hi), OCCSOLVE_STATUS_UNUSABLE) << c.name;
        EXPECT_EQ(level + count + lo + hi, 4 * big) << c.name;
    }
    double level = big, lo = 0, hi = 0, count = 0;
    EXPECT_EQ(occsolve_find_level(nullptr, 300, 3, nullptr, nullptr, &level), OCCSOLVE_STATUS_UNUSABLE);
    // Readable arrays, but electrons or a bracket end the search cannot use: *level as it was.
    const double nan = std::nan(""), inf = HUGE_VAL, two = 2;
    for (const auto& [electrons, end] : {std::pair{nan, two}, std::pair{inf, two}, std::pair{3.0, nan}}) {
        lo = end;
        EXPECT_EQ(occsolve_find_level(&good, 300, electrons, &lo, &two, &level), OCCSOLVE_STATUS_UNUSABLE) << electrons;
        EXPECT_EQ(level, big) << electrons;
    }
    EXPECT_EQ(occsolve_electron_count(&good, 300, 0, nullptr), OCCSOLVE_STATUS_UNUSABLE);
    EXPECT_EQ(occsolve_find_bracket(&good, 300, &lo, nullptr), OCCSOLVE_STATUS_UNUSABLE);
    // The described arrays: the core's answers, bit for bit, and the same through the
    // shared state holding the same numbers.
    const occsolve::band_view v{2, 3, 2, e.data(), 2, 8, w.data()};
    occsolve::bracket b{};
    ASSERT_TRUE(occsolve::find_bracket(v, 300, b));
    ASSERT_EQ(occsolve_find_bracket(&good, 300, &lo, &hi), OCCSOLVE_STATUS_CONVERGED);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(lo), std::bit_cast<std::uint64_t>(b.lo));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(hi), std::bit_cast<std::uint64_t>(b.hi));
    ASSERT_EQ(occsolve_find_level(&good, 300, 3, &lo, &hi, &level), OCCSOLVE_STATUS_CONVERGED);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(level), std::bit_cast<std::uint64_t>(occsolve::find_level(v, 300, 3, b).level));
    // No bracket given: the data's own, in C and C++ alike (not the shared state's 2 to 20 eV).
    double by_default = big;
    ASSERT_EQ(occsolve_find_level(&good, 300, 3, nullptr, &hi, &by_default), OCCSOLVE_STATUS_CONVERGED);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(by_default), std::bit_cast<std::uint64_t>(level));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(occsolve::find_level(v, 300, 3).level), std::bit_cast<std::uint64_t>(level));
    ASSERT_EQ(occsolve_electron_count(&good, 300, level, &count), OCCSOLVE_STATUS_CONVERGED);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(count), std::bit_cast<std::uint64_t>(occsolve::electron_count(v, 300, level)));
    v::nspin = 2;
    v::nband = 3;
    v::nk = 2;
    v::t = 300;
    v::totale = 3;
    v::bandenergy.allocate(2, 4, 3);
    std::copy(e.begin(), e.end(), v::bandenergy.data());
    v::kwpt.allocate(3);
    std::copy(w.begin(), w.end(), v::kwpt.data());
    int status = -1;
    getef(&lo, &hi, &status);
    EXPECT_EQ(status, OCCSOLVE_STATUS_CONVERGED);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(v::efermi), std::bit_cast<std::uint64_t>(level));
}

// A random band structure of nk k-points: bands ascending at each k-point (as calculations
// give them) or shuffled, weights summing to about 1, totale somewhere in the spectrum.
void random_state(std::mt19937_64& rng, int nspin, int nk, int nband, double t, bool sorted, int pad = 0) {
    v::nspin = nspin;
    v::nk = nk;
    v::nband = nband;
    v::t = t;
    v::bandenergy.allocate(nspin + pad, nband + pad, nk + pad);
    v::kwpt.allocate(nk + pad);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int k = 1; k <= nk; ++k) {
        v::kwpt(k) = (1.0 + unit(rng)) / (1.5 * nk);
        for (int s = 1; s <= nspin; ++s) {
            std::vector<double> e(static_cast<std::size_t>(nband));
            for (auto& x : e) x = -10.0 + 25.0 * unit(rng);
            if (sorted) std::sort(e.begin(), e.end());
            for (int b = 1; b <= nband; ++b) v::bandenergy(s, b, k) = e[static_cast<std::size_t>(b - 1)];
        }
    }
    double weights = 0;
    for (int k = 1; k <= nk; ++k) weights += v::kwpt(k);
    const double full = static_cast<double>(2.0f / static_cast<float>(nspin));
    v::totale = full * nspin * weights * nband * (0.3 + 0.4 * unit(rng));
}

// Through the shared state, inside the bracket getef_bracket gives: converged, with the
// plain sweep's bits and counters.
TEST(getef, agrees_bit_for_bit_with_the_plain_sweep) {
    std::mt19937_64 rng(2026);
    const struct {
        int nspin, nk, nband;
        double t;
        bool sorted;
        int pad;
    } shapes[] = {
        {1, 200, 60, 300, true, 0},   {2, 150, 50, 300, true, 1}, {2, 120, 40, 30, true, 0},
        {1, 300, 30, 3000, false, 0}, {3, 60, 40, 300, true, 2},  {4, 50, 30, 1000, false, 0},
        {2, 200, 64, 10000, true, 0},
    };
    for (const auto& s : shapes) {
        for (int repeat = 0; repeat < 3; ++repeat) {
            random_state(rng, s.nspin, s.nk, s.nband, s.t, s.sorted, s.pad);
            double lo = 0, hi = 0;
            ASSERT_TRUE(occsolve::ef::getef_bracket(lo, hi));
            const auto expected = plain::search(lo, hi, 5000);
            int status = -1;
            getef(&lo, &hi, &status);
            EXPECT_EQ(std::bit_cast<std::uint64_t>(v::efermi), std::bit_cast<std::uint64_t>(expected.efermi))
                << "nspin " << s.nspin << " nk " << s.nk << " t " << s.t << ": " << v::efermi << " vs " << expected.efermi;
            EXPECT_EQ(status, params::status_converged);
            EXPECT_EQ(v::ik, s.nk + 1);
            EXPECT_EQ(v::iband, s.nband + 1);
            EXPECT_EQ(v::ispin, s.nspin + 1);
        }
    }
}

// Inputs that used to loop for ever through getef: each returns with its status.
TEST(getef, hostile_states_return) {
    const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity(), five = 5;
    const double big_lo = -1e308, big_hi = 1e308, minus_inf = -inf;
    const struct {
        const char* name;
        void (*set)();
        const double *emin, *emax;
        int status;
    } cases[] = {
        {"totale not a number", [] { one_kpoint({4.0, 6.0}, std::nan(""), 300); }, nullptr, nullptr, params::status_unusable},
        {"no k-point, emin not a number", [] { one_kpoint({4.0, 6.0}, 0, 300); v::nk = 0; }, &nan, &five, params::status_unusable},
        {"no band, emax not a number", [] { one_kpoint({4.0, 6.0}, 0, 300); v::nband = 0; }, &five, &nan, params::status_unusable},
        {"no k-point, the whole line", [] { one_kpoint({4.0, 6.0}, 1, 300); v::nk = 0; }, &minus_inf, &inf, params::status_stalled},
        {"a lone bracket end is ignored, whatever its value", [] { one_kpoint({4.0, 6.0}, 2, 300); }, &nan, nullptr,
         params::status_converged},
        {"the widest finite bracket", [] { one_kpoint({4.0, 6.0}, 2, 300); }, &big_lo, &big_hi, params::status_converged},
    };
    for (const auto& c : cases) {
        c.set();
        v::efermi = -1;
        int status = -1;
        getef(c.emin, c.emax, &status);
        EXPECT_EQ(status, c.status) << c.name;
        if (c.status == params::status_unusable) {
            EXPECT_EQ(v::efermi, -1) << c.name;  // nothing changed
        }
    }
}

TEST(getef, getef_bracket_through_the_shared_state) {
    one_kpoint({-9.5, -7.25, -3.0}, 3, 300);
    double lo = 0, hi = 0;
    ASSERT_TRUE(occsolve::ef::getef_bracket(lo, hi));
    EXPECT_LT(lo, -9.5 - 41 * params::kB * 300 + 1e-12);
    EXPECT_GT(hi, -3.0 + 41 * params::kB * 300 - 1e-12);
    int status = -1;
    getef(nullptr, nullptr, &status);  // the default bracket cannot hold a level below 0 eV
    EXPECT_EQ(status, params::status_stalled);
    getef(&lo, &hi, &status);
    EXPECT_EQ(status, params::status_converged);
    EXPECT_NEAR(v::efermi, -7.25, 1e-6);  // the second band half full
    // Through C: a status returned (and stored where asked), the former names alike.
    double clo = 0, chi = 0, alo = 0, ahi = 0;
    ASSERT_EQ(occsolve_getef_bracket(&clo, &chi), OCCSOLVE_STATUS_CONVERGED);
    ASSERT_EQ(occsolve_energy_bracket(&alo, &ahi), 1);
    ASSERT_TRUE(occsolve::ef::energy_bracket(lo, hi));
    EXPECT_EQ(std::make_pair(clo, chi), std::make_pair(lo, hi));
    EXPECT_EQ(std::make_pair(alo, ahi), std::make_pair(lo, hi));
    EXPECT_EQ(occsolve_getef(nullptr, nullptr, nullptr), OCCSOLVE_STATUS_STALLED);
    status = -1;
    EXPECT_EQ(occsolve_getef(&lo, &hi, &status), OCCSOLVE_STATUS_CONVERGED);
    EXPECT_EQ(status, OCCSOLVE_STATUS_CONVERGED);
    // An unusable state, or none: false, the arguments untouched; likewise through C.
    for (auto spoil : {+[] { v::kwpt.deallocate(); }, +[] { v::nk = 0; }, +[] { v::t = -1; },
                       +[] { v::bandenergy(1, 2, 1) = std::nan(""); }}) {
        one_kpoint({-9.5, -7.25, -3.0}, 3, 300);
        spoil();
        double a = 1, b = 2;
        EXPECT_FALSE(occsolve::ef::getef_bracket(a, b));
        EXPECT_EQ(occsolve_getef_bracket(&a, &b), OCCSOLVE_STATUS_UNUSABLE);
        EXPECT_EQ(occsolve_energy_bracket(&a, &b), 0);
        EXPECT_EQ(a, 1);
        EXPECT_EQ(b, 2);
    }
    EXPECT_EQ(occsolve_energy_bracket(nullptr, &hi), 0);
    EXPECT_EQ(occsolve_getef_bracket(&lo, nullptr), OCCSOLVE_STATUS_UNUSABLE);
}

// Energies a hair from +-40 kT of the levels the search tries (dyadic midpoints of the
// bracket), where a state turns from exactly full or empty to evaluated: the states the
// fast search classifies by comparison rather than by evaluating them.
TEST(getef, states_at_the_cut_offs_agree_with_the_plain_sweep) {
    std::mt19937_64 rng(7);
    for (const double t : {300.0, 11.0, 1e-3}) {
        random_state(rng, 2, 150, 40, t, true);
        const double kT = params::kB * t;
        for (int k = 1; k <= v::nk; ++k)
            for (int b = 1; b <= v::nband; ++b)
                for (int s = 1; s <= v::nspin; ++s) {
                    if (rng() % 3) continue;
                    // a level 2 + 18 i / 2^j and a state 40 kT above or below it, a few ulps off
                    const int j = 1 + static_cast<int>(rng() % 12);
                    const double level = 2.0 + 18.0 * static_cast<double>(rng() % (1u << j)) / (1u << j);
                    double e = level + (rng() % 2 ? 40.0 : -40.0) * kT;
                    for (int step = static_cast<int>(rng() % 5) - 2; step != 0; step += step > 0 ? -1 : 1)
                        e = std::nextafter(e, step > 0 ? 1e9 : -1e9);
                    v::bandenergy(s, b, k) = e;
                }
        const auto expected = plain::search(2.0, 20.0, 5000);
        getef();
        EXPECT_EQ(std::bit_cast<std::uint64_t>(v::efermi), std::bit_cast<std::uint64_t>(expected.efermi)) << t;
        EXPECT_LT(expected.passes, 5000) << t;
    }
}

}  // namespace
