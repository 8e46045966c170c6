#include "symmetry.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace bandcut {

namespace {

// The structure the listing prints after its dimension line, its ion counts checked
// against its positions before any of them sizes anything.
std::optional<structure> printed_structure(const listing& bands, finding& why) {
    const mesh_sections& m = bands.mesh;
    structure s;
    s.direct = bands.direct_double;
    s.positions = m.positions;
    if (s.positions.empty()) {
        why = found(cause::no_structure);
        return std::nullopt;
    }
    const auto ions = static_cast<std::int64_t>(s.positions.size());
    std::int64_t counted = 0;
    for (std::size_t t = 0; t < m.ions_per_type.size(); ++t) {
        const std::int64_t n = m.ions_per_type[t];
        if (n < 0 || n > ions - counted) {
            why = n < 0 ? found(cause::negative_species, n, static_cast<std::int64_t>(t + 1)) : found(cause::species_beyond, ions);
            return std::nullopt;
        }
        counted += n;
        s.types.insert(s.types.end(), static_cast<std::size_t>(n), static_cast<int>(t + 1));
    }
    if (m.nions && *m.nions != ions) {
        why = found(cause::positions_not_ions, ions, *m.nions);
        return std::nullopt;
    }
    if (counted != ions) {
        why = found(cause::species_short, counted, ions);
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
                              moment_origin& source, finding& why) {
    moments.clear();
    // A failure names the source it found, if any.
    const auto fail = [&](finding f, moment_source state) {
        f.moments = source;
        why = f;
        return state;
    };
    if (m.magmom_conflict()) return fail(found(cause::magmom_twice, m.magmom_lines[0], m.magmom_lines[1]), moment_source::none);
    if (m.magmom_given) {
        source = moment_origin::magmom;
        if (!m.magmom_readable) return fail(found(cause::magmom_unreadable), moment_source::broken);
        if (m.magmom_count != static_cast<std::int64_t>(ions))
            return fail(found(cause::moments_count, m.magmom_count, static_cast<std::int64_t>(ions)), moment_source::broken);
        for (const auto& [count, value] : m.magmom) moments.insert(moments.end(), static_cast<std::size_t>(count), value);
    } else if (m.default_moments) {
        source = moment_origin::default_one;
        moments.assign(ions, 1.0);
    } else if (m.magnetization_read) {
        source = moment_origin::first_table;
        double largest = 0;
        for (const double x : m.magnetization) largest = std::max(largest, std::fabs(x));
        for (const double x : m.magnetization)
            moments.push_back(!signs_only || !std::isfinite(x) ? x
                              : std::fabs(x) < 0.1 * largest || x == 0 ? 0.0
                                                                       : x > 0 ? 1.0 : -1.0);
    } else {
        return fail(found(cause::no_moments), moment_source::none);
    }
    if (moments.size() != ions)
        return fail(found(cause::moments_count, static_cast<std::int64_t>(moments.size()), static_cast<std::int64_t>(ions)),
                    moment_source::broken);
    for (std::size_t i = 0; i < moments.size(); ++i)
        if (!std::isfinite(moments[i])) return fail(found(cause::moment_not_number, static_cast<std::int64_t>(i + 1)), moment_source::broken);
    if (std::all_of(moments.begin(), moments.end(), [](double x) { return x == 0; }))
        return fail(found(cause::moments_all_zero), moment_source::none);
    return moment_source::given;
}

// The table's rows as operations of the printed lattice.
std::optional<std::vector<operation>> table_operations(const listing& bands, finding& why) {
    const mesh_sections& m = bands.mesh;
    if (m.malformed_operator_line > 0) {
        why = found(cause::operator_line, m.malformed_operator_line);
        return std::nullopt;
    }
    std::vector<operation> ops;
    for (std::size_t row = 0; row < m.operators.size(); ++row) {
        const auto op = table_operation(m.operators[row], bands.direct_double);
        if (!op) {
            why = found(cause::row_not_operation, static_cast<std::int64_t>(row + 1));
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
    moment_origin source = moment_origin::none;
    moment_source state = moment_source::none;
    finding why;  // when not given
};

row_moments moments_for_rows(const listing& bands) {
    row_moments r;
    r.s = printed_structure(bands, r.why);
    if (!r.s) return r.state = moment_source::broken, r;
    r.state = initial_moments(bands.mesh, r.s->positions.size(), false, r.dominant, r.source, r.why);
    if (r.state != moment_source::given) return r;
    if (r.why = structure_fault(*r.s); r.why) return r.state = moment_source::broken, r;
    // Their signs: a table of moments prints an orbit's moments unsymmetrised.
    double largest = 0;
    for (const double x : r.dominant) largest = std::max(largest, std::fabs(x));
    for (double& x : r.dominant) x = std::fabs(x) < 0.5 * largest ? 0.0 : std::copysign(1.0, x);
    return r;
}

// One row of a spin-polarised run's table, decided keeping (false) or reversing (true):
// by a fixed listed point where the spin components differ, else by the dominant moments.
std::optional<bool> decide_row(const operation& op, std::size_t r, const spin_evidence& ev, const row_moments& rm,
                               bool time_reversal, bool& by_moments, finding& why) {
    const auto row = static_cast<std::int64_t>(r + 1);
    const int3x3 m = kpoint_action(op.w);
    const spin_evidence::split* fixed = nullptr;
    for (const auto& sp : ev.splits)
        if (!fixed && fixes(m, sp.c, time_reversal)) fixed = &sp;
    std::optional<bool> reverses;
    if (rm.state == moment_source::given) {
        const auto a = act_on_moments(op, *rm.s, rm.dominant);
        if (a.lost >= 0) return why = found(cause::row_loses_ion, row, a.lost + 1), std::nullopt;
        if (!a.keeps && !a.reverses) {
            why = found(cause::row_mixes_moments, row);
            why.moments = rm.source;
            return std::nullopt;
        }
        reverses = a.reverses && !a.keeps;
    }
    if (fixed) {
        if (reverses && *reverses) {
            why = at_point(found(cause::row_contradicted, row), fixed->listed, fixed->c);
            why.band = fixed->band;
            why.value = fixed->by;
            why.moments = rm.source;
            return std::nullopt;
        }
        return false;
    }
    if (reverses) {
        by_moments = true;
        return *reverses;
    }
    // The identity fixes every point: where the components differ anywhere the energies
    // decided it above, and where they agree everywhere no row gets here.
    why = rm.why;
    why.undecided_row = row;
    return std::nullopt;
}

// The rows of a printed table, each keeping or reversing the moments: the run's group.
std::optional<std::vector<kpoint_operation>> table_rows(const listing& bands, const std::vector<operation>& ops,
                                                        const spin_evidence& ev, calculation_symmetry& sym,
                                                        finding& why) {
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
    sym.moments = by_moments ? rm.source : moment_origin::none;
    sym.by_energies = !by_moments;
    return out;
}

// The operations of the crystal structure, classified by the moments where the run is
// spin-polarised (unless the energies show that no spin action matters).
std::optional<std::vector<kpoint_operation>> structure_ops(const listing& bands, const symmetry_budget& budget,
                                                           const spin_evidence& ev, calculation_symmetry& sym,
                                                           finding& why) {
    auto s = printed_structure(bands, why);
    if (!s) return std::nullopt;
    std::vector<double> moments;
    if (spin_polarised(bands)) {
        const auto state = initial_moments(bands.mesh, s->positions.size(), true, moments, sym.moments, why);
        if (state == moment_source::broken || (state == moment_source::none && !ev.agree())) return std::nullopt;
        sym.spins_agree = state == moment_source::none;  // and so the energies say
    }
    if (why = structure_fault(*s); why) return std::nullopt;
    if (why = search_fault(*s, budget); why) return std::nullopt;
    const auto ops_found = structure_operations(*s);
    if (ops_found.empty()) return why = found(cause::no_symmetry), std::nullopt;
    bool beyond = false;
    auto ops = classify(ops_found, *s, moments, budget, beyond);
    if (beyond) return why = found(cause::classify_too_long, 0, 0, static_cast<std::int64_t>(budget.listing_bytes)), std::nullopt;
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
                                                const spin_evidence& evidence, finding& why) {
    const mesh_sections& m = bands.mesh;
    calculation_symmetry sym;
    sym.time_reversal = !(m.spin_orbit || m.noncollinear);
    const bool table = m.operator_table && (!m.operators.empty() || m.malformed_operator_line > 0);
    sym.source = table ? op_source::operator_table : op_source::crystal_structure;
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
        why = found(cause::nothing_kept);
        why.source = sym.source;
        why.moments = sym.moments;
        return std::nullopt;
    }
    // A crystal's point group has at most 48 operations: more are no crystal's, and would
    // make the proof's work grow with their square.
    std::vector<int3x3> rotations;
    for (const auto& op : sym.ops) rotations.push_back(op.m);
    if (std::unique(rotations.begin(), rotations.end()) - rotations.begin() > 48) {  // sorted with the operations
        why = found(cause::too_many_rotations);
        why.source = sym.source;
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
