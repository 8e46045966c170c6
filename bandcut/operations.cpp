#include "operations.hpp"

#include <spglib.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <unordered_map>

namespace bandcut {

namespace {

using real3x3 = std::array<dvec3, 3>;  // row by row

// The matrix whose columns are the three vectors.
real3x3 columns(const std::array<dvec3, 3>& v) {
    real3x3 m{};
    for (std::size_t i = 0; i < 3; ++i)
        for (std::size_t j = 0; j < 3; ++j) m[i][j] = v[j][i];
    return m;
}

double determinant(const real3x3& m) {
    return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
           m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

std::optional<real3x3> inverse(const real3x3& m) {
    const double det = determinant(m);
    if (!std::isfinite(det) || det == 0) return std::nullopt;
    real3x3 inv{};
    for (std::size_t i = 0; i < 3; ++i)
        for (std::size_t j = 0; j < 3; ++j) {
            // cofactor of (j, i)
            const std::size_t r1 = (j + 1) % 3, r2 = (j + 2) % 3, c1 = (i + 1) % 3, c2 = (i + 2) % 3;
            inv[i][j] = (m[r1][c1] * m[r2][c2] - m[r1][c2] * m[r2][c1]) / det;
        }
    return inv;
}

double length(const dvec3& v) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

// A fractional coordinate moved into [0, 1) by a lattice vector.
double wrapped(double x) {
    const double w = x - std::floor(x);
    return w < 1 ? w : 0;  // -1e-17 wraps to 1 - 1e-17, which rounds to 1
}

// How far two fractional coordinates may lie apart and be one site, per axis: the six
// decimals of a table's translation and the eight of the positions, through an integer
// matrix, stay below 1e-6; distinct sites of real crystals lie far above 2e-5.
constexpr double same_site = 2e-5;

// The ions of a structure by where they sit, in buckets of a grid over the cell, so that
// the ion at a place is found without looking at them all.
class site_index {
public:
    explicit site_index(const structure& s) : s_(s) {
        const auto n = s.positions.size();
        per_axis_ = std::clamp(static_cast<int>(std::cbrt(static_cast<double>(n) / 2)), 1, 64);
        start_.assign(static_cast<std::size_t>(per_axis_ * per_axis_ * per_axis_) + 1, 0);
        for (std::size_t i = 0; i < n; ++i) ++start_[bucket_of(s.positions[i]) + 1];
        for (std::size_t b = 1; b < start_.size(); ++b) start_[b] += start_[b - 1];
        ions_.resize(n);
        std::vector<std::size_t> fill(start_.begin(), start_.end() - 1);
        for (std::size_t i = 0; i < n; ++i) ions_[fill[bucket_of(s.positions[i])]++] = static_cast<int>(i);
    }

    // The ion of species `type` at x (or at a periodic image of it), other than `except`;
    // -1 when there is none.
    int find(const dvec3& x, int type, int except = -1) const {
        ++finds;
        std::array<std::array<int, 2>, 3> cells{};
        for (std::size_t a = 0; a < 3; ++a) {
            cells[a][0] = cell_of(x[a] - same_site);
            cells[a][1] = cell_of(x[a] + same_site);
        }
        for (std::size_t i = 0; i < 2; ++i)
            for (std::size_t j = 0; j < 2; ++j)
                for (std::size_t k = 0; k < 2; ++k) {
                    if ((i && cells[0][1] == cells[0][0]) || (j && cells[1][1] == cells[1][0]) ||
                        (k && cells[2][1] == cells[2][0]))
                        continue;
                    const auto b = static_cast<std::size_t>((cells[0][i] * per_axis_ + cells[1][j]) * per_axis_ + cells[2][k]);
                    for (std::size_t at = start_[b]; at < start_[b + 1]; ++at) {
                        const int ion = ions_[at];
                        if (ion != except && s_.types[static_cast<std::size_t>(ion)] == type &&
                            same_place(x, s_.positions[static_cast<std::size_t>(ion)]))
                            return ion;
                    }
                }
        return -1;
    }

    mutable std::uint64_t finds = 0;  // the work done: each find looks at a few buckets

private:
    static bool same_place(const dvec3& x, const dvec3& y) {
        for (std::size_t a = 0; a < 3; ++a) {
            const double d = x[a] - y[a];
            if (!(std::fabs(d - std::round(d)) <= same_site)) return false;
        }
        return true;
    }
    int cell_of(double x) const { return std::min(static_cast<int>(wrapped(x) * per_axis_), per_axis_ - 1); }
    std::size_t bucket_of(const dvec3& x) const {
        return static_cast<std::size_t>((cell_of(x[0]) * per_axis_ + cell_of(x[1])) * per_axis_ + cell_of(x[2]));
    }

    const structure& s_;
    int per_axis_ = 1;
    std::vector<std::size_t> start_;
    std::vector<int> ions_;
};

}  // namespace

std::optional<operation> table_operation(const operator_row& row, const std::array<dvec3, 3>& direct) {
    const double n = length(row.axis);
    if (!(n > 0.5 && n < 2) || !std::isfinite(row.alpha) || !(std::fabs(std::fabs(row.det) - 1) < 1e-3)) return std::nullopt;
    for (const double t : row.tau)
        if (!std::isfinite(t)) return std::nullopt;
    const dvec3 u{row.axis[0] / n, row.axis[1] / n, row.axis[2] / n};
    const double a = row.alpha * std::acos(-1.0) / 180;
    const double c = std::cos(a), s = std::sin(a);
    // Rot = cos a I + sin a [u]x + (1 - cos a) u u^T, then R = det Rot.
    const real3x3 cross{{{0, -u[2], u[1]}, {u[2], 0, -u[0]}, {-u[1], u[0], 0}}};
    real3x3 r{};
    for (std::size_t i = 0; i < 3; ++i)
        for (std::size_t j = 0; j < 3; ++j)
            r[i][j] = (row.det < 0 ? -1 : 1) * ((i == j ? c : 0) + s * cross[i][j] + (1 - c) * u[i] * u[j]);
    const real3x3 lattice = columns(direct);
    const auto lattice_inverse = inverse(lattice);
    if (!lattice_inverse) return std::nullopt;
    const real3x3 w = product(*lattice_inverse, product(r, lattice));
    operation op{{}, row.tau};
    for (std::size_t i = 0; i < 3; ++i)
        for (std::size_t j = 0; j < 3; ++j) {
            const double nearest = std::round(w[i][j]);
            if (!(std::fabs(w[i][j] - nearest) <= 1e-3) || std::fabs(nearest) > 8) return std::nullopt;
            op.w[i][j] = static_cast<int>(nearest);
        }
    return op;
}

int3x3 kpoint_action(const int3x3& w) {
    // For det W = +-1 the inverse is the adjugate times det W; transposed, the cofactors
    // times det W.
    const int det = w[0][0] * (w[1][1] * w[2][2] - w[1][2] * w[2][1]) - w[0][1] * (w[1][0] * w[2][2] - w[1][2] * w[2][0]) +
                    w[0][2] * (w[1][0] * w[2][1] - w[1][1] * w[2][0]);
    int3x3 m{};
    for (std::size_t i = 0; i < 3; ++i)
        for (std::size_t j = 0; j < 3; ++j) {
            const std::size_t r1 = (i + 1) % 3, r2 = (i + 2) % 3, c1 = (j + 1) % 3, c2 = (j + 2) % 3;
            m[i][j] = det * (w[r1][c1] * w[r2][c2] - w[r1][c2] * w[r2][c1]);  // cofactor of (i, j)
        }
    return m;
}

symmetry_budget symmetry_budget::for_listing(std::uint64_t bytes) {
    return {bytes, std::min(2.0, 0.25 + 5e-8 * static_cast<double>(bytes))};
}

double symmetry_budget::predicted_seconds(std::int64_t ions, std::int64_t rarest) {
    return 2e-6 * static_cast<double>(ions) * static_cast<double>(rarest);
}

finding search_fault(const structure& s, const symmetry_budget& budget) {
    std::map<int, std::int64_t> per_species;
    for (const int t : s.types) ++per_species[t];
    std::int64_t rarest = 0;
    for (const auto& [type, n] : per_species) rarest = rarest == 0 ? n : std::min(rarest, n);
    const auto ions = static_cast<std::int64_t>(s.positions.size());
    const double predicted = symmetry_budget::predicted_seconds(ions, rarest);
    if (predicted <= budget.seconds) return {};
    finding f = found(cause::search_too_long, ions, rarest, static_cast<std::int64_t>(budget.listing_bytes));
    f.value = predicted;
    f.limit = budget.seconds;
    return f;
}

finding structure_fault(const structure& s) {
    for (std::size_t i = 0; i < 3; ++i) {
        const double l = length(s.direct[i]);
        const auto vector = static_cast<std::int64_t>(i + 1);
        if (!std::isfinite(l)) return found(cause::lattice_not_number, vector);
        if (!(l >= 0.1 && l <= 1e4)) {
            finding f = found(cause::lattice_length, vector);
            f.value = l;
            return f;
        }
    }
    const double volume = std::fabs(determinant(s.direct));
    if (!(volume >= 1e-3 * length(s.direct[0]) * length(s.direct[1]) * length(s.direct[2]))) return found(cause::no_volume);
    for (std::size_t i = 0; i < s.positions.size(); ++i)
        for (const double x : s.positions[i])
            if (!std::isfinite(x)) return found(cause::position_not_number, static_cast<std::int64_t>(i + 1));
    const site_index sites(s);
    for (std::size_t i = 0; i < s.positions.size(); ++i) {
        const int other = sites.find(s.positions[i], s.types[i], static_cast<int>(i));
        if (other >= 0)
            return found(cause::one_site, static_cast<std::int64_t>(std::min<std::size_t>(i, static_cast<std::size_t>(other)) + 1),
                         static_cast<std::int64_t>(std::max<std::size_t>(i, static_cast<std::size_t>(other)) + 1), s.types[i]);
    }
    return {};
}

std::vector<operation> structure_operations(const structure& s) {
    const auto ions = s.positions.size();
    // spglib takes the lattice vectors as the columns of a matrix, and non-const arrays.
    double lattice[3][3];
    for (std::size_t i = 0; i < 3; ++i)
        for (std::size_t j = 0; j < 3; ++j) lattice[i][j] = s.direct[j][i];
    std::unique_ptr<double[][3]> positions(new double[ions][3]);
    for (std::size_t k = 0; k < ions; ++k)
        for (std::size_t j = 0; j < 3; ++j) positions[k][j] = wrapped(s.positions[k][j]);
    // At most 48 rotations, each repeated by every pure translation of a supercell (at
    // most one per ion).
    const std::size_t most = 48 * ions;
    std::unique_ptr<int[][3][3]> rotations(new int[most][3][3]);
    std::unique_ptr<double[][3]> translations(new double[most][3]);
    constexpr double symprec = 1e-5;  // A: how far a mapped ion may lie from its image
    // (rotations out, translations out, their room, lattice, positions, species, ions, tolerance)
    const int found = spg_get_symmetry(rotations.get(), translations.get(), static_cast<int>(most), lattice,
                                       positions.get(), s.types.data(), static_cast<int>(ions), symprec);
    std::vector<operation> ops;
    for (std::size_t op = 0; op < static_cast<std::size_t>(std::max(found, 0)); ++op) {
        operation o{};
        for (std::size_t i = 0; i < 3; ++i) {
            for (std::size_t j = 0; j < 3; ++j) o.w[i][j] = rotations[op][i][j];
            o.tau[i] = translations[op][i];
        }
        ops.push_back(o);
    }
    return ops;
}

namespace {

// What an operation does to the moments: keeps them all, reverses them all (both, for
// zero moments), or neither (then both are false).
struct action {
    bool keeps = false, reverses = false;
};

action compose(action a, action b) {
    return {(a.keeps && b.keeps) || (a.reverses && b.reverses), (a.keeps && b.reverses) || (a.reverses && b.keeps)};
}

class moment_classifier {
public:
    moment_classifier(const structure& s, const std::vector<double>& moments) : s_(s), m_(moments), sites_(s) {
        double largest = 0;
        for (const double x : moments) largest = std::max(largest, std::fabs(x));
        tolerance_ = 1e-9 * std::max(largest, 1.0);
    }

