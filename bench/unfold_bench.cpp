// Unfolding a 64 x 64 x 64 mesh of a simple cubic crystal from its irreducible wedge (48
// rotations, 6545 irreducible k-points): the CPU time of bandcut's unfold(), symmetry
// from the crystal structure included.  The wedge is found here by brute-force orbits.
// Then whole cuts of antiferromagnetic supercells of hundreds of ions, where the symmetry
// search and the classification of its operations by the moments dominate.
#include "account.hpp"
#include "cut_state.hpp"
#include "operations.hpp"
#include "supercell.hpp"
#include "unfolding.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <random>
#include <vector>

namespace {

double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Whole cuts (reading, symmetry search, classification, proof) of supercells with
// moments, in listings just large enough to warrant the search: enough bands (each band
// line of the 8 blocks about 34 bytes) that the budget allows spglib's predicted time.
int supercells() {
    for (const int cells : {4, 5, 6}) {
        const int ions = 4 * cells * cells * cells;
        const double bytes = (bandcut::symmetry_budget::predicted_seconds(ions, ions) - 0.25) / 5e-8;
        const std::string text = bandcut_test::supercell_listing(cells, std::max(1500, static_cast<int>(bytes / (8 * 34)) + 1000));
        std::vector<double> times;
        std::string last;
        for (int run = 0; run < 7; ++run) {
            std::FILE* in = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
            const double start = cpu_seconds();
            const auto r = bandcut::run_cut(in, "OUTCAR", {2, 2, 2}, -5.0f);
            times.push_back(cpu_seconds() - start);
            std::fclose(in);
            last = r.said.back().text;
        }
        std::sort(times.begin(), times.end());
        std::printf("cut of a supercell of %d ions with moments (listing %.2f MB): CPU median %.3f s, min %.3f s "
                    "(bound: about a second)\n  %s\n",
                    4 * cells * cells * cells, static_cast<double>(text.size()) / 1e6, times[times.size() / 2],
                    times.front(), last.c_str());
    }
    return 0;
}

// spglib's search over n x n x n face-centred cubic cells of two species placed at random
// (the worst case measured: every ion a candidate translation for half of them), and over
// the same cells of one species with one ion displaced: the time measured against the
// time the symmetry budget predicts (operations.hpp), which must not fall below it.
int search_times() {
    std::mt19937 rng(1);
    for (const int cells : {4, 6, 8}) {
        for (const bool displaced : {false, true}) {
            bandcut::structure s;
            s.direct = {{{4.0 * cells, 0, 0}, {0, 4.0 * cells, 0}, {0, 0, 4.0 * cells}}};
            const double basis[4][3] = {{0, 0, 0}, {0.5, 0.5, 0}, {0.5, 0, 0.5}, {0, 0.5, 0.5}};
            for (int i = 0; i < cells * cells * cells; ++i)
                for (const auto& b : basis) {
                    s.positions.push_back({(i % cells + b[0]) / cells, (i / cells % cells + b[1]) / cells,
                                           (i / cells / cells + b[2]) / cells});
                    s.types.push_back(displaced ? 1 : 1 + static_cast<int>(rng() % 2));
                }
            if (displaced) s.positions[0][0] += 0.01 / cells;
            std::int64_t rarest = static_cast<std::int64_t>(std::count(s.types.begin(), s.types.end(), 1));
            rarest = std::min<std::int64_t>(rarest, static_cast<std::int64_t>(s.types.size()) - rarest);
            if (rarest == 0) rarest = static_cast<std::int64_t>(s.types.size());
            const double start = cpu_seconds();
            const auto ops = bandcut::structure_operations(s);
            const double took = cpu_seconds() - start;
            const double predicted =
                bandcut::symmetry_budget::predicted_seconds(static_cast<std::int64_t>(s.types.size()), rarest);
            std::printf("spglib over %zu ions (%s): %.3f s, predicted %.3f s (ratio %.2f; %zu operations)\n",
                        s.types.size(), displaced ? "one species, one ion displaced" : "two species at random", took,
                        predicted, took / predicted, ops.size());
        }
    }
    return 0;
}

}  // namespace

