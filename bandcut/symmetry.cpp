#include "symmetry.hpp"

#include <spglib.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

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

real3x3 product(const real3x3& a, const real3x3& b) {
    real3x3 c{};
    for (std::size_t i = 0; i < 3; ++i)
        for (std::size_t j = 0; j < 3; ++j)
            for (std::size_t k = 0; k < 3; ++k) c[i][j] += a[i][k] * b[k][j];
    return c;
}

std::optional<real3x3> inverse(const real3x3& m) {
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
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

}  // namespace

std::optional<int3x3> kpoint_rotation(const operator_row& row, const std::array<dvec3, 3>& reciprocal) {
    const double length = std::sqrt(row.axis[0] * row.axis[0] + row.axis[1] * row.axis[1] + row.axis[2] * row.axis[2]);
    if (!(length > 0.5 && length < 2) || !std::isfinite(row.alpha) || !(std::fabs(std::fabs(row.det) - 1) < 1e-3))
        return std::nullopt;
    const dvec3 n{row.axis[0] / length, row.axis[1] / length, row.axis[2] / length};
    const double a = row.alpha * std::acos(-1.0) / 180;
    const double c = std::cos(a), s = std::sin(a);
    // Rot = cos a I + sin a [n]x + (1 - cos a) n n^T, then R = det Rot.
    const real3x3 cross{{{0, -n[2], n[1]}, {n[2], 0, -n[0]}, {-n[1], n[0], 0}}};
    real3x3 r{};
    for (std::size_t i = 0; i < 3; ++i)
        for (std::size_t j = 0; j < 3; ++j)
            r[i][j] = (row.det < 0 ? -1 : 1) * ((i == j ? c : 0) + s * cross[i][j] + (1 - c) * n[i] * n[j]);
    // B^-1 is A^T up to the printed digits; the inverse of B itself is used.
    const real3x3 b = columns(reciprocal);
    const auto b_inverse = inverse(b);
    if (!b_inverse) return std::nullopt;
    const real3x3 m = product(*b_inverse, product(r, b));
    int3x3 rounded{};
    for (std::size_t i = 0; i < 3; ++i)
        for (std::size_t j = 0; j < 3; ++j) {
            const double nearest = std::round(m[i][j]);
            if (!(std::fabs(m[i][j] - nearest) <= 1e-3) || std::fabs(nearest) > 8) return std::nullopt;
            rounded[i][j] = static_cast<int>(nearest);
        }
    return rounded;
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

std::vector<int3x3> crystal_rotations(const std::array<dvec3, 3>& direct, const std::vector<dvec3>& positions,
                                      const std::vector<int>& types, const std::vector<double>* moments) {
    const int ions = static_cast<int>(positions.size());
    if (ions == 0 || types.size() != positions.size() || (moments && moments->size() != positions.size())) return {};
    // spglib takes the lattice vectors as columns, and non-const arrays.
    double lattice[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) lattice[i][j] = direct[static_cast<std::size_t>(j)][static_cast<std::size_t>(i)];
    std::unique_ptr<double[][3]> pos(new double[positions.size()][3]);
    for (std::size_t k = 0; k < positions.size(); ++k)
        for (std::size_t j = 0; j < 3; ++j) pos[k][j] = positions[k][j];
    std::vector<int> type(types);
    // At most 48 rotations, each repeated by every pure translation of a supercell.
    const int most = 48 * ions;
    std::unique_ptr<int[][3][3]> rot(new int[static_cast<std::size_t>(most)][3][3]);
    std::unique_ptr<double[][3]> trans(new double[static_cast<std::size_t>(most)][3]);
    constexpr double symprec = 1e-5;
    int found = 0;
    std::vector<int> flips;
    if (moments) {
        std::vector<double> tensors(*moments);
        std::vector<int> equivalent(positions.size());
        flips.resize(static_cast<std::size_t>(most));
        double primitive[3][3];
        found = spg_get_symmetry_with_site_tensors(rot.get(), trans.get(), equivalent.data(), primitive, flips.data(), most,
                                                   lattice, pos.get(), type.data(), tensors.data(), 0, ions, 1, 0, symprec);
    } else {
        found = spg_get_symmetry(rot.get(), trans.get(), most, lattice, pos.get(), type.data(), ions, symprec);
    }
    std::vector<int3x3> distinct;
    for (int op = 0; op < found; ++op) {
        if (moments && flips[static_cast<std::size_t>(op)] != 1) continue;
        int3x3 w{};
        for (std::size_t i = 0; i < 3; ++i)
            for (std::size_t j = 0; j < 3; ++j) w[i][j] = rot[op][i][j];
        distinct.push_back(w);
    }
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    return distinct;
}

}  // namespace bandcut
