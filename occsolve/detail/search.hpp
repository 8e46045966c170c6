// The search as the tests see it: which way it learns each count, and what it did.  Not
// installed: callers get the same level and status from occsolve::find_level, whichever
// way it took.
#pragma once

#include "occsolve/core.hpp"

#include <cstdint>

namespace occsolve::detail {

struct search_options {
    // Which way the count is learnt on each pass.  Both give the same bits; `automatic`
    // takes the accelerated path for `accelerated_from` states or more.  A path that
    // cannot serve an input (see core.hpp's assumptions) hands over to the plain one.
    enum class path : int { automatic, plain, accelerated };
    path use = path::automatic;
    // The accelerated path's tables fail to allocate, as when memory is short.
    bool fail_allocation = false;
};

// Below this many states the survey and the tables of the accelerated path cost more
// than the plain passes they save.
inline constexpr double accelerated_from = 4096;

struct search_report : search_result {
    bool accelerated = false;  // the accelerated path's tables were built
    // How each pass learnt on which side of `electrons` its count lies:
    std::int64_t plain = 0;        // every state evaluated
    std::int64_t approximate = 0;  // an approximate count, at this level or one beyond it, and its error bound
    std::int64_t exact = 0;        // the exact count, at this level or (with its error bound) one beyond it
    // Counts evaluated over the states near the level:
    std::int64_t approximations = 0;
    std::int64_t exact_counts = 0;
};

// occsolve::find_level, with the path chosen by `options` and the report of what it did.
search_report find_level(band_view v, double temperature, double electrons, bracket b,
                         search_options options) noexcept;

}  // namespace occsolve::detail
