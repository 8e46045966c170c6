#include "band_line.hpp"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace bandcut {

// m / 10^4 for m <= 2^24, rounded to float as strtof rounds the decimal: the same bits as
// float(m) / 1e4f (m is exact in a float, and IEEE division rounds the true quotient),
// without the divider, whose latency the reading of millions of lines would queue on.
//   The double product is within 2^-52 of the true quotient q = m / 10^4, relatively (the
// rounded constant, the rounded product).  A midpoint between neighbouring floats near q
// is some odd * 2^-j with 2^24 <= q 2^j < 2^25, and unless q is on it, it lies at least
// |m 2^j - odd * 10^4| / (10^4 2^j) >= 1 / (10^4 2^j) > q * 2^-39 away.  And q is never
// on one: a dyadic q is t / 16 with t = m / 625 < 2^15, itself a float.  So no midpoint
// separates the product from q, and rounding the product to float gives float(q).  The
// tests check all 2^24 + 1 mantissas.
float detail::four_decimals(std::uint32_t m) { return static_cast<float>(static_cast<double>(m) * 1e-4); }

#ifdef __SSE2__

namespace {

__m128i load16(const char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// 0xFF in each byte of v that is a digit, 0 elsewhere: '0' to '9' move to the bottom of
// the signed range, where they alone are below -118.
__m128i digit_bytes(__m128i v) { return _mm_cmplt_epi8(_mm_add_epi8(v, _mm_set1_epi8(0x50)), _mm_set1_epi8(-118)); }

// The pattern of bytes v: digits as '0' (their low four bits cleared), the rest as they are.
__m128i pattern_of(__m128i v, __m128i digits) { return _mm_andnot_si128(_mm_and_si128(digits, _mm_set1_epi8(0x0F)), v); }

// Bit i set where byte i is set in `bytes`; where byte i of v is c.
unsigned mask_of(__m128i bytes) { return static_cast<unsigned>(_mm_movemask_epi8(bytes)); }
unsigned bytes_of(__m128i v, char c) { return mask_of(_mm_cmpeq_epi8(v, _mm_set1_epi8(c))); }

std::uint32_t load4(const char* p) {
    std::uint32_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// The number that eight digit values (0 to 9, one per byte, the first byte the most
// significant) spell.
constexpr std::uint64_t eight_digit_values(std::uint64_t w) {
    w = (w * 10) + (w >> 8);
    return (((w & 0x000000FF000000FFu) * (100 + (1000000ull << 32))) +
            (((w >> 16) & 0x000000FF000000FFu) * (1 + (10000ull << 32)))) >> 32;
}

// The energy whose decimal digits spell `mantissa` (four of them decimals), if the
// mantissa is at most 2^24.
bool energy_of(std::uint64_t mantissa, bool negative, float& energy) {
    if (mantissa > (1u << 24)) return false;
    const float magnitude = detail::four_decimals(static_cast<std::uint32_t>(mantissa));
    energy = std::bit_cast<float>(std::bit_cast<std::uint32_t>(magnitude) | (negative ? 0x80000000u : 0u));
    return true;
}

// No newline in the line's bytes [from, s.length): none but the one that ends it.  Sixteen
// bytes at a time from the end; the first may overlap what lies before `from`, which the
// caller has found free of newlines.
bool no_newline_from(const char* p, const band_shape& s, std::size_t from) {
    bool ok = p[s.length] == '\n';
    for (std::size_t at = s.length; at > from; at -= 16) ok &= bytes_of(load16(p + at - 16), '\n') == 0;
    return ok;
}

// The line at p read by the shape's pattern, once its first 32 bytes matched it: the
// rest of the line, then the eight bytes around the point.
[[gnu::always_inline]] inline bool by_pattern(const char* p, const band_shape& s, float& energy) {
    if (!no_newline_from(p, s, 32)) return false;
    const std::uint64_t around = load4(p + s.point - 4) | std::uint64_t{load4(p + s.point + 1)} << 32;
    // Digits to their values, blanks and the minus to 0.  Of the bytes the pattern allows
    // here, only digits (0x30 to 0x39) have bit 4 set; ' ' is 0x20, '-' 0x2D.
    const std::uint64_t digits = ((around >> 4) & 0x0101010101010101u) * 0xFF;
    return energy_of(eight_digit_values(around & digits & 0x0F0F0F0F0F0F0F0Fu), s.negative, energy);
}

// The whole check of a line against its shape's length and point: blanks, the band
// number's digits, blanks or a minus or both, one to seven digits, the point, four
// digits, a blank, and the newline at the end and none before.  A line that passes
// becomes the pattern if its mantissa lies in the eight bytes around the point.
bool checked_line(const char* p, band_shape& s, float& energy) {
    // The field: eight bytes before the point, the point, four decimals, a blank.
    const __m128i n = load16(p), f = load16(p + s.point - 8);
    const __m128i f_digits = digit_bytes(f);
    const unsigned fd = mask_of(f_digits), fb = bytes_of(f, ' '), fm = bytes_of(f, '-') & 0xFF;
    // Before the point: k digits up to it, below them r = 2^(8-k) - 1 bytes of blanks but
    // for a minus right below the digits; 1 <= k <= 7, so that byte 0 separates the
    // energy from the band number.
    const unsigned r = ~fd & 0xFF;
    // The band number's window, the bytes before the field: blanks, then digits.
    const unsigned window = (1u << (s.point - 8)) - 1;
    const unsigned nd = mask_of(digit_bytes(n)) & window, nb = bytes_of(n, ' ') & window;
    const unsigned lead = window & ~nd;
    const bool ok = ((bytes_of(f, '.') >> 8) & 1) & ((fd & 0x1E00) == 0x1E00) & ((fb >> 13) & 1) &  //
                    (r != 0) & (r != 0xFF) & ((r & (r + 1)) == 0) & (((fb | fm) & 0xFF) == r) &
                    ((fm & (r >> 1)) == 0) & (nd != 0) & (nb == lead) & ((lead & (lead + 1)) == 0);
    if (!ok || !no_newline_from(p, s, s.point + 6)) return false;
    // The digits' values, 0 in place of blanks and the minus; the mantissa from the eight
    // bytes before the point and the four after it.
    const __m128i values = _mm_and_si128(_mm_sub_epi8(f, _mm_set1_epi8('0')), f_digits);
    const auto whole = eight_digit_values(static_cast<std::uint64_t>(_mm_cvtsi128_si64(values)));
    auto d = static_cast<std::uint32_t>(static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_srli_si128(values, 8))) >> 8);
    d = (d * 10) + (d >> 8);
    const std::uint64_t mantissa = whole * 10000 + ((d & 0xFFu) * 100) + ((d >> 16) & 0xFFu);
    if (!energy_of(mantissa, fm != 0, energy)) return false;
    if (fd & 0x0F) return true;  // more than four digits before the point: no pattern
    const __m128i a = load16(p), b = load16(p + 16);
    _mm_store_si128(reinterpret_cast<__m128i*>(s.pattern), pattern_of(a, digit_bytes(a)));
    _mm_store_si128(reinterpret_cast<__m128i*>(s.pattern + 16), pattern_of(b, digit_bytes(b)));
    s.negative = fm != 0;
    return true;
}

// Whether the first 32 bytes at p have the shape's pattern where it cares, and no newline
// in its tail.  (AVX2, 32 bytes at once, measured no faster.)
[[gnu::always_inline]] inline bool same_pattern(const char* p, const band_shape& s) {
    const auto differs = [&](std::size_t at) {
        const __m128i v = load16(p + at);
        const __m128i pattern = pattern_of(v, digit_bytes(v));
        return _mm_or_si128(
            _mm_and_si128(_mm_xor_si128(pattern, load16(s.pattern + at)), load16(s.care + at)),
            _mm_and_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n')), load16(s.tail + at)));
    };
    return mask_of(_mm_cmpeq_epi8(_mm_or_si128(differs(0), differs(16)), _mm_setzero_si128())) == 0xFFFF;
}

}  // namespace

std::size_t fast_band_lines(const char* p, std::size_t held, band_shape& s, float* energy, std::size_t n) {
    if (!s.length) return 0;
    const std::size_t step = s.length + 1;
    std::size_t i = 0;
    for (; i < n && held > s.length; ++i, p += step, held -= step) {
        if (same_pattern(p, s) ? !by_pattern(p, s, energy[i]) : !checked_line(p, s, energy[i])) break;
    }
    return i;
}

#else

std::size_t fast_band_lines(const char*, std::size_t, band_shape&, float*, std::size_t) { return 0; }

#endif

band_shape learn_band_shape(std::string_view line, float value) {
    const auto point = line.find('.');
    if (point < 9 || point > 16 || line.size() < point + 6) return {};
    band_shape candidate;
    candidate.length = line.size();
    candidate.point = point;
    for (std::size_t i = 0; i < 32; ++i) {
        candidate.care[i] = i < point + 6 ? band_shape::all : 0;
        candidate.tail[i] = i >= point + 6 && i < line.size() ? band_shape::all : 0;
    }
    float check = 0;
    if (fast_band_lines(line.data(), line.size() + 1, candidate, &check, 1) == 1 &&
        std::bit_cast<std::uint32_t>(check) == std::bit_cast<std::uint32_t>(value))
        return candidate;
    return {};
}

}  // namespace bandcut
