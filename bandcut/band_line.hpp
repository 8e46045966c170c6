// Band lines, "band-number energy occupation", converted as "%d%f" converts them: the
// exact way for any line, and a fast way for the millions of lines of a listing's usual
// shape, which gives the same bits or declines.  Part of the conversions (convert.hpp);
// inline, since the eigenvalue reader runs them once per band line.
#pragma once

#include "convert.hpp"

#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace bandcut {

// Blanks within a line: what scanf skips, but for the newline that ends the line.
constexpr bool is_line_blank(char c) { return c != '\n' && is_blank(c); }

static_assert(std::endian::native == std::endian::little, "the 8-byte scans number bytes from the low end");

inline std::uint64_t load8(const char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// Past the blanks at p.  Band lines are mostly runs of spaces, skipped eight at a time.
inline const char* skip_line_blanks(const char* p) {
    constexpr std::uint64_t spaces = 0x2020202020202020u;
    for (std::uint64_t x; (x = load8(p) ^ spaces) == 0;) p += 8;
    p += std::countr_zero(load8(p) ^ spaces) / 8;
    while (is_line_blank(*p)) ++p;
    return p;
}

// "%f" from p to the line's end at `end`; false when no energy stands there.
inline bool energy_at(const char* p, const char* end, float& energy) {
    return detail::plain_decimal(p, end, energy) || line_scanner({p, static_cast<std::size_t>(end - p)}).real(energy);
}

// "%d%f" over a band line "band-number energy occupation" that ends at `end` (where a
// '\n' stands).  The band number must be there but is not kept (the energy's column is
// its position in the block); the occupation is not read.  False when the number or the
// energy is missing.
inline bool band_energy(const char* p, const char* end, float& energy) {
    p = skip_line_blanks(p);
    p += (*p == '+' || *p == '-');
    if (!is_digit(*p)) return false;
    while (is_digit(*++p)) {
    }
    return energy_at(skip_line_blanks(p), end, energy);
}

// The usual band line, "%7d%13.4f%13.5f": a right-aligned band number, an energy with its
// point at a fixed column and four decimals, an occupation.  Millions of lines of one
// shape are read by `fast_band_line` from the previous line's positions, sixteen bytes at
// a time; any line that differs in the least (a sign before the band number, a tab, an
// exponent, a fifth decimal, a NUL, another length) takes the exact conversion.
//
// Consecutive lines mostly differ in their digits only: their blanks, minus and point
// stand where the last line's did.  The shape keeps that last line's pattern (its bytes
// up to the blank after the energy, each digit as '0'), and a line of the same pattern is
// as well-formed as the last, so only its digits need reading.  A line of another pattern
// is checked in full, and becomes the pattern.
struct band_shape {
    std::size_t length = 0;  // bytes before the newline; 0: no shape learnt yet
    std::size_t point = 0;   // column of the energy's decimal point, 9 to 16
    // The pattern of the last line read the fast way: its first 16 bytes, then the 16 from
    // 8 before the point; `care` is 0xFF where a byte belongs to the pattern, 0 after the
    // blank that ends the energy.  '1' never stands in a pattern (digits read '0'), so a
    // shape without one matches no line.
    static constexpr char none = '1', all = static_cast<char>(0xFF);
    alignas(16) char pattern[32] = {none, none, none, none, none, none, none, none, none, none, none,
                                    none, none, none, none, none, none, none, none, none, none, none,
                                    none, none, none, none, none, none, none, none, none, none};
    alignas(16) char care[32] = {all, all, all, all, all, all, all, all, all, all, all, all, all, all, all, all,
                                 all, all, all, all, all, all, all, all, all, all, all, all, all, all, all, all};
    bool negative = false;  // whether the pattern has a minus
};

#ifdef __SSE2__

namespace detail {

inline __m128i load16(const char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// 0xFF in each byte of v that is a digit, 0 elsewhere: '0' to '9' move to the bottom of
// the signed range, where they alone are below -118.
inline __m128i digit_bytes(__m128i v) {
    return _mm_cmplt_epi8(_mm_add_epi8(v, _mm_set1_epi8(0x50)), _mm_set1_epi8(-118));
}
// The pattern of bytes v: digits as '0' (their low four bits cleared), the rest as they are.
inline __m128i pattern_of(__m128i v, __m128i digits) {
    return _mm_andnot_si128(_mm_and_si128(digits, _mm_set1_epi8(0x0F)), v);
}
// Bit i set where byte i is set in `bytes`; where byte i of v is c.
inline unsigned mask_of(__m128i bytes) { return static_cast<unsigned>(_mm_movemask_epi8(bytes)); }
inline unsigned bytes_of(__m128i v, char c) { return mask_of(_mm_cmpeq_epi8(v, _mm_set1_epi8(c))); }

// The number that eight digit values (0 to 9, one per byte, the first byte the most
// significant) spell.
constexpr std::uint64_t eight_digit_values(std::uint64_t w) {
    w = (w * 10) + (w >> 8);
    return (((w & 0x000000FF000000FFu) * (100 + (1000000ull << 32))) +
            (((w >> 16) & 0x000000FF000000FFu) * (1 + (10000ull << 32)))) >> 32;
}

// Whether the line at p with the first 16 bytes n and the field f (16 bytes from 8
// before the point) is a band line of the shape's point: blanks, the band number's
// digits, blanks or a minus or both, one to seven digits, the point, four digits, a
// blank.  The newline is checked elsewhere.
inline bool well_formed(__m128i n, __m128i n_digits, __m128i f, __m128i f_digits, const band_shape& s) {
    const unsigned fd = mask_of(f_digits), fb = bytes_of(f, ' '), fm = bytes_of(f, '-') & 0xFF;
    // Before the point: k digits up to it, below them r = 2^(8-k) - 1 bytes of blanks but
    // for a minus right below the digits; 1 <= k <= 7, so that byte 0 separates the
    // energy from the band number.
    const unsigned r = ~fd & 0xFF;
    // The band number's window, the bytes before the field: blanks, then digits.
    const unsigned window = (1u << (s.point - 8)) - 1;
    const unsigned nd = mask_of(n_digits) & window, nb = bytes_of(n, ' ') & window;
    const unsigned lead = window & ~nd;
    return ((bytes_of(f, '.') >> 8) & 1) & ((fd & 0x1E00) == 0x1E00) & ((fb >> 13) & 1) &  //
           (r != 0) & (r != 0xFF) & ((r & (r + 1)) == 0) & (((fb | fm) & 0xFF) == r) & ((fm & (r >> 1)) == 0) &
           (nd != 0) & (nb == lead) & ((lead & (lead + 1)) == 0);
}

}  // namespace detail

// The energy of the band line at p, if it has the shape s: the newline at p[s.length] and
// none before, and the last line's pattern or else a well-formed band line, which then
// becomes the pattern.  The value is the one the exact conversion gives: the digits make
// an integer mantissa of at most 2^24, exact in a float, which one IEEE division by 10^4
// rounds as strtof rounds the decimal.  Reads up to 32 bytes past the newline.
inline bool fast_band_line(const char* p, band_shape& s, float& energy) {
    using namespace detail;
    const char* field = p + s.point - 8;
    const __m128i n = load16(p), f = load16(field);
    const __m128i n_digits = digit_bytes(n), f_digits = digit_bytes(f);
    const __m128i n_pattern = pattern_of(n, n_digits), f_pattern = pattern_of(f, f_digits);
    const __m128i differ = _mm_or_si128(
        _mm_and_si128(_mm_xor_si128(n_pattern, load16(s.pattern)), load16(s.care)),
        _mm_and_si128(_mm_xor_si128(f_pattern, load16(s.pattern + 16)), load16(s.care + 16)));
    bool ok = p[s.length] == '\n';
    // After the field, up to the expected newline, no other: the line is no shorter than
    // the shape.  Sixteen bytes at a time from the end; the first may overlap the field,
    // which holds no newline if it passed.
    for (std::size_t at = s.length; at > s.point + 6; at -= 16) ok &= bytes_of(load16(p + at - 16), '\n') == 0;
    if (!ok) return false;
    if (mask_of(_mm_cmpeq_epi8(differ, _mm_setzero_si128())) != 0xFFFF) {
        if (!well_formed(n, n_digits, f, f_digits, s)) return false;
        _mm_store_si128(reinterpret_cast<__m128i*>(s.pattern), n_pattern);
        _mm_store_si128(reinterpret_cast<__m128i*>(s.pattern + 16), f_pattern);
        s.negative = bytes_of(f, '-') & 0xFF;
    }
    // The digits' values, 0 in place of blanks and the minus; the mantissa from the eight
    // bytes before the point and the four after it.
    const __m128i values = _mm_and_si128(_mm_sub_epi8(f, _mm_set1_epi8('0')), f_digits);
    const auto whole = eight_digit_values(static_cast<std::uint64_t>(_mm_cvtsi128_si64(values)));
    auto d = static_cast<std::uint32_t>(static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_srli_si128(values, 8))) >> 8);
    d = (d * 10) + (d >> 8);
    const std::uint64_t mantissa = whole * 10000 + ((d & 0xFFu) * 100) + ((d >> 16) & 0xFFu);
    if (mantissa > (1u << 24)) return false;
    const float magnitude = static_cast<float>(mantissa) / 1e4f;
    energy = std::bit_cast<float>(std::bit_cast<std::uint32_t>(magnitude) | (s.negative ? 0x80000000u : 0u));
    return true;
}

#else

inline bool fast_band_line(const char*, band_shape&, float&) { return false; }

#endif

// The shape of a band line just converted the exact way to `value`, if it has the usual
// shape and the fast way reads it to the same bits; else no shape (length 0).  The line
// must be followed in memory by its newline and at least 32 readable bytes.
inline band_shape learn_band_shape(std::string_view line, float value) {
    const auto point = line.find('.');
    if (point < 9 || point > 16 || line.size() < point + 6) return {};
    band_shape candidate;
    candidate.length = line.size();
    candidate.point = point;
    // The pattern's bytes: the first 16 up to the blank after the energy, and the field's 14.
    for (std::size_t i = point + 6; i < 16; ++i) candidate.care[i] = 0;
    for (std::size_t i = 14; i < 16; ++i) candidate.care[16 + i] = 0;
    float check = 0;
    if (fast_band_line(line.data(), candidate, check) &&
        std::bit_cast<std::uint32_t>(check) == std::bit_cast<std::uint32_t>(value))
        return candidate;
    return {};
}

}  // namespace bandcut
