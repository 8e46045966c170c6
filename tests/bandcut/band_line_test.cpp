#include "band_line.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using bandcut::band_shape;

// A line in a buffer as the reader holds it: its newline, then readable padding.
struct held_line {
    std::string text;
    explicit held_line(const std::string& line) : text(line + "\n" + std::string(32, '\n')) {}
    const char* data() const { return text.data(); }
    std::string_view line() const { return {text.data(), text.find('\n')}; }
    explicit held_line(const char* line) : held_line(std::string(line)) {}
};

std::uint32_t bits(float x) { return std::bit_cast<std::uint32_t>(x); }

// The exact "%d%f" of a band line; false when it has no energy.
bool exact(const held_line& l, float& energy) {
    return bandcut::band_energy(l.data(), l.data() + l.line().size(), energy);
}

const std::string usual = "      1      -9.0000      2.00000";

// The shape learnt from the usual line, its pattern that line's.
band_shape learnt() {
    const held_line l(usual);
    float e = 0;
    if (!exact(l, e)) return {};
    return bandcut::learn_band_shape(l.line(), e);
}

// Reads a line the fast way with shape s, and tells whether the shape's pattern was left
// as it was (the path that reads only the digits, but for lines that leave no pattern).
bool fast(const held_line& l, band_shape& s, float& energy, bool& by_pattern) {
    char before[sizeof s.pattern];
    std::memcpy(before, s.pattern, sizeof before);
    const bool took = bandcut::fast_band_lines(l.data(), l.line().size() + 1, s, &energy, 1) == 1;
    by_pattern = took && std::memcmp(before, s.pattern, sizeof before) == 0;
    return took;
}

// Every mantissa the fast way converts, against the division the exact way amounts to.
TEST(band_line, four_decimals_round_as_a_division) {
    std::uint32_t differ = 0;
    for (std::uint32_t m = 0; m <= (1u << 24); ++m)
        differ += bits(bandcut::detail::four_decimals(m)) != bits(static_cast<float>(m) / 1e4f);
    EXPECT_EQ(differ, 0u);
}

TEST(band_line, the_usual_shape_is_learnt) {
    const auto s = learnt();
    EXPECT_EQ(s.length, 33u);
    EXPECT_EQ(s.point, 15u);
    // The line its pattern came from is read by the pattern; a fresh shape has none.
    band_shape copy = s;
    float e = 0;
    bool by_pattern = false;
    EXPECT_TRUE(fast(held_line(usual), copy, e, by_pattern));
    EXPECT_TRUE(by_pattern);
    band_shape fresh;
    fresh.length = s.length;
    fresh.point = s.point;
    EXPECT_TRUE(fast(held_line(usual), fresh, e, by_pattern));
    EXPECT_FALSE(by_pattern);
}

// Lines the fast way must read (to the exact way's bits) and lines it must leave to the
// exact way, all of the usual line's length and point.
TEST(band_line, shapes_taken_and_refused) {
    using namespace std::string_literals;
    const struct {
        std::string line;
        bool taken;
    } cases[] = {
        {"      1      -9.0000      2.00000"s, true},
        {"    400      12.3456      0.00000"s, true},
        {"      7       0.0000      2.00000"s, true},
        {"      7      -0.0000      2.00000"s, true},   // a negative zero
        {"1234567    1677.7216      2.00000"s, true},   // a mantissa of 2^24
        {"1234567    1677.7217      2.00000"s, false},  // beyond 2^24: the exact way rounds it
        {"      1       1.0000-0.00100   00"s, false},   // the occupation against the energy
        {"     +1      -9.0000      2.00000"s, false},  // a signed band number
        {"     -1      -9.0000      2.00000"s, false},
        {"  1   1      -9.0000      2.00000"s, false},  // two numbers: %d takes the first
        {"      1     +-9.0000      2.00000"s, false},
        {"      1      +9.0000      2.00000"s, false},  // a plus: the exact way takes it
        {"      1     - 9.0000      2.00000"s, false},
        {"      1      -9.000e      2.00000"s, false},
        {"      1      -9.0000e     2.00000"s, false},  // an exponent letter after the decimals
        {"      1      -9.00001     2.00000"s, false},  // a fifth decimal
        {"      1\t     -9.0000      2.00000"s, false}, // a tab: a blank to %d, not to the fast way
        {"      1      -9.0000\t     2.00000"s, false},
        {"      1      -9.0000      2.0000\r"s, true},  // a CR in the occupation's place: ignored
        {"      1     \0-9.0000      2.00000"s, false},
        {"      1      -9.0000      2.00"s + std::string(2, '\0') + "0", true},  // NULs in the occupation: %f stops first
        {"       1     -9.0000      2.00000"s, false},  // the band number runs into the energy's field
        {"             -9.0000      2.00000"s, false},  // no band number
        {"      1      -9.    0     2.00000"s, false},
        {"      1 0000001.0000      2.00000"s, true},   // seven integer digits
        {"      1-0000001.0000      2.00000"s, true},   // %d stops at the minus
        {"      1-1000001.0000      2.00000"s, false},  // that pattern, and 2^24 exceeded before the fourth digit
        {"      100000001.0000      2.00000"s, false},  // eight: %d takes them with the band number
        {"      1      -9.0000      2.0000"s, false},   // one byte short
        {"      1      -9.0000      2.000000"s, false}, // one byte long
    };
    // Each line three ways: with the usual line's pattern (a line that differs is checked
    // in full), again with the pattern it left, and with the pattern the previous case
    // left, as a reader carries it from line to line.
    const band_shape usual_shape = learnt();
    band_shape carried = usual_shape;
    int by_pattern_taken = 0;
    for (const auto& c : cases) {
        const held_line l(c.line);
        band_shape own = usual_shape;
        float slow = -1;
        const bool has_energy = exact(l, slow);
        for (band_shape* s : {&own, &own, &carried}) {
            float e = -1;
            bool by_pattern = false;
            const bool took = fast(l, *s, e, by_pattern);
            by_pattern_taken += by_pattern;
            EXPECT_EQ(took, c.taken) << &c - cases << ": " << c.line;
            if (took) {
                ASSERT_TRUE(has_energy) << c.line;
                EXPECT_EQ(bits(e), bits(slow)) << c.line;
            }
        }
    }
    EXPECT_GT(by_pattern_taken, 12);
}

