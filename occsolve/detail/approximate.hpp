// An approximate electron count over the states near the level (near_states), with a
// rigorous bound on its distance from the true count (bounds.hpp), and the count's slope.
// Its sums are free of the documented order, so they run as independent chains; one such
// count at a level decides, through the bound, every level of the search on one side of
// it, and its slope points Newton's method at the Fermi level.
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

}  // namespace occsolve::detail
