#include "convert.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

using bandcut::format_real;
using bandcut::line_scanner;

std::string printf_f(const char* format, float v) {
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, format, static_cast<double>(v));
    return buffer;
}

std::string formatted(float v, int precision = 6) {
    char buffer[bandcut::max_real_chars + 16];
    return {buffer, format_real(buffer, v, precision)};
}

struct real_case {
    const char* text;
    float value;
    const char* rest;  // what the conversion leaves
};

TEST(reader, reals_round_like_strtof) {
    const real_case cases[] = {
        {"  -12.3456  2.0", -12.3456f, "  2.0"},
        {"100.00001", 100.00000762939453f, ""},         // eight digits: nearest float
        {"1.23456789012", 1.23456788063049316f, ""},    // past the fast path
        {"\t+3.25", 3.25f, ""},                          // tabs are blanks
        {"-0", -0.0f, ""},
        {".5", 0.5f, ""},
        {"7.", 7.0f, ""},
        {"1e1", 10.0f, ""},
        {"1.5E-3x", 0.0015f, "x"},
        {"1e+x", 1.0f, "e+x"},                           // longest prefix that is a real
        {"0x1p3", 8.0f, ""},
        {"1e40", std::numeric_limits<float>::infinity(), ""},
        {"1e-50", 0.0f, ""},
        {"16777217", 16777216.0f, ""},                   // 2^24 + 1 rounds to even
        {"0.00000000001", 1e-11f, ""},
    };
    for (const auto& c : cases) {
        line_scanner s(c.text);
        float v = -99;
        ASSERT_TRUE(s.real(v)) << c.text;
        EXPECT_EQ(std::bit_cast<std::uint32_t>(v), std::bit_cast<std::uint32_t>(c.value)) << c.text;
        EXPECT_EQ(s.rest(), c.rest) << c.text;
    }
}

TEST(reader, special_reals) {
    for (const char* text : {"inf", "-Infinity", "nan", "NAN(123)"}) {
        line_scanner s(text);
        float v = 0;
        ASSERT_TRUE(s.real(v)) << text;
        EXPECT_TRUE(std::isinf(v) || std::isnan(v)) << text;
        EXPECT_EQ(s.rest(), "") << text;
    }
}

TEST(reader, run_together_numbers) {
    // "%d%f%f" over a band line whose occupation is written against its energy
    line_scanner s("      2       3.2500-0.00100");
    std::int64_t band = 0;
    float energy = 0, occupation = 0;
    ASSERT_TRUE(s.integer(band) && s.real(energy) && s.real(occupation));
    EXPECT_EQ(band, 2);
    EXPECT_EQ(energy, 3.25f);
    EXPECT_EQ(occupation, -0.001f);
}

TEST(reader, conversions_that_fail) {
    float v = 0;
    std::int64_t i = 0;
    std::string_view t;
    using namespace std::literals;
    for (std::string_view text : {""sv, "   "sv, "."sv, "-"sv, "e5"sv, "abc"sv, "--1"sv, "\0 1"sv}) {
        EXPECT_FALSE(line_scanner(text).real(v)) << text;
        EXPECT_FALSE(line_scanner(text).integer(i)) << text;
    }
    EXPECT_FALSE(line_scanner(" \t ").token(t));
    EXPECT_FALSE(line_scanner(" \0 1"sv).token(t));  // a NUL ends the text
}

