// Band lines, "band-number energy occupation", converted as "%d%f" converts them: the
// exact way for any line, and a fast way for the millions of lines of a listing's usual
// shape, which gives the same bits or declines.  Part of the conversions (convert.hpp);
// the exact way is inline, as the eigenvalue reader runs it on every unusual line.
#pragma once

#include "convert.hpp"

#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

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
// shape are read by `fast_band_lines` from the previous line's positions, 16 bytes at a
// time; any line that differs in the least (a sign before the band number, a tab, an
// exponent, a fifth decimal, a NUL, another length) is left to the exact conversion.
//
// Consecutive lines mostly differ in their digits only: their blanks, minus and point
// stand where the last line's did.  The shape keeps that last line's pattern (its bytes up
// to the blank after the energy, each digit as '0'), and a line of the same pattern is as
// well-formed as the last, so only its digits need reading.  A line of another pattern is
// checked in full, and becomes the pattern.
struct band_shape {
    std::size_t length = 0;  // bytes before the newline; 0: no shape learnt yet
    std::size_t point = 0;   // column of the energy's decimal point, 9 to 16
    // Over the line's first 32 bytes: the pattern; `care` 0xFF where a byte belongs to it
    // (up to the blank after the energy); `tail` 0xFF from there to the newline, where no
    // other newline may stand.  '1' never stands in a pattern (digits read '0'), so a
    // shape without one matches no line.
    static constexpr char none = '1', all = static_cast<char>(0xFF);
    alignas(32) char pattern[32] = {none, none, none, none, none, none, none, none, none, none, none,
                                    none, none, none, none, none, none, none, none, none, none, none,
                                    none, none, none, none, none, none, none, none, none, none};
    alignas(32) char care[32] = {all, all, all, all, all, all, all, all, all, all, all, all, all, all, all, all,
                                 all, all, all, all, all, all, all, all, all, all, all, all, all, all, all, all};
    alignas(32) char tail[32] = {};
    // The sign of the pattern's energy.  A pattern has at most four digits before the
    // point, so that the eight bytes around it hold the whole mantissa.
    bool negative = false;
};

// Reads up to `n` band lines of shape s from the `held` bytes at p into energy[0..),
// stopping at the first line it cannot take; returns how many it took.  Each value is the
// one the exact conversion gives.  Reads up to 32 bytes past the held ones.
std::size_t fast_band_lines(const char* p, std::size_t held, band_shape& s, float* energy, std::size_t n);

// The shape of a band line just converted the exact way to `value`, if it has the usual
// shape and the fast way reads it to the same bits; else no shape (length 0).  The line
// must be followed in memory by its newline and at least 32 readable bytes.
band_shape learn_band_shape(std::string_view line, float value);

namespace detail {
// m / 10^4 rounded to a float, for m <= 2^24: the value of a four-decimal energy whose
// digits spell m.
float four_decimals(std::uint32_t m);
}  // namespace detail

}  // namespace bandcut
