// getef against the plain sweep (every state, every pass) on a large band structure:
// 2 spin channels, 20000 k-points, 400 bands at 300 K, energies from -10 to 15 eV.
// Both must give the same bits; the ratio of their times is the figure of merit.
#include "../tests/occsolve/plain_search.hpp"

#include <occsolve/ef.hpp>
#include <occsolve/occsolve.h>
#include <occsolve/variable.hpp>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <random>

namespace {

namespace v = occsolve::variable;

void fill_state() {
    if (v::bandenergy.allocated()) return;
    v::nspin = 2;
    v::nk = 20000;
    v::nband = 400;
    v::t = 300;
    v::bandenergy.allocate(v::nspin, v::nband, v::nk);
    v::kwpt.allocate(v::nk);
    std::mt19937_64 rng(42);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> e(static_cast<std::size_t>(v::nband));
    double weights = 0;
    for (int k = 1; k <= v::nk; ++k) {
        v::kwpt(k) = 1.0 / v::nk;
        weights += v::kwpt(k);
        for (int s = 1; s <= v::nspin; ++s) {
            for (auto& x : e) x = -10.0 + 25.0 * unit(rng);
            std::sort(e.begin(), e.end());  // bands ascend at each k-point
            for (int b = 1; b <= v::nband; ++b) v::bandenergy(s, b, k) = e[static_cast<std::size_t>(b - 1)];
        }
    }
    v::totale = weights * v::nband * 0.6 * 2;  // the level near 5 eV
}

void BM_getef(benchmark::State& state) {
    fill_state();
    for (auto _ : state) {
        occsolve::ef::getef();
        benchmark::DoNotOptimize(v::efermi);
    }
}

// The same search through the C interface that C and Fortran hosts use.
void BM_getef_c_interface(benchmark::State& state) {
    fill_state();
    for (auto _ : state) {
        int status = -1;
        occsolve_getef(nullptr, nullptr, &status);
        benchmark::DoNotOptimize(status);
    }
}

void BM_plain_sweep(benchmark::State& state) {
    fill_state();
    double level = 0;
    for (auto _ : state) {
        level = plain::search().efermi;
        benchmark::DoNotOptimize(level);
    }
    occsolve::ef::getef();
    const bool same = std::bit_cast<std::uint64_t>(level) == std::bit_cast<std::uint64_t>(v::efermi);
    state.counters["bit_identical"] = same ? 1 : 0;
    if (!same) state.SkipWithError("getef and the plain sweep differ");
}

BENCHMARK(BM_getef)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_getef_c_interface)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_plain_sweep)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
