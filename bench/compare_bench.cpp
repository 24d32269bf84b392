// CompareTemplate per mode on templates of 200 values: one vector against one,
// the tool's photo against photo (six views each), a photo against a person
// enrolled with five photos (30 vectors), and ten against ten.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include <velmora/Velmora.h>

#include "common/ByteOrder.h"

namespace {

std::vector<unsigned char> RandomTemplate(int count, int dim, unsigned seed)
{
    std::mt19937 rng(seed);
    std::normal_distribution<double> normal;
    std::vector<unsigned char> buf(8 + 8 * static_cast<size_t>(count) * dim);
    WriteInt32LE(buf.data(), count);
    WriteInt32LE(buf.data() + 4, dim);
    for (size_t i = 0; i < static_cast<size_t>(count) * dim; ++i)
        WriteDoubleLE(buf.data() + 8 + 8 * i, normal(rng));
    return buf;
}

void BM_CompareTemplate(benchmark::State& state)
{
    const int mode = static_cast<int>(state.range(2));
    const auto a = RandomTemplate(static_cast<int>(state.range(0)), 200, 1);
    const auto b = RandomTemplate(static_cast<int>(state.range(1)), 200, 2);
    CVelmora velmora;
    for (auto _ : state)
        benchmark::DoNotOptimize(velmora.CompareTemplate(a.data(), b.data(), mode));
}

} // namespace

BENCHMARK(BM_CompareTemplate)
    ->ArgNames({"a", "b", "mode"})
    ->ArgsProduct({{1}, {1}, {1, 2, 3}})
    ->ArgsProduct({{6}, {6, 30}, {1, 2, 3}})
    ->ArgsProduct({{10}, {10}, {1, 2, 3}});