TEST(band_line, a_shorter_line_is_no_line_of_the_shape) {
    // A line shorter than the last, followed by one that ends where the shape expects the
    // newline: a newline anywhere after the energy must stop the fast way, whose pattern
    // does not reach there.  Lines longer and shorter than 32 bytes, whose tails are
    // looked at differently.
    for (const std::string& line : {usual, std::string(" 12      -9.0000  2.00"), std::string(" 1     -12.5000 ")}) {
        const held_line whole(line);
        float e = 0;
        ASSERT_TRUE(exact(whole, e));
        const band_shape learnt_here = bandcut::learn_band_shape(whole.line(), e);
        ASSERT_EQ(learnt_here.length, line.size()) << line;
        for (std::size_t at = learnt_here.point + 5; at < line.size(); ++at) {
            std::string two = line;
            two[at] = '\n';
            band_shape s = learnt_here;
            EXPECT_EQ(bandcut::fast_band_lines(held_line(two).data(), line.size() + 1, s, &e, 1), 0u) << line << " " << at;
        }
    }
}

// Many lines in one call: up to the count asked for, the bytes held, or the first line
// that needs the exact way.
TEST(band_line, lines_taken_in_one_call) {
    std::string text;
    for (int i = 1; i <= 9; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "%7d%13.4f%13.5f\n", i, i * 1.5 - 6, 2.0);
        text += line;
    }
    text.replace(6 * 34 + 7, 13, "   -0.150e+1");  // line 7 in another spelling
    const std::size_t lines = text.size() / 34;
    text += std::string(32, '\n');
    const struct {
        std::size_t held, n, taken;
    } cases[] = {{9 * 34, 9, 6}, {9 * 34, 4, 4}, {3 * 34, 9, 3}, {3 * 34 - 1, 9, 2}, {0, 9, 0}, {9 * 34, 0, 0}};
    for (const auto& c : cases) {
        band_shape s = learnt();
        std::vector<float> e(lines, -1.0f);
        ASSERT_EQ(bandcut::fast_band_lines(text.data(), c.held, s, e.data(), c.n), c.taken) << c.held << " " << c.n;
        for (std::size_t i = 0; i < c.taken; ++i) EXPECT_EQ(e[i], static_cast<float>(i + 1) * 1.5f - 6) << i;
        EXPECT_EQ(e[c.taken], -1.0f);
    }
}

// A randomised corpus laid out like a listing's blocks (band numbers counting up, sorted
// energies, so that consecutive lines mostly share their pattern), a quarter of the lines
// perturbed by one byte, read with one shape carried from line to line: wherever the fast
// way reads a line it gives the exact way's bits; it reads every untouched line of the
// usual shape, most by the pattern, and some perturbed lines too (a digit for a digit).
TEST(band_line, random_lines_agree_with_the_exact_way) {
    std::mt19937_64 rng(2024);
    const auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    int usual_lines = 0, taken_usual = 0, taken_perturbed = 0, by_pattern_count = 0;
    band_shape s = learnt();
    for (int block = 0; block < 3000; ++block) {
        const int first_band = 1 + pick(9999), scale = 14 + pick(30);
        std::vector<double> energies(64);
        for (auto& e : energies) {
            const double magnitude = std::ldexp(static_cast<double>(rng() % 100000000), -scale);
            e = pick(3) ? magnitude : -magnitude;
        }
        std::sort(energies.begin(), energies.end());
        for (std::size_t j = 0; j < energies.size(); ++j) {
            char energy[32];
            std::snprintf(energy, sizeof energy, "%13.4f", energies[j]);
            char line[96];
            std::snprintf(line, sizeof line, "%7d%s%13.5f", first_band + static_cast<int>(j), energy,
                          pick(3) ? 2.0 : -0.001);
            std::string text(line);
            // Of the usual shape, and no more than 2^24 units of the last decimal.
            const bool usual_shape =
                text.size() == usual.size() && text[15] == '.' && std::fabs(std::atof(energy)) <= 1677.7216;
            const bool perturbed = pick(4) == 0;
            if (perturbed) {
                const char alphabet[] = " -+.0123456789eE\t\r\0xyz";
                text[static_cast<std::size_t>(pick(static_cast<int>(text.size())))] =
                    alphabet[pick(sizeof alphabet - 1)];
            }
            usual_lines += usual_shape && !perturbed;
            const held_line l(text);
            float e = -1, slow = -1;
            bool by_pattern = false;
            if (!fast(l, s, e, by_pattern)) continue;
            taken_usual += usual_shape && !perturbed;
            taken_perturbed += perturbed;
            by_pattern_count += by_pattern;
            ASSERT_TRUE(exact(l, slow)) << text;
            ASSERT_EQ(bits(e), bits(slow)) << text;
        }
    }
    EXPECT_GT(usual_lines, 100000);
    EXPECT_EQ(taken_usual, usual_lines);          // the fast way did the work
    EXPECT_GT(by_pattern_count, usual_lines / 2);  // mostly by the last line's pattern
    EXPECT_GT(taken_perturbed, 1000);             // and met lines it had to check closely
}

}  // namespace