int main() {
    constexpr int n = 64;
    // The 48 operations of the cube on k-points: signed permutations.
    std::vector<std::array<std::array<int, 3>, 3>> ops;
    const int perms[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
    for (const auto& p : perms)
        for (int signs = 0; signs < 8; ++signs) {
            std::array<std::array<int, 3>, 3> m{};
            for (int i = 0; i < 3; ++i) m[static_cast<std::size_t>(i)][static_cast<std::size_t>(p[i])] = (signs >> i & 1) ? -1 : 1;
            ops.push_back(m);
        }
    std::vector<int> owner(n * n * n, -1);
    bandcut::listing bands;
    auto& m = bands.mesh;
    for (int i3 = 0; i3 < n; ++i3)
        for (int i2 = 0; i2 < n; ++i2)
            for (int i1 = 0; i1 < n; ++i1) {
                const int index = (i1 * n + i2) * n + i3;
                if (owner[static_cast<std::size_t>(index)] >= 0) continue;
                const int i = static_cast<int>(m.irreducible.size());
                int reached = 0;
                for (const auto& op : ops) {
                    const int x[3] = {i1, i2, i3};
                    int y[3];
                    for (int a = 0; a < 3; ++a) {
                        y[a] = 0;
                        for (int b = 0; b < 3; ++b) y[a] += op[static_cast<std::size_t>(a)][static_cast<std::size_t>(b)] * x[b];
                        y[a] = ((y[a] % n) + n) % n;
                    }
                    auto& o = owner[static_cast<std::size_t>((y[0] * n + y[1]) * n + y[2])];
                    if (o < 0) {
                        o = i;
                        ++reached;
                    }
                }
                const bandcut::dvec3 c{i1 / double(n), i2 / double(n), i3 / double(n)};
                m.irreducible.push_back({c, double(reached)});
                m.kpoints.push_back({c, reached / double(n * n * n)});
            }
    bands.nkpts = static_cast<std::int32_t>(m.irreducible.size());
    bands.kpoint = bandcut::make_table<bandcut::vec3>(m.irreducible.size());
    for (std::size_t k = 0; k < m.irreducible.size(); ++k)
        for (std::size_t a = 0; a < 3; ++a) bands.kpoint[k][a] = static_cast<float>(m.irreducible[k].c[a]);
    m.irreducible_list = true;
    bands.direct_double = {{{3, 0, 0}, {0, 3, 0}, {0, 0, 3}}};
    bands.reciprocal_double = {{{1 / 3.0, 0, 0}, {0, 1 / 3.0, 0}, {0, 0, 1 / 3.0}}};
    m.nions = 1;
    m.ions_per_type = {1};
    m.positions = {{0, 0, 0}};
    m.ispin = 1;
    m.operations_found = 48;

    std::vector<double> times;
    for (int run = 0; run < 15; ++run) {
        const double start = cpu_seconds();
        const auto u = bandcut::unfold(bands, {n, n, n}, bandcut::symmetry_budget::for_listing(std::uint64_t{1} << 30), 5.0f);
        times.push_back(cpu_seconds() - start);
        if (!u.done) {
            std::printf("did not unfold: %s\n", bandcut::finding_words(u.why).c_str());
            return 1;
        }
    }
    std::sort(times.begin(), times.end());
    std::printf("unfold %d irreducible k-points onto %d x %d x %d (48 rotations, from the crystal structure): "
                "CPU median %.1f ms, min %.1f ms over %zu runs (target < 50 ms)\n",
                bands.nkpts, n, n, n, 1e3 * times[times.size() / 2], 1e3 * times.front(), times.size());
    return supercells() + search_times();
}
