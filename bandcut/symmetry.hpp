// The symmetry a calculation used to reduce its k-point mesh, from what its listing
// prints: the operations of its operator table, or else those of its crystal structure;
// for a collinear spin-polarised run each classified by what it does to the initial
// moments (operations.hpp), which the listing gives as MAGMOM in its input echo, as the
// note that every ion starts from a moment of 1, or, in older listings that print
// neither, through the signs of the first moments the run printed.
#pragma once

#include "listing.hpp"
#include "operations.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace bandcut {

struct calculation_symmetry {
    // Distinct, before time reversal; `swaps` where the operation reverses the moments.
    std::vector<kpoint_operation> ops;
    // The table row each operation came from (counting from 1), 0 for the structure's.
    std::vector<std::int64_t> rows;
    bool time_reversal = false;  // k -> -k too: no spin-orbit coupling, no non-collinear spins
    const char* source = "";     // "the operator table" or "the crystal structure"
    const char* moments = "";    // where the moments came from; empty when not spin-polarised
};

// The calculation's operations, or why there are none to be had (`why` a clause that
// follows "no unfolding: ").  `budget` bounds the symmetry work.
std::optional<calculation_symmetry> symmetry_of(const listing& bands, const symmetry_budget& budget, std::string& why);

}  // namespace bandcut
