#include "symmetry.hpp"

#include "wedge.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
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
    if (m.nions && *m.nions != ions) {
        why = "the listing prints " + std::to_string(ions) + " positions for " + std::to_string(*m.nions) + " ions";
        return std::nullopt;
    }
    if (counted != ions) {
        why = "ions per type counts " + std::to_string(counted) + " ions for the " + std::to_string(ions) + " positions";
        return std::nullopt;
    }
    return s;
}

// Where the moments of a collinear spin-polarised run come from, if anywhere.
enum class moment_source { given, none, broken };

// The initial moments, one per ion, and where they came from (`source`); `why` says why
// there are none (no source, sources that disagree, every moment 0) or why they cannot be
// used.  `signs_only`: the first table of moments stands for the initial moments through
// its signs (moments below a tenth of the largest taken as zero), as the classification of
// the structure's operations takes them.
moment_source initial_moments(const mesh_sections& m, std::size_t ions, bool signs_only, std::vector<double>& moments,
                              const char*& source, std::string& why) {
    moments.clear();
    if (m.magmom_conflict()) {
        why = "MAGMOM is given twice, otherwise (lines " + std::to_string(m.magmom_lines[0]) + " and " +
              std::to_string(m.magmom_lines[1]) + "): which the run read is not known";
        return moment_source::none;
    }
    if (m.magmom_given) {
        source = "MAGMOM";
        if (!m.magmom_readable) return why = "MAGMOM cannot be read", moment_source::broken;
        if (m.magmom_count != static_cast<std::int64_t>(ions)) {
            why = "MAGMOM gives " + std::to_string(m.magmom_count) + " moments for " + std::to_string(ions) + " ions";
            return moment_source::broken;
        }
        for (const auto& [count, value] : m.magmom) moments.insert(moments.end(), static_cast<std::size_t>(count), value);
    } else if (m.default_moments) {
        source = "the default of 1 per ion";
        moments.assign(ions, 1.0);
    } else if (m.magnetization_read) {
        source = "the first table of moments";
        double largest = 0;
        for (const double x : m.magnetization) largest = std::max(largest, std::fabs(x));
        for (const double x : m.magnetization)
            moments.push_back(!signs_only || !std::isfinite(x) ? x
                              : std::fabs(x) < 0.1 * largest || x == 0 ? 0.0
                                                                       : x > 0 ? 1.0 : -1.0);
    } else {
        why = "the listing does not say which moments its spin-polarised run started from (no MAGMOM, no table of moments)";
        return moment_source::none;
    }
    if (moments.size() != ions) {
        why = std::string(source) + " gives " + std::to_string(moments.size()) + " moments for " + std::to_string(ions) + " ions";
        return moment_source::broken;
    }
    for (std::size_t i = 0; i < moments.size(); ++i)
        if (!std::isfinite(moments[i])) {
            why = "moment " + std::to_string(i + 1) + " of " + source + " is not a number";
            return moment_source::broken;
        }
    if (std::all_of(moments.begin(), moments.end(), [](double x) { return x == 0; })) {
        why = std::string(source) + " gives every ion a moment of 0";
        return moment_source::none;
    }
    return moment_source::given;
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

// The moments the rows of a table are decided by: the signs of the dominant ones (at
// least half the largest magnitude), the others zero.
struct row_moments {
    std::optional<structure> s;
    std::vector<double> dominant;
    const char* source = "";
    moment_source state = moment_source::none;
    std::string why;  // when not given
};

row_moments moments_for_rows(const listing& bands) {
    row_moments r;
    r.s = printed_structure(bands, r.why);
    if (!r.s) return r.state = moment_source::broken, r;
    r.state = initial_moments(bands.mesh, r.s->positions.size(), false, r.dominant, r.source, r.why);
    if (r.state != moment_source::given) return r;
    if (r.why = structure_fault(*r.s); !r.why.empty()) return r.state = moment_source::broken, r;
    // Their signs: a table of moments prints an orbit's moments unsymmetrised.
    double largest = 0;
    for (const double x : r.dominant) largest = std::max(largest, std::fabs(x));
    for (double& x : r.dominant) x = std::fabs(x) < 0.5 * largest ? 0.0 : std::copysign(1.0, x);
    return r;
}

// "row 3 of the operator table"
std::string row_name(std::size_t r) { return "row " + std::to_string(r + 1) + " of the operator table"; }

// One row of a spin-polarised run's table, decided keeping (false) or reversing (true):
// by a fixed listed point where the spin components differ, else by the dominant moments.
std::optional<bool> decide_row(const operation& op, std::size_t r, const spin_evidence& ev, const row_moments& rm,
                               bool time_reversal, bool& by_moments, std::string& why) {
    const int3x3 m = kpoint_action(op.w);
    const spin_evidence::split* fixed = nullptr;
    for (const auto& sp : ev.splits)
        if (!fixed && fixes(m, sp.c, time_reversal)) fixed = &sp;
    std::optional<bool> reverses;
    if (rm.state == moment_source::given) {
        const auto a = act_on_moments(op, *rm.s, rm.dominant);
        if (a.lost >= 0)
            return why = row_name(r) + " maps ion " + std::to_string(a.lost + 1) + " onto no ion of its species", std::nullopt;
        if (!a.keeps && !a.reverses)
            return why = row_name(r) + " maps the dominant moments of " + rm.source + " onto moments of both signs or none",
                   std::nullopt;
        reverses = a.reverses && !a.keeps;
    }
    if (fixed) {
        if (reverses && *reverses) {
            char text[400];
            std::snprintf(text, sizeof text,
                          "%s keeps the moments by the energies (it takes %s onto itself, where band %lld's spin "
                          "components differ by %.4f eV), but reverses them by the moments of %s",
                          row_name(r).c_str(), point_text(fixed->listed, fixed->c).c_str(),
                          static_cast<long long>(fixed->band + 1), fixed->by, rm.source);
            return why = text, std::nullopt;
        }
        return false;
    }
    if (reverses) {
        by_moments = true;
        return *reverses;
    }
    // The identity fixes every point: where the components differ anywhere the energies
    // decided it above, and where they agree everywhere no row gets here.
    why = rm.why + "; " + row_name(r) + " fixes no listed point where the spin components differ";
    return std::nullopt;
}

// The rows of a printed table, each keeping or reversing the moments: the run's group.
std::optional<std::vector<kpoint_operation>> table_rows(const listing& bands, const std::vector<operation>& ops,
                                                        const spin_evidence& ev, calculation_symmetry& sym,
                                                        std::string& why) {
    std::vector<kpoint_operation> out;
    if (!spin_polarised(bands) || ev.agree()) {
        sym.spins_agree = spin_polarised(bands);
        for (const auto& op : ops) out.push_back({kpoint_action(op.w), false});
        return out;
    }
    const row_moments rm = moments_for_rows(bands);
    bool by_moments = false;
    for (std::size_t r = 0; r < ops.size(); ++r) {
        const auto swaps = decide_row(ops[r], r, ev, rm, sym.time_reversal, by_moments, why);
        if (!swaps) return std::nullopt;
        out.push_back({kpoint_action(ops[r].w), *swaps});
    }
    sym.moments = by_moments ? rm.source : "";
    sym.by_energies = !by_moments;
    return out;
}

// The operations of the crystal structure, classified by the moments where the run is
// spin-polarised (unless the energies show that no spin action matters).
std::optional<std::vector<kpoint_operation>> structure_ops(const listing& bands, const symmetry_budget& budget,
                                                           const spin_evidence& ev, calculation_symmetry& sym,
                                                           std::string& why) {
    auto s = printed_structure(bands, why);
    if (!s) return std::nullopt;
    std::vector<double> moments;
    if (spin_polarised(bands)) {
        const auto state = initial_moments(bands.mesh, s->positions.size(), true, moments, sym.moments, why);
        if (state == moment_source::broken || (state == moment_source::none && !ev.agree())) return std::nullopt;
        sym.spins_agree = state == moment_source::none;  // and so the energies say
    }
    if (why = structure_fault(*s); !why.empty()) return std::nullopt;
    if (why = search_fault(*s, budget); !why.empty()) return std::nullopt;
    const auto found = structure_operations(*s);
    if (found.empty()) return why = "no symmetry operation maps the crystal structure onto itself", std::nullopt;
    bool beyond = false;
    auto ops = classify(found, *s, moments, budget, beyond);
    if (beyond)
        return why = "telling which operations keep the moments is more work than a listing of " +
                     std::to_string(budget.listing_bytes) + " bytes warrants",
               std::nullopt;
    return ops;
}

}  // namespace

