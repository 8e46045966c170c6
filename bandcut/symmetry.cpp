#include "symmetry.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace bandcut {

namespace {

// The structure the listing prints after its dimension line, its ion counts checked
// against its positions before any of them sizes anything.
std::optional<structure> printed_structure(const listing& bands, std::string& why) {
    const mesh_sections& m = bands.mesh;
    structure s;
    s.direct = bands.direct_double;
    s.positions = m.positions;
    if (s.positions.empty()) {
        why = "the listing prints no crystal structure (the positions of its ions)";
        return std::nullopt;
    }
    const auto ions = static_cast<std::int64_t>(s.positions.size());
    std::int64_t counted = 0;
    for (std::size_t t = 0; t < m.ions_per_type.size(); ++t) {
        const std::int64_t n = m.ions_per_type[t];
        if (n < 0 || n > ions - counted) {
            why = n < 0 ? "ions per type gives " + std::to_string(n) + " ions of species " + std::to_string(t + 1)
                        : "ions per type counts more ions than the " + std::to_string(ions) + " positions";
            return std::nullopt;
        }
        counted += n;
        s.types.insert(s.types.end(), static_cast<std::size_t>(n), static_cast<int>(t + 1));
    }
    if (counted != ions || (m.nions && *m.nions != ions)) {
        why = "the listing prints " + std::to_string(ions) + " positions for " +
              std::to_string(m.nions ? *m.nions : counted) + " ions";
        return std::nullopt;
    }
    return s;
}

// The initial moments of a collinear spin-polarised run, one per ion, and where they
// came from; empty with `why` set when the listing does not say.
std::vector<double> initial_moments(const mesh_sections& m, std::size_t ions, const char*& source, std::string& why) {
    std::vector<double> moments;
    if (m.magmom_given) {
        source = "MAGMOM";
        if (!m.magmom_readable) {
            why = "MAGMOM cannot be read";
            return {};
        }
        if (m.magmom_count != static_cast<std::int64_t>(ions)) {
            why = "MAGMOM gives " + std::to_string(m.magmom_count) + " moments for " + std::to_string(ions) + " ions";
            return {};
        }
        for (const auto& [count, value] : m.magmom) moments.insert(moments.end(), static_cast<std::size_t>(count), value);
    } else if (m.default_moments) {
        source = "the default of 1 per ion";
        return std::vector<double>(ions, 1.0);
    } else if (m.magnetization_read) {
        // Older listings echo no MAGMOM: the signs of the first moments the run printed
        // stand for it.  Moments induced on non-magnetic ions are small: below a tenth of
        // the largest they are taken as zero.
        source = "the first table of moments";
        double largest = 0;
        for (const double x : m.magnetization) largest = std::max(largest, std::fabs(x));
        for (const double x : m.magnetization) {
            if (!std::isfinite(x)) {
                moments.push_back(x);
            } else {
                moments.push_back(std::fabs(x) < 0.1 * largest || x == 0 ? 0.0 : x > 0 ? 1.0 : -1.0);
            }
        }
    } else {
        why = "the listing does not say which moments its spin-polarised run started from (no MAGMOM, no table of moments)";
        return {};
    }
    if (moments.size() != ions) {
        why = std::string(source) + " gives " + std::to_string(moments.size()) + " moments for " + std::to_string(ions) + " ions";
        return {};
    }
    for (std::size_t i = 0; i < moments.size(); ++i)
        if (!std::isfinite(moments[i])) {
            why = "moment " + std::to_string(i + 1) + " of " + source + " is not a number";
            return {};
        }
    return moments;
}

// The table's rows as operations of the printed lattice.
std::optional<std::vector<operation>> table_operations(const listing& bands, std::string& why) {
    const mesh_sections& m = bands.mesh;
    if (m.malformed_operator_line > 0) {
        why = "line " + std::to_string(m.malformed_operator_line) + " of the operator table is no row of nine numbers";
        return std::nullopt;
    }
    std::vector<operation> ops;
    for (std::size_t row = 0; row < m.operators.size(); ++row) {
        const auto op = table_operation(m.operators[row], bands.direct_double);
        if (!op) {
            why = "row " + std::to_string(row + 1) + " of the operator table is no operation of this lattice";
            return std::nullopt;
        }
        ops.push_back(*op);
    }
    return ops;
}

// Two spin components were read (the run's ISPIN = 2, or a listing that does not print
// it), and the spins are collinear: the case where operations may swap the components.
bool spin_polarised(const listing& bands) {
    return bands.nspin == 2 && !bands.mesh.noncollinear && !bands.mesh.spin_orbit;
}

// The operations of the table or the structure (for a spin-polarised run, the structure
// is needed to tell what each does to the moments), and the classification's inputs.
struct sources {
    std::vector<operation> ops;
    std::optional<structure> s;
    std::vector<double> moments;
};

std::optional<sources> gather(const listing& bands, bool table, const symmetry_budget& budget, const char*& moments_from,
                              std::string& why) {
    sources in;
    if (table) {
        auto rows = table_operations(bands, why);
        if (!rows) return std::nullopt;
        in.ops = std::move(*rows);
        if (!spin_polarised(bands)) return in;
    }
    in.s = printed_structure(bands, why);
    if (!in.s) return std::nullopt;
    if (spin_polarised(bands)) {
        in.moments = initial_moments(bands.mesh, in.s->positions.size(), moments_from, why);
        if (in.moments.empty()) return std::nullopt;
    }
    if (why = structure_fault(*in.s); !why.empty()) return std::nullopt;
    if (!table) {
        if (why = search_fault(*in.s, budget); !why.empty()) return std::nullopt;
        in.ops = structure_operations(*in.s);
    }
    if (in.ops.empty()) {
        why = "no symmetry operation maps the crystal structure onto itself";
        return std::nullopt;
    }
    return in;
}

}  // namespace

