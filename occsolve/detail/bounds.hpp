// How far a computed electron count can lie from the true one, and what that lets the
// search decide without the exact count.  Every shortcut of the accelerated search rests
// on the bounds derived here, once.
//
// Assumptions: the C library's exp is within 2 ulp of the true value for arguments in
// [-40, 40] (glibc documents less than 1 ulp); weights are finite and not negative; all
// arithmetic is IEEE double with round-to-nearest and no fused multiply-add.  u = 2^-53.
//
// 1. One state.  With kT the double the search uses, the true occupation of a state at
//    level l is t = 0 for x > 40, g for x < -40 and g / (1 + e^x) between, where
//    x = (e - l) / kT exactly.  The computed one, t~, takes x~ = fl(fl(e - l) / kT), so
//    x~ = x (1 + th) with |th| <= 2u + u^2.  Where x and x~ lie on the same side of both
//    cut-offs, |x| <= 40 (1 + 3u) and
//        exp~(x~) = e^x e^(x~ - x) (1 + eta),  |x~ - x| <= 80.2u |x|/40,  |eta| <= 4u
//    (2 ulp is at most 4u relative, the result being normal), so exp~ = e^x (1 + a) with
//    |a| <= 84.3u; adding 1 perturbs 1 + e^x by at most |a| relatively, plus one rounding,
//    and the division one more:
//        |t~ - t| <= rho t,   rho = 88u.
//    Where x and x~ straddle a cut-off, one of t, t~ is 0 or g and the other lies within
//    g e^(-40 (1 - 3u)) < 4.3e-18 g of it.  So for every state
//        |t~ - t| <= rho t + c0 g,   c0 = 4.3e-18.
//
// 1b. One state, approximately.  The approximate count takes x^ = fl(fl(e - l) * fl(1/kT)),
//    within 3u + O(u^2) of x relatively, so e^(x^ - x) lies within 120.2u of 1 for
//    |x| <= 40 (1 + 3u), and a polynomial exp in place of the C library's: x = n ln2 + r,
//    n the nearest integer to x log2(e), |r| <= ln2/2 + 1e-15 < 0.3466; x - n ln2_hi is
//    exact (n ln2_hi is, ln2_hi having 33 significant bits, and the two are within a
//    factor 2 of each other, or n = 0), subtracting n ln2_lo costs at most 2u relatively
//    in e^r; the Taylor polynomial of degree 11 falls short of e^r by at most
//    0.3466^12/12! / e^-0.3466 < 1.1e-14 < 100u relatively; Horner's 22 roundings and the
//    coefficients' own give at most 2 * 11u * e^0.3466/e^-0.3466 + 11u < 56u; scaling by
//    2^n is exact (the result is normal for |x| <= 50).  So the polynomial exp is within
//    160u of e^x, and we take 200u.  Then 1 + E and the division add 2u, as in (1):
//        |t^ - t| <= rho^ t + c0 g,   rho^ = 120.2u + 200u + 4u < 330u, taken as 340u.
//    Beyond the cut-offs the formula, exact or not, lies within c0 g of 0 or g, so the
//    approximate count may evaluate any state, cut off or not, with the formula.  It
//    takes states with x^ < -30 as exactly g and those with x^ > 30 as 0: the true
//    occupation lies within g e^(-30 (1 - 3u)) < 9.4e-14 g of that (c0^ = 9.4e-14), which
//    for a band structure of total weight W g is far below the tolerance at the scale of
//    the counts compared, and a quarter fewer states are evaluated.
//
// 2. A sum.  A sum of non-negative numbers in which each number passes through at most n
//    roundings (additions, and the product with its weight) lies within gamma(n) of the
//    true sum, relatively, whatever the order: gamma(n) = n u / (1 - n u) (the standard
//    worst-case bound for recursive summation).  The exact count, summed in the documented
//    order, puts each state through at most nband + nk + nspin roundings.
//
// 3. A count.  For a count X summed so from terms within (rho_X, c0) of the true ones, and
//    R the true count (the real sum of the true occupations times the weights),
//        |X - R| <= kappa_X R + c_X,
//        kappa_X = rho_X + gamma(n_X) (1 + rho_X),   c_X = (1 + gamma(n_X)) c0 g W,
//    W being the weight of all states (the sum of the weights times nband times nspin).
//
// 4. Decisions.  R does not decrease as the level rises (no true occupation does).  So a
//    count X at level p, exact or approximate, decides every level on one side of p for
//    the exact count C (kappa_C, c_C):
//        if (1 + kappa_C) (X + c_X) / (1 - kappa_X) + c_C < T - tol,  C(m) < T - tol for m <= p;
//        if (1 - kappa_C) (X - c_X) / (1 + kappa_X) - c_C > T + tol,  C(m) > T + tol for m >= p;
//    because C(m) <= (1 + kappa_C) R(m) + c_C <= (1 + kappa_C) R(p) + c_C and
//    R(p) <= (X + c_X) / (1 - kappa_X), and likewise below.  A count beyond T + tol makes
//    the pass "above, not converged" whatever the rounding of |C - T| (rounding is
//    monotone and tol is a double), and likewise below.  The tests above are evaluated in
//    floating point with their left sides inflated and right sides deflated by 8u, more
//    than their dozen roundings can move them.
//
// 5. Any temperature.  Nothing above depends on the size of kT, only on kT being a finite
//    positive double (kT = 0 and non-finite kT take the plain path):
//    - x~ = fl(fl(e - l) / kT) keeps its relative error of (1) for every kT: e - l is
//      exact or rounded once, and a quotient that falls below the normal range (|e - l|
//      below 2^-1022 kT) is off by at most 2^-1075 absolutely, which moves e^x by far less
//      than u.  Likewise fl(1/kT) of (1b): kT = kB T < 1.6e304 for any double T, so 1/kT
//      is normal, and a subnormal product x^ is off by at most 2^-1075.
//    - Every state the approximate count evaluates is a state of the band structure (the
//      lanes that pad a run to a multiple of eight are multiplied by 0, exactly): no
//      energy is assumed empty.  An energy 100 eV above the level is not empty once kT is
//      several eV (10^5 K: x = 11.6, t = 9e-6 g), and such padding had broken the bound
//      of (1b) above about 3 x 10^4 K.
//    - At large kT every state lies within the cut-offs, near_states keeps them all, and
//      the counts evaluate every state: slower, never less exact.  The approximate
//      count's cut at 30 kT and the exact cut at 40 kT are in units of kT, so they hold
//      alike at every temperature.
//
#pragma once

