#include "convert.hpp"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

namespace bandcut {

namespace {

// strtof over a copy of the token that starts at `begin`: the C library's own reading,
// for the texts the fast path leaves (long mantissas, exponents, hexadecimal, inf, nan).
// Returns the number of characters strtof took, 0 when it took none.
std::size_t strtof_token(const char* begin, const char* end, float& out) {
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
    const float value = std::strtof(text, &taken);
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

    constexpr std::uint64_t limit = std::numeric_limits<std::int64_t>::max();
    std::uint64_t magnitude = 0;
    for (; q < end_ && is_digit(*q); ++q) {
        // Once past the 64-bit range the value only saturates (to limit + 1).
        if (magnitude > limit) continue;
        magnitude = magnitude > (limit - 9) / 10 ? limit + 1 : magnitude * 10 + static_cast<std::uint64_t>(*q - '0');
    }
    p_ = q;
    if (negative) {
        out = magnitude > limit ? std::numeric_limits<std::int64_t>::min()
                                : -static_cast<std::int64_t>(magnitude);
    } else {
        out = static_cast<std::int64_t>(magnitude > limit ? limit : magnitude);
    }
    return true;
}

bool line_scanner::real(float& out) {
    skip_blanks();
    if (const char* after = detail::plain_decimal(p_, end_, out)) {
        p_ = after;
        return true;
    }
    const std::size_t taken = strtof_token(p_, end_, out);
    p_ += taken;
    return taken != 0;
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
        auto fraction = static_cast<std::uint32_t>(micro % 1000000u);
        for (int i = 5; i >= 0; --i) {
            out[i] = static_cast<char>('0' + fraction % 10);
            fraction /= 10;
        }
        return out + 6;
    }
    return std::to_chars(out, out + max_real_chars + precision, static_cast<double>(value),
                         std::chars_format::fixed, precision)
        .ptr;
}

}  // namespace bandcut