bool fixes(const int3x3& m, const dvec3& c, bool time_reversal) {
    // The coordinates have six or eight decimals: through a small integer matrix their
    // rounding stays far below 1e-4.
    for (const double sign : {1.0, -1.0}) {
        if (sign < 0 && !time_reversal) break;
        bool same = true;
        for (std::size_t a = 0; a < 3; ++a) {
            const double d = m[a][0] * c[0] + m[a][1] * c[1] + m[a][2] * c[2] - sign * c[a];
            same = same && std::fabs(d - std::round(d)) <= 1e-4;
        }
        if (same) return true;
    }
    return false;
}

std::optional<calculation_symmetry> symmetry_of(const listing& bands, const symmetry_budget& budget,
                                                const spin_evidence& evidence, std::string& why) {
    const mesh_sections& m = bands.mesh;
    calculation_symmetry sym;
    sym.time_reversal = !(m.spin_orbit || m.noncollinear);
    const bool table = m.operator_table && (!m.operators.empty() || m.malformed_operator_line > 0);
    sym.source = table ? "the operator table" : "the crystal structure";
    std::vector<operation> rows;
    std::optional<std::vector<kpoint_operation>> ops;
    if (table) {
        auto read = table_operations(bands, why);
        if (!read) return std::nullopt;
        rows = std::move(*read);
        ops = table_rows(bands, rows, evidence, sym, why);
    } else {
        ops = structure_ops(bands, budget, evidence, sym, why);
    }
    if (!ops) return std::nullopt;
    sym.ops = std::move(*ops);
    std::sort(sym.ops.begin(), sym.ops.end());
    sym.ops.erase(std::unique(sym.ops.begin(), sym.ops.end()), sym.ops.end());
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
        for (std::size_t r = 0; r < rows.size() && row == 0; ++r)
            if (kpoint_action(rows[r].w) == op.m) row = static_cast<std::int64_t>(r + 1);
        sym.rows.push_back(row);
    }
    return sym;
}

}  // namespace bandcut