#include <cmath>
#include <cstdint>

namespace occsolve::detail {

inline constexpr double unit_roundoff = 0x1p-53;

// gamma(n) of 2; n below 2^50.
inline double gamma(double n) noexcept { return n * unit_roundoff / (1 - n * unit_roundoff); }

inline constexpr double term_rho = 88 * unit_roundoff;        // rho of 1, for terms evaluated with exp
inline constexpr double fast_term_rho = 340 * unit_roundoff;  // rho^ of 1b, with the polynomial exp
inline constexpr double cutoff_c0 = 4.3e-18;            // c0 of 1
inline constexpr double approximate_cutoff = 30;        // where the approximate count cuts (1b)
inline constexpr double approximate_c0 = 9.4e-14;       // c0^ of 1b

// |X - R| <= relative R + absolute  (3).
struct count_error {
    double relative;
    double absolute;
};

// The error of a count whose terms are within (rho, c0) of the true ones and pass through
// at most `roundings` roundings each; `g_weight` is g times the weight of all states.
inline count_error error_of_count(double rho, double roundings, double g_weight, double c0 = cutoff_c0) noexcept {
    const double gn = gamma(roundings);
    return {rho + gn * (1 + rho), (1 + gn) * c0 * g_weight};
}

// The decisions of (4) for target T and tolerance tol, against the exact count's error.
class decision_rule {
public:
    decision_rule(double target, double tolerance, count_error exact) noexcept
        : exact_(exact),
          below_(target - tolerance - slack * (std::fabs(target) + tolerance)),
          above_(target + tolerance + slack * (std::fabs(target) + tolerance)) {}

    // The exact count is below T - tol at every level up to the one where X was counted.
    bool below_up_to(double x, count_error e) const noexcept {
        const double r = (x + e.absolute) / (1 - e.relative);
        const double c = (1 + exact_.relative) * r + exact_.absolute;
        return c + slack * std::fabs(c) < below_;
    }
    // The exact count is above T + tol at every level from the one where X was counted.
    bool above_from(double x, count_error e) const noexcept {
        const double r = (x - e.absolute) / (1 + e.relative);
        const double c = (1 - exact_.relative) * r - exact_.absolute;
        return c - slack * std::fabs(c) > above_;
    }
private:
    static constexpr double slack = 8 * unit_roundoff;
    count_error exact_;
    double below_, above_;
};

}  // namespace occsolve::detail
