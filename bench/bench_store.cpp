// Writing a scan's results: one million files in ten thousand folders, then listing them the way
// the results window and the CLI do.

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "base/Utf16.h"
#include "scan/ResultsStore.h"

namespace {

struct Names
{
    std::vector<std::u16string> sections, keys;
};

const Names& names()
{
    static const Names made = [] {
        Names n;
        for (int s = 0; s < 10'000; ++s)
            n.sections.push_back(orv::fromAscii("C:\\Users\\Bob\\Projects\\folder-" + std::to_string(s) + "\\"));
        for (int k = 0; k < 100; ++k)
            n.keys.push_back(orv::fromAscii("Document number " + std::to_string(k) + ".docx"));
        return n;
    }();
    return made;
}

void BM_WriteMillionEntries(benchmark::State& state)
{
    const Names& n = names();
    const std::u16string value = u"1048576#10.12.2026#05:00:44#18944";
    for (auto _ : state) {
        orv::ResultsStore store;
        for (const auto& section : n.sections)
            for (const auto& key : n.keys)
                store.write(section, key, value);
        benchmark::DoNotOptimize(store.entryCount());
    }
    state.SetItemsProcessed(state.iterations() * 1'000'000);
}
BENCHMARK(BM_WriteMillionEntries)->Unit(benchmark::kMillisecond);

void BM_ListAndReadMillionEntries(benchmark::State& state)
{
    const Names& n = names();
    orv::ResultsStore store;
    for (const auto& section : n.sections)
        for (const auto& key : n.keys)
            store.write(section, key, u"1048576#10.12.2026#05:00:44#18944");
    for (auto _ : state) {
        std::size_t bytes = 0;
        for (const auto& section : store.sections())
            for (const auto& key : store.keys(section))
                bytes += store.read(section, key).size();
        benchmark::DoNotOptimize(bytes);
    }
    state.SetItemsProcessed(state.iterations() * 1'000'000);
}
BENCHMARK(BM_ListAndReadMillionEntries)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
