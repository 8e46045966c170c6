// An approximate electron count over the states near a level (near_states placed there
// with the approximate cut),
// with a rigorous bound on its distance from the true count (bounds.hpp), and the count's
// slope.  Its terms take a polynomial exp, not the C library's, and its sums are free of
// the documented order; one such count at a level decides, through the bound, every level
// of the search on one side of it, and its slope points Newton's method at the Fermi
// level.
#pragma once

#include "detail/bounds.hpp"
#include "detail/near_states.hpp"
#include "detail/occupation.hpp"

namespace occsolve::detail {

struct approximation {
    double count;
    count_error error;  // against the true count R (bounds.hpp, 3)
    double slope;       // d count / d level, electrons per eV (a guide: no bound on it)
};

// `g_weight` is g times the weight of all states.
approximation approximate_count(const near_states& near, occupation kernel, double level, double g_weight);

// e^x for |x| <= 50, within 200u relatively (bounds.hpp, 1b); for the approximate count.
double fast_exp(double x) noexcept;

}  // namespace occsolve::detail
