#include "detail/approximate.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <type_traits>

namespace occsolve::detail {

// e^x for |x| <= 50, within 200u relatively (bounds.hpp, 1b): x = n ln2 + r with n the
// integer nearest x / ln2 and |r| <= ln2 / 2, e^r by its Taylor polynomial of degree 11,
// then scaled by 2^n.  Every step is plain arithmetic (no call, no branch), so that a loop
// of them runs several values at once.  T is a double or a vector of them (lane by lane,
// the same operations); Bits the integer type of the same shape.  Out through a reference:
// a 32-byte vector passed by value would depend on whether AVX is on.
template <class T, class Bits>
[[gnu::always_inline]] inline void exp_of(const T& x, T& out) noexcept {
    constexpr double log2e = 1.4426950408889634;
    // ln 2 in two parts: the first with its last 20 bits zero, so that n * ln2_hi is exact
    // for |n| < 2^20; the second the rest.
    constexpr double ln2_hi = 6.93147180369123816490e-01;
    constexpr double ln2_lo = 1.90821492927058770002e-10;
    // Adding and subtracting 1.5 * 2^52 rounds to the nearest integer (|x / ln2| < 2^51),
    // and leaves that integer in the low bits of the sum.
    constexpr double shifter = 0x1.8p52;
    const T shifted = x * log2e + shifter;
    const T n = shifted - shifter;
    const T r = (x - n * ln2_hi) - n * ln2_lo;
    T p = r * (1.0 / 39916800) + 1.0 / 3628800;  // 1/11!, 1/10!
    p = p * r + 1.0 / 362880;
    p = p * r + 1.0 / 40320;
    p = p * r + 1.0 / 5040;
    p = p * r + 1.0 / 720;
    p = p * r + 1.0 / 120;
    p = p * r + 1.0 / 24;
    p = p * r + 1.0 / 6;
    p = p * r + 0.5;
    p = p * r + 1.0;
    p = p * r + 1.0;
    // 2^n: n's bits sit at the bottom of `shifted`; its biased exponent is n + 1023.
    if constexpr (std::is_same_v<T, double>) {
        out = p * std::bit_cast<double>((std::bit_cast<Bits>(shifted) + 1023) << 52);
    } else {
        out = p * reinterpret_cast<T>((reinterpret_cast<Bits>(shifted) + 1023) << 52);
    }
}

double fast_exp(double x) noexcept {
    double e;
    exp_of<double, std::uint64_t>(x, e);
    return e;
}

namespace {

// Four doubles at a time (two SSE2 registers, or one AVX2 register where the processor
// has it).
typedef double four __attribute__((vector_size(32)));
typedef std::int64_t four_bits __attribute__((vector_size(32)));

// The terms of states e[0], e[stride], ... e[(n - 1) stride] at `level`: their sum and the
// sum of t (g - t).  Eight states at a time in independent lanes: the polynomial's
// latency is long, its work short.
struct sums {
    double t, d;
};

[[gnu::target_clones("avx2", "default")]] sums range_terms(const double* e, std::int64_t stride, std::int32_t n,
                                                           double level, double inverse, double g) {
    four t0 = {}, t1 = {}, d0 = {}, d1 = {};
    // `in` is 1 in a lane that holds a state and 0 in one that pads the last eight: a
    // padding lane's term, whatever energy it holds, is multiplied by 0 and adds exactly
    // nothing (a term is finite: 0 < g / (e^x + 1) <= g).  No energy would do instead:
    // an "empty" state far above the level is not empty once kT is several eV.
    const auto terms = [&](const four& energies, const four& in, four& t, four& d) {
        four x = (energies - level) * inverse;
        x = x < -50.0 ? -50.0 : x;
        x = x > 50.0 ? 50.0 : x;
        four power;
        exp_of<four, four_bits>(x, power);
        const four term = g / (power + 1.0) * in;
        t += term;
        d += term * (g - term);
    };
    const four all = {1.0, 1.0, 1.0, 1.0};
    std::int32_t b = 0;
    for (; b + 8 <= n; b += 8) {
        const double* q = e + b * stride;
        terms(four{q[0], q[stride], q[2 * stride], q[3 * stride]}, all, t0, d0);
        terms(four{q[4 * stride], q[5 * stride], q[6 * stride], q[7 * stride]}, all, t1, d1);
    }
    double rest[8], in[8];
    const std::int32_t left = n - b;
    for (int j = 0; j < 8; ++j) {
        rest[j] = j < left ? e[(b + j) * stride] : level;
        in[j] = j < left ? 1.0 : 0.0;
    }
    terms(four{rest[0], rest[1], rest[2], rest[3]}, four{in[0], in[1], in[2], in[3]}, t0, d0);
    terms(four{rest[4], rest[5], rest[6], rest[7]}, four{in[4], in[5], in[6], in[7]}, t1, d1);
    const four t = t0 + t1, d = d0 + d1;
    return {(t[0] + t[1]) + (t[2] + t[3]), (d[0] + d[1]) + (d[2] + d[3])};
}

}  // namespace

approximation approximate_count(const near_states& near, occupation kernel, double level, double g_weight) {
    const double inverse = 1 / kernel.kT;
    const double g = kernel.g;
    const std::int32_t nspin = near.nspin();
    // Spins stored side by side (no padding): a k-point's states from the lowest first to
    // the highest last of its spins lie in one run, read whole.  The states of that run
    // outside their own spin's range are evaluated too, which the bound allows (1b).
    const bool packed = near.band_stride() == nspin;
    double total[4] = {0, 0, 0, 0};
    double slope = 0;
    std::int64_t longest = 0;
    std::size_t group = 0;
    for (std::int32_t k = 0; k < near.nk(); ++k) {
        double occ = 0, d = 0;
        const auto ahead = group + 4 * static_cast<std::size_t>(nspin);
        if (ahead < static_cast<std::size_t>(near.nk()) * static_cast<std::size_t>(nspin))
            for (std::int32_t s = 0; s < nspin; ++s) near.prefetch(ahead + static_cast<std::size_t>(s));
        if (packed) {
            std::int32_t first = near.first(group), last = near.last(group);
            for (std::int32_t s = 1; s < nspin; ++s) {
                first = std::min(first, near.first(group + static_cast<std::size_t>(s)));
                last = std::max(last, near.last(group + static_cast<std::size_t>(s)));
            }
            if (first < last) {
                const sums run = range_terms(near.group_energy(group) + std::int64_t{first} * nspin, 1,
                                             (last - first) * nspin, level, inverse, g);
                occ = run.t;
                d = run.d;
                longest = std::max<std::int64_t>(longest, std::int64_t{last - first} * nspin);
            }
            occ += static_cast<double>(first) * nspin * g;
            group += static_cast<std::size_t>(nspin);
        } else {
            for (std::int32_t s = 0; s < nspin; ++s, ++group) {
                const std::int32_t first = near.first(group), last = near.last(group);
                const sums range = range_terms(near.group_energy(group) + first * near.band_stride(), near.band_stride(),
                                               last - first, level, inverse, g);
                occ += range.t + first * g;
                d += range.d;
                longest = std::max<std::int64_t>(longest, last - first);
            }
        }
        total[k % 4] += occ * near.weight(k);
        slope += d * near.weight(k);
    }
    // Roundings per term: its lane's chain (range / 8 + 2) and the 8 lanes' sum (4), the
    // lead, the spins of its k-point, the weight, the k-point chain and the four totals.
    const double roundings = static_cast<double>(longest / 8 + 10) + nspin + 1 + (near.nk() / 4 + 3);
    return {(total[0] + total[1]) + (total[2] + total[3]),
            error_of_count(fast_term_rho, roundings, g_weight, approximate_c0), slope / (g * kernel.kT)};
}

}  // namespace occsolve::detail
