// CompareTemplate per mode, for one-vector and ten-vector templates of 200 values.
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
    const int count = static_cast<int>(state.range(0));
    const int mode = static_cast<int>(state.range(1));
    const auto a = RandomTemplate(count, 200, 1);
    const auto b = RandomTemplate(count, 200, 2);
    CVelmora velmora;
    for (auto _ : state)
        benchmark::DoNotOptimize(velmora.CompareTemplate(a.data(), b.data(), mode));
}

} // namespace

BENCHMARK(BM_CompareTemplate)
    ->ArgNames({"vectors", "mode"})
    ->ArgsProduct({{1, 10}, {1, 2, 3}});
