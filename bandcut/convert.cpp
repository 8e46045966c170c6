#include "convert.hpp"

#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <type_traits>

namespace bandcut {

namespace {

// strtof over a copy of the token that starts at `begin`: the C library's own reading,
// for the texts the fast path leaves (long mantissas, exponents, hexadecimal, inf, nan).
// Returns the number of characters strtof took, 0 when it took none.
template <class Real>
std::size_t strto_token(const char* begin, const char* end, Real& out) {
    const char* stop = begin;
    while (stop < end && !is_blank(*stop)) ++stop;
    const auto length = static_cast<std::size_t>(stop - begin);

    char small[64];
    std::string large;
    char* text = small;
    if (length >= sizeof small) {
        large.assign(begin, length);
        text = large.data();
    } else {
        std::memcpy(small, begin, length);
        small[length] = '\0';
    }
    char* taken = nullptr;
    Real value;
    if constexpr (std::is_same_v<Real, float>) {
        value = std::strtof(text, &taken);
    } else {
        value = std::strtod(text, &taken);
    }
    if (taken == text) return 0;
    out = value;
    return static_cast<std::size_t>(taken - text);
}

}  // namespace

line_scanner::line_scanner(std::string_view text)
    : p_(text.data()), end_(text.data() + text.size()) {
    if (const void* nul = std::memchr(p_, '\0', text.size())) end_ = static_cast<const char*>(nul);
}

void line_scanner::skip_blanks() {
    while (p_ < end_ && is_blank(*p_)) ++p_;
}

void line_scanner::skip_equals() {
    skip_blanks();
    if (p_ < end_ && *p_ == '=') ++p_;
}

bool line_scanner::token(std::string_view& out) {
    skip_blanks();
    const char* start = p_;
    while (p_ < end_ && !is_blank(*p_)) ++p_;
    out = {start, static_cast<std::size_t>(p_ - start)};
    return p_ != start;
}

bool line_scanner::integer(std::int64_t& out) {
    skip_blanks();
    const char* q = p_;
    bool negative = false;
    if (q < end_ && (*q == '+' || *q == '-')) negative = *q++ == '-';
    if (q == end_ || !is_digit(*q)) return false;

    // The magnitude saturates one past 2^63 (the magnitude of the most negative value):
    // digits are taken exactly as long as the value fits, and no further.
    constexpr std::uint64_t beyond = std::uint64_t{1} << 63;
    std::uint64_t magnitude = 0;
    for (; q < end_ && is_digit(*q); ++q) {
        const auto d = static_cast<std::uint64_t>(*q - '0');
        magnitude = magnitude > (beyond - d) / 10 ? beyond + 1 : magnitude * 10 + d;
    }
    p_ = q;
    if (negative) {
        out = magnitude >= beyond ? std::numeric_limits<std::int64_t>::min() : -static_cast<std::int64_t>(magnitude);
    } else {
        out = magnitude >= beyond ? std::numeric_limits<std::int64_t>::max() : static_cast<std::int64_t>(magnitude);
    }
    return true;
}

bool line_scanner::real(float& out) {
    skip_blanks();
    if (const char* after = detail::plain_decimal(p_, end_, out)) {
        p_ = after;
        return true;
    }
    const std::size_t taken = strto_token(p_, end_, out);
    p_ += taken;
    return taken != 0;
}

bool line_scanner::real(double& out) {
    skip_blanks();
    const std::size_t taken = strto_token(p_, end_, out);
    p_ += taken;
    return taken != 0;
}

bool line_scanner::real(float& single, double& twice) {
    skip_blanks();
    const char* const start = p_;
    if (!real(single)) return false;
    const char* const after = p_;
    p_ = start;
    const bool both = real(twice);
    p_ = after;
    return both;
}

bool line_scanner::at_end() {
    skip_blanks();
    return p_ == end_;
}

namespace {

// What a conversion that stopped at `end` left out of `text`: nothing when only blanks
// follow, else the reason in words, quoting the first character left (whole, if it is
// a UTF-8 sequence).
std::string left_out(const char* text, const char* end) {
    const char* rest = end;
    while (is_blank(*rest)) ++rest;
    if (*rest == '\0') return end == text ? "it holds no number" : "";
    std::size_t length = 1;
    if (static_cast<unsigned char>(*rest) >= 0xC0)
        while (length < 4 && (static_cast<unsigned char>(rest[length]) & 0xC0) == 0x80) ++length;
    return "the text from \"" + std::string(rest, length) + "\" on is not part of a number";
}

void add_reason(std::string& why, std::string_view reason) {
    if (!why.empty()) why += "; ";
    why += reason;
}

}  // namespace

argument_count read_count_argument(const char* text) {
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text, &end, 10);
    constexpr long long lo = std::numeric_limits<std::int32_t>::min();
    constexpr long long hi = std::numeric_limits<std::int32_t>::max();
    argument_count read{static_cast<std::int32_t>(value < lo ? lo : value > hi ? hi : value), left_out(text, end)};
    if (value < lo || value > hi || errno == ERANGE) add_reason(read.why, "beyond the 32-bit range of a count");
    return read;
}

