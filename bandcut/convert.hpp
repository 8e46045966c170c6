// Number conversions of the listing and of the band-grid file.
//
// The listing is read with scanf-style conversions and the band-grid file is written
// with printf-style formatting.  Both must agree with the C library to the last digit:
// a real read from the listing rounds exactly as strtof rounds its decimal text (directly
// to single precision, never through double), and a real written with "%f" is exactly
// what printf prints for the single-precision value widened to double.  The functions
// here do that without the per-call cost of the C library, which matters on listings of
// hundreds of megabytes.
#pragma once

#include <bit>
#include <cstdint>
#include <string>
#include <string_view>

namespace bandcut {

// Blank characters as scanf skips them in the C locale: space, \t, \n, \v, \f, \r.
constexpr bool is_blank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

constexpr bool is_digit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

namespace detail {

// Powers of ten that single precision holds exactly (5^10 < 2^24).
inline constexpr float exact_pow10f[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f,
                                         1e6f, 1e7f, 1e8f, 1e9f, 1e10f};

// The fast path of reading a real: a plain decimal such as -12.3456 at `p` (no leading
// blanks).  A mantissa of at most 2^24 and a power of ten of at most 10^10 are both
// exact in single precision, so one IEEE division rounds the decimal value once, to
// the float strtof returns.  Returns the end of the number, or null when the text is
// something else (no digits, an exponent, hexadecimal, more digits than the path takes),
// which the caller hands to strtof.
inline const char* plain_decimal(const char* p, const char* end, float& out) {
    // The sign is applied without a branch: listings mix signs at random.
    const bool signed_ = p < end && (*p == '+' || *p == '-');
    const std::uint32_t sign = signed_ && *p == '-' ? 0x80000000u : 0u;
    p += signed_;
    std::uint64_t mantissa = 0;
    int decimals = 0;
    const char* first = p;
    for (; p < end && is_digit(*p); ++p) mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
    int digits = static_cast<int>(p - first);
    if (p < end && *p == '.') {
        const char* point = ++p;
        for (; p < end && is_digit(*p); ++p) mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
        decimals = static_cast<int>(p - point);
        digits += decimals;
    }
    // Beyond 19 digits the mantissa may have wrapped; beyond 2^24 it is not exact.
    if (digits == 0 || digits > 19 || mantissa > (1u << 24) || decimals > 10) return nullptr;
    if (p < end && ((*p | 0x20) == 'e' || (*p | 0x20) == 'x')) return nullptr;
    const float magnitude = static_cast<float>(mantissa) / exact_pow10f[decimals];
    out = std::bit_cast<float>(std::bit_cast<std::uint32_t>(magnitude) | sign);
    return p;
}

}  // namespace detail

// A position in one line of text, consumed left to right like the conversions of one
// scanf format.  Each conversion skips leading blanks, converts the longest prefix it
// accepts and moves past it; on failure it returns false and the position is undefined
// (the caller stops converting the line, as scanf does).  A NUL byte ends the text.
class line_scanner {
public:
    explicit line_scanner(std::string_view text);

    // "%s": the next run of non-blank characters; false when none is left.
    bool token(std::string_view& out);

    // "%d": optional sign and decimal digits.  Values beyond the 64-bit range saturate;
    // callers that need a narrower range check it themselves.
    bool integer(std::int64_t& out);

    // "%f": the longest prefix that forms a real as strtof reads it (sign, digits, point,
    // exponent; also "inf", "infinity", "nan", "nan(...)" and hexadecimal reals), rounded
    // to single precision as strtof rounds it.
    bool real(float& out);

    // The same in double precision, rounded as strtod rounds (the symmetry and k-mesh
    // sections print up to nine decimals).
    bool real(double& out);

    // One real, both ways: as strtof and as strtod round its text.
    bool real(float& single, double& twice);

    // True when only blanks are left.
    bool at_end();

    // Skips blanks, then one '=' if it stands there.
    void skip_equals();

    std::string_view rest() const { return {p_, static_cast<std::size_t>(end_ - p_)}; }

private:
    void skip_blanks();
    const char* p_;
    const char* end_;
};

// A command-line argument converted as C's atoi (grid counts) or atof (Ef) converts it:
// leading blanks skipped, then the longest prefix that is a number; text with no number
// reads as 0.  Scripts rely on that, so it stays; `why` says in words what the
// conversion did beyond reading a plain number (empty when the text is a number,
// possibly followed by blanks): text it left out, a value clamped to the 32-bit range,
// an Ef that single precision turned into infinity or zero.
struct argument_count {
    std::int32_t value;
    std::string why;
};
struct argument_energy {
    float value;  // the double atof gives, narrowed as a (float) cast narrows it
    std::string why;
};
argument_count read_count_argument(const char* text);
argument_energy read_energy_argument(const char* text);

// Narrows a double to single precision with IEEE round-to-nearest-even, overflowing to
// infinity, as a C compiler's (float) cast does for values beyond the float range.
float narrow(double value);

// Room for a sign, the 39 integer digits of the largest float and the point.
inline constexpr int max_real_chars = 41;

// Writes printf("%.*f", precision, (double)value) to out and returns the end of what it
// wrote (no NUL).  The buffer must hold max_real_chars + precision characters.
// Negative zero, infinities and not-a-number print as printf prints them:
// "-0.000000", "inf", "-inf", "nan", "-nan".
char* format_real(char* out, float value, int precision = 6);

}  // namespace bandcut