std::optional<calculation_symmetry> symmetry_of(const listing& bands, const symmetry_budget& budget, std::string& why) {
    const mesh_sections& m = bands.mesh;
    calculation_symmetry sym;
    sym.time_reversal = !(m.spin_orbit || m.noncollinear);
    const bool table = m.operator_table && (!m.operators.empty() || m.malformed_operator_line > 0);
    sym.source = table ? "the operator table" : "the crystal structure";
    auto in = gather(bands, table, budget, sym.moments, why);
    if (!in) return std::nullopt;
    if (in->s) {
        bool beyond = false;
        sym.ops = classify(in->ops, *in->s, in->moments, budget, beyond);
        if (beyond) {
            why = "telling which operations keep the moments is more work than a listing of " +
                  std::to_string(budget.listing_bytes) + " bytes warrants";
            return std::nullopt;
        }
    } else {
        for (const auto& op : in->ops) sym.ops.push_back({kpoint_action(op.w), false});
        std::sort(sym.ops.begin(), sym.ops.end());
        sym.ops.erase(std::unique(sym.ops.begin(), sym.ops.end()), sym.ops.end());
    }
    if (sym.ops.empty()) {
        why = "no operation of " + std::string(sym.source) + " keeps or reverses the moments of " + sym.moments;
        return std::nullopt;
    }
    // A crystal's point group has at most 48 operations: more are no crystal's, and would
    // make the proof's work grow with their square.
    std::vector<int3x3> rotations;
    for (const auto& op : sym.ops) rotations.push_back(op.m);
    if (std::unique(rotations.begin(), rotations.end()) - rotations.begin() > 48) {  // sorted with the operations
        why = std::string(sym.source) + " gives more rotations than any crystal has (48)";
        return std::nullopt;
    }
    // Each operation named by the first table row that gives it.
    for (const auto& op : sym.ops) {
        std::int64_t row = 0;
        for (std::size_t r = 0; table && r < in->ops.size() && row == 0; ++r)
            if (kpoint_action(in->ops[r].w) == op.m) row = static_cast<std::int64_t>(r + 1);
        sym.rows.push_back(row);
    }
    return sym;
}

}  // namespace bandcut
