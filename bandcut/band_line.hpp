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
// shape are read by `fixed_band_line` from the previous line's positions, sixteen bytes at
// a time; any line that differs in the least (a sign before the band number, a tab, an
// exponent, a fifth decimal, a NUL, another length) takes the exact conversion.
struct band_shape {
    std::size_t length = 0;  // bytes before the newline; 0: no shape learnt yet
    std::size_t point = 0;   // column of the energy's decimal point, 9 to 16
};

#ifdef __SSE2__

// Bit i set where byte i of the 16 bytes at p is a digit, or the byte c.
inline __m128i load16(const char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline unsigned digits_of(__m128i v) {
    return static_cast<unsigned>(_mm_movemask_epi8(
        _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8('0' - 1)), _mm_cmplt_epi8(v, _mm_set1_epi8('9' + 1)))));
}
inline unsigned bytes_of(__m128i v, char c) {
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(c))));
}

// The number that eight digit bytes spell, the first byte the most significant.
constexpr std::uint64_t eight_digits(std::uint64_t w) {
    w -= 0x3030303030303030u;
    w = (w * 10) + (w >> 8);
    return (((w & 0x000000FF000000FFu) * (100 + (1000000ull << 32))) +
            (((w >> 16) & 0x000000FF000000FFu) * (1 + (10000ull << 32)))) >> 32;
}

// The energy of the band line at p, if it has exactly the shape s: up to its newline at
// p[s.length] (and no newline before), blanks, the band number's digits, blanks, an
// optional minus, one to seven digits, the point at column s.point, four digits, a blank.
// The value is the one the exact conversion gives: the digits make an integer mantissa
// below 2^24 that one IEEE division by 10^4 rounds.
inline bool fixed_band_line(const char* p, const band_shape& s, float& energy) {
    if (p[s.length] != '\n' || p[s.point] != '.') return false;
    const char* field = p + s.point - 8;  // the energy's eight bytes before its point
    const __m128i f = load16(field);
    const unsigned all_digits = digits_of(f), all_blanks = bytes_of(f, ' ');
    // Bytes 9 to 12 of the field are the decimals, byte 13 a blank.
    if ((all_digits & 0x1E00) != 0x1E00 || !(all_blanks & 0x2000)) return false;
    // Bytes 0 to 7: blanks, an optional minus, then k digits up to the point.
    const unsigned digits = all_digits & 0xFF, blanks = all_blanks & 0xFF, minus = bytes_of(f, '-') & 0xFF;
    const int k = 8 - std::countr_zero(digits | 0x100);
    if (k == 0 || k == 8 || digits != (0xFFu << (8 - k) & 0xFF)) return false;  // eight: no gap to the band number
    const unsigned below = (1u << (8 - k)) - 1;  // the bytes below the digits
    // All blanks, or all but the byte before the digits, which a minus must then be.
    if (minus ? blanks != below >> 1 : blanks != below) return false;
    // The band number: blanks, then digits up to the field.
    const std::size_t width = s.point - 8;
    const __m128i n = load16(p);
    const unsigned window = (1u << width) - 1;
    const unsigned number = digits_of(n) & window;
    if (number + (number & (0u - number)) != window + 1 || (bytes_of(n, ' ') & window) != (window ^ number)) return false;
    // No newline before the one expected: the line is not shorter than the last.
    for (std::size_t at = s.point + 6; at < s.length; at += 16) {
        const std::size_t left = s.length - at;
        if (bytes_of(load16(p + at), '\n') & (left >= 16 ? 0xFFFFu : (1u << left) - 1)) return false;
    }
    // The value.
    std::uint64_t whole_bytes;
    std::memcpy(&whole_bytes, field, 8);
    const std::uint64_t top = ~std::uint64_t{0} << (8 * (8 - k));  // the digit bytes
    const std::uint64_t whole = eight_digits((whole_bytes & top) | (0x3030303030303030u & ~top));
    std::uint32_t decimal_bytes;
    std::memcpy(&decimal_bytes, field + 9, 4);
    std::uint32_t d = decimal_bytes - 0x30303030u;
    d = (d * 10) + (d >> 8);
    const std::uint32_t fraction = ((d & 0x000000FFu) * 100) + ((d >> 16) & 0x000000FFu);
    const std::uint64_t mantissa = whole * 10000 + fraction;
    if (mantissa > (1u << 24)) return false;
    const float magnitude = static_cast<float>(mantissa) / 1e4f;
    energy = std::bit_cast<float>(std::bit_cast<std::uint32_t>(magnitude) | (minus ? 0x80000000u : 0u));
    return true;
}

#else

inline bool fixed_band_line(const char*, const band_shape&, float&) { return false; }

#endif


// The shape of a band line just converted the exact way to `value`, if it has the usual
// shape and the fast way reads it to the same bits; else no shape (length 0).  The line
// must be followed in memory by its newline and at least 16 readable bytes.
inline band_shape learn_band_shape(std::string_view line, float value) {
    const auto point = line.find('.');
    if (point < 9 || point > 16 || line.size() < point + 6) return {};
    const band_shape candidate{line.size(), point};
    float check = 0;
    if (fixed_band_line(line.data(), candidate, check) &&
        std::bit_cast<std::uint32_t>(check) == std::bit_cast<std::uint32_t>(value))
        return candidate;
    return {};
}

}  // namespace bandcut
