// Grading a deleted file counts its clusters that the volume bitmap marks in use.

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "results/Recoverability.h"

namespace {

// A 10 GiB file of 4 KiB clusters in one run, on a half-used volume bitmap.
void BM_GradeTenGiBFile(benchmark::State& state)
{
    constexpr std::int64_t kClusters = std::int64_t{10} << 18; // 10 GiB / 4 KiB
    std::vector<std::uint8_t> bitmap(kClusters / 8 + 4096);
    std::mt19937 random(1);
    for (auto& b : bitmap)
        b = static_cast<std::uint8_t>(random());
    for (auto _ : state)
        benchmark::DoNotOptimize(orv::countUsedClusters(bitmap, 12'345, kClusters));
    state.SetItemsProcessed(state.iterations() * kClusters);
}
BENCHMARK(BM_GradeTenGiBFile)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