argument_energy read_energy_argument(const char* text) {
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text, &end);
    const bool out_of_range = errno == ERANGE;
    argument_energy read{narrow(value), left_out(text, end)};
    if (std::isinf(read.value) && (std::isfinite(value) || out_of_range))
        add_reason(read.why, "too large for single precision");
    else if (read.value == 0 && (value != 0 || out_of_range))
        add_reason(read.why, "too small for single precision");
    return read;
}

float narrow(double value) {
    constexpr double largest = std::numeric_limits<float>::max();
    if (std::isfinite(value) && std::fabs(value) > largest) {
        // Half a unit in the last place above FLT_MAX rounds (to even) to infinity.
        const double overflow_at = largest + std::ldexp(1.0, 103);
        const float big = std::fabs(value) >= overflow_at ? std::numeric_limits<float>::infinity()
                                                           : std::numeric_limits<float>::max();
        return value < 0 ? -big : big;
    }
    return static_cast<float>(value);
}

char* format_real(char* out, float value, int precision) {
    if (std::signbit(value)) *out++ = '-';
    if (std::isnan(value)) return std::memcpy(out, "nan", 3), out + 3;
    if (std::isinf(value)) return std::memcpy(out, "inf", 3), out + 3;
    value = std::fabs(value);

    // A float is m * 2^e with m < 2^24.  For six decimals printf prints the integer
    // nearest to m * 10^6 * 2^e (ties to even, as glibc rounds the exact binary value),
    // which 64-bit integers give exactly as long as m * 10^6 * 2^e stays below 2^63.
    const auto bits = std::bit_cast<std::uint32_t>(value);
    const auto biased = static_cast<int>(bits >> 23);
    const std::uint64_t m = biased == 0 ? (bits & 0x7fffffu) : (bits & 0x7fffffu) | 0x800000u;
    const int e = (biased == 0 ? 1 : biased) - 150;
    if (precision == 6 && e <= 19) {
        std::uint64_t micro = m * 1000000u;
        if (e >= 0) {
            micro <<= e;
        } else if (-e >= 64) {
            micro = 0;
        } else {
            const int s = -e;
            const std::uint64_t rest = micro & ((std::uint64_t{1} << s) - 1);
            const std::uint64_t half = std::uint64_t{1} << (s - 1);
            micro >>= s;
            if (rest > half || (rest == half && (micro & 1))) ++micro;
        }
        out = std::to_chars(out, out + 24, micro / 1000000u).ptr;
        *out++ = '.';
        // The six decimals two at a time: a grid file holds millions of them.
        static constexpr char pairs[] =
            "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
            "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
            "8081828384858687888990919293949596979899";
        const auto fraction = static_cast<std::uint32_t>(micro % 1000000u);
        std::memcpy(out, pairs + 2 * (fraction / 10000), 2);
        std::memcpy(out + 2, pairs + 2 * (fraction / 100 % 100), 2);
        std::memcpy(out + 4, pairs + 2 * (fraction % 100), 2);
        return out + 6;
    }
    return std::to_chars(out, out + max_real_chars + precision, static_cast<double>(value),
                         std::chars_format::fixed, precision)
        .ptr;
}

}  // namespace bandcut