    // Maps every ion and compares moments, stopping at the first ion that shows neither;
    // `lost` the ion mapped onto no ion of its species.
    action of(const operation& op, std::int64_t* lost = nullptr) const {
        action a{true, true};
        for (std::size_t i = 0; i < s_.positions.size() && (a.keeps || a.reverses); ++i) {
            const dvec3& x = s_.positions[i];
            dvec3 y{};
            for (std::size_t r = 0; r < 3; ++r) y[r] = op.w[r][0] * x[0] + op.w[r][1] * x[1] + op.w[r][2] * x[2] + op.tau[r];
            const int j = sites_.find(y, s_.types[i]);
            if (j < 0) {
                if (lost) *lost = static_cast<std::int64_t>(i);
                return {};
            }
            const double mi = m_[i], mj = m_[static_cast<std::size_t>(j)];
            a.keeps = a.keeps && std::fabs(mj - mi) <= tolerance_;
            a.reverses = a.reverses && std::fabs(mj + mi) <= tolerance_;
        }
        return a;
    }

    std::uint64_t work() const { return sites_.finds; }

private:
    const structure& s_;
    const std::vector<double>& m_;
    site_index sites_;
    double tolerance_ = 0;
};

// A translation's place in the cell, to the 2^-16 of the cell: translations of a supercell
// are fractions p / D of small D, which never fall within the roundings of the listing of a
// half-step of this grid.
std::uint64_t place_key(const dvec3& t) {
    std::uint64_t key = 0;
    for (const double x : t) key = key << 16 | (static_cast<std::uint64_t>(std::llround(wrapped(x) * 65536)) & 0xFFFF);
    return key;
}

}  // namespace

moment_action act_on_moments(const operation& op, const structure& s, const std::vector<double>& moments) {
    moment_action out;
    const action a = moment_classifier(s, moments).of(op, &out.lost);
    out.keeps = a.keeps;
    out.reverses = a.reverses;
    return out;
}

std::vector<kpoint_operation> classify(const std::vector<operation>& ops, const structure& s,
                                       const std::vector<double>& moments, const symmetry_budget& budget,
                                       bool& beyond_bound) {
    beyond_bound = false;
    std::vector<kpoint_operation> out;
    const auto add = [&](const int3x3& w, action a) {
        if (a.keeps) out.push_back({kpoint_action(w), false});
        if (a.reverses) out.push_back({kpoint_action(w), true});
    };
    // The operations by rotation: a supercell repeats each with every pure translation.
    std::map<int3x3, std::vector<dvec3>> by_rotation;
    for (const auto& op : ops) by_rotation[op.w].push_back(op.tau);
    if (moments.empty()) {
        for (const auto& [w, taus] : by_rotation) add(w, {true, false});
        return out;
    }
    const moment_classifier classifier(s, moments);
    const std::uint64_t most_work = std::max<std::uint64_t>(4000000, 8 * budget.listing_bytes);
    // The pure translations first: those that keep or reverse the moments (the magnetic
    // ones, the trivial one among them) carry the action of one operation to all of its
    // rotation's others, so that each rotation needs one classification per coset of them.
    const int3x3 identity{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
    const dvec3 none{0, 0, 0};
    std::vector<std::pair<dvec3, action>> magnetic{{none, {true, false}}};
    const auto translations = by_rotation.find(identity);
    if (translations != by_rotation.end())
        for (const auto& t : translations->second) {
            if (place_key(t) == place_key(none)) continue;
            const action a = classifier.of({identity, t});
            if (a.keeps || a.reverses) magnetic.emplace_back(t, a);
            if (classifier.work() > most_work) return beyond_bound = true, std::vector<kpoint_operation>{};
        }
    for (const auto& [w, taus] : by_rotation) {
        action any{};
        if (w == identity) {
            for (const auto& [t, a] : magnetic) any = {any.keeps || a.keeps, any.reverses || a.reverses};
            add(w, any);
            continue;
        }
        std::unordered_map<std::uint64_t, std::size_t> place;
        for (std::size_t i = 0; i < taus.size(); ++i) place.emplace(place_key(taus[i]), i);
        std::vector<char> known(taus.size(), 0);
        for (std::size_t i = 0; i < taus.size() && !(any.keeps && any.reverses); ++i) {
            if (known[i]) continue;
            const action a = classifier.of({w, taus[i]});
            for (const auto& [t, b] : magnetic) {
                const dvec3 moved{taus[i][0] + t[0], taus[i][1] + t[1], taus[i][2] + t[2]};
                if (const auto at = place.find(place_key(moved)); at != place.end()) known[at->second] = 1;
                const action c = compose(a, b);
                any = {any.keeps || c.keeps, any.reverses || c.reverses};
            }
            if (classifier.work() > most_work) return beyond_bound = true, std::vector<kpoint_operation>{};
        }
        add(w, any);
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

}  // namespace bandcut