TEST(reader, integers_and_tokens) {
    line_scanner s("  NKPTS=   -455x  99999999999999999999999 -99999999999999999999999 20000000000000000000 "
                   "9223372036854775807 -9223372036854775808");
    std::string_view t;
    std::int64_t a = 0, b = 0, c = 0;
    ASSERT_TRUE(s.token(t));
    EXPECT_EQ(t, "NKPTS=");
    ASSERT_TRUE(s.integer(a));
    EXPECT_EQ(a, -455);
    ASSERT_TRUE(s.token(t));
    EXPECT_EQ(t, "x");
    ASSERT_TRUE(s.integer(b) && s.integer(c));
    EXPECT_EQ(b, std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(c, std::numeric_limits<std::int64_t>::min());
    for (const std::int64_t expected : {std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::max(),
                                        std::numeric_limits<std::int64_t>::min()}) {
        std::int64_t v = 0;
        ASSERT_TRUE(s.integer(v));
        EXPECT_EQ(v, expected);  // saturated, never wrapped
    }
}

// Integers exactly up to the 64-bit limits, saturated beyond them, never early.
TEST(reader, integers_at_the_64_bit_limits) {
    const std::pair<const char*, std::int64_t> cases[] = {
        {"9223372036854775800", 9223372036854775800},
        {"9223372036854775807", std::numeric_limits<std::int64_t>::max()},
        {"9223372036854775808", std::numeric_limits<std::int64_t>::max()},
        {"-9223372036854775807", -9223372036854775807},
        {"-9223372036854775808", std::numeric_limits<std::int64_t>::min()},
        {"-9223372036854775809", std::numeric_limits<std::int64_t>::min()},
        {"922337203685477580", 922337203685477580},
    };
    for (const auto& [text, value] : cases) {
        std::int64_t v = 0;
        ASSERT_TRUE(line_scanner(text).integer(v)) << text;
        EXPECT_EQ(v, value) << text;
    }
}

// Reals too long for the fast path go through a copy of the token: at, and around, the
// length its small buffer holds.
TEST(reader, long_tokens_read_like_strtof) {
    for (std::size_t length = 60; length <= 68; ++length) {
        std::string text = "-1.";
        while (text.size() < length) text += static_cast<char>('0' + text.size() % 10);
        for (const std::string tail : {"", " 7.5", "e-3"}) {
            const std::string line = text + tail;
            line_scanner s(line);
            float v = 0;
            ASSERT_TRUE(s.real(v)) << line;
            EXPECT_EQ(std::bit_cast<std::uint32_t>(v), std::bit_cast<std::uint32_t>(std::strtof(line.c_str(), nullptr)))
                << line;
            double d = 0;
            ASSERT_TRUE(line_scanner(line).real(d)) << line;
            EXPECT_EQ(d, std::strtod(line.c_str(), nullptr)) << line;
        }
    }
}

// Random decimals of every shape the listing uses, and some it does not, against strtof.
TEST(reader, random_decimals_match_strtof) {
    std::mt19937_64 rng(12345);
    auto digits = [&](int n) {
        std::string s;
        for (int i = 0; i < n; ++i) s += static_cast<char>('0' + rng() % 10);
        return s;
    };
    for (int i = 0; i < 200000; ++i) {
        std::string text = (rng() % 2 ? "-" : "") + digits(1 + static_cast<int>(rng() % 9));
        if (rng() % 4) text += "." + digits(static_cast<int>(rng() % 12));
        if (rng() % 8 == 0) text += "e" + std::to_string(static_cast<int>(rng() % 90) - 45);
        float v = 0;
        ASSERT_TRUE(line_scanner(text).real(v)) << text;
        const float expected = std::strtof(text.c_str(), nullptr);
        ASSERT_EQ(std::bit_cast<std::uint32_t>(v), std::bit_cast<std::uint32_t>(expected)) << text;
    }
}

TEST(writer, reals_print_like_printf) {
    const std::pair<float, const char*> cases[] = {
        {0.0078125f, "0.007812"},  // an exact tie rounds to even, as printf does
        {0.0234375f, "0.023438"},
        {-0.0f, "-0.000000"},
        {-1e-9f, "-0.000000"},
        {100.00001f, "100.000008"},
        {0.1f, "0.100000"},
        {16777216.0f, "16777216.000000"},
        {std::numeric_limits<float>::max(), "340282346638528859811704183484516925440.000000"},
        {std::numeric_limits<float>::denorm_min(), "0.000000"},
        {std::numeric_limits<float>::infinity(), "inf"},
        {-std::numeric_limits<float>::infinity(), "-inf"},
        {std::numeric_limits<float>::quiet_NaN(), "nan"},
        {-std::numeric_limits<float>::quiet_NaN(), "-nan"},
    };
    for (const auto& [v, text] : cases) {
        EXPECT_EQ(formatted(v), text);
        EXPECT_EQ(formatted(v), printf_f("%f", v));
    }
    EXPECT_EQ(formatted(-0.5f, 5), "-0.50000");
}

// Every binary exponent of single precision, against the C library.
TEST(writer, random_floats_match_printf) {
    std::mt19937 rng(777);
    for (int i = 0; i < 300000; ++i) {
        const float v = std::bit_cast<float>(static_cast<std::uint32_t>(rng()));
        ASSERT_EQ(formatted(v), printf_f("%f", v)) << std::bit_cast<std::uint32_t>(v);
        if (i % 8 == 0) {
            ASSERT_EQ(formatted(v, 5), printf_f("%.5f", v));
        }
    }
}

TEST(arguments, narrowing_rounds_to_nearest_and_overflows_to_infinity) {
    const double above_max = static_cast<double>(std::numeric_limits<float>::max());
    EXPECT_EQ(bandcut::narrow(1e40), std::numeric_limits<float>::infinity());
    EXPECT_EQ(bandcut::narrow(-1e40), -std::numeric_limits<float>::infinity());
    EXPECT_EQ(bandcut::narrow(above_max + std::ldexp(1.0, 102)), std::numeric_limits<float>::max());
    EXPECT_EQ(bandcut::narrow(above_max + std::ldexp(1.0, 103)), std::numeric_limits<float>::infinity());
    EXPECT_EQ(bandcut::narrow(5.2), 5.2f);
}

}  // namespace
