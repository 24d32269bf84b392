// Incremental LDA at the size IncreaseTrain uses (298 PCA coefficients): the
// statistics of 215 earlier classes from a file plus 30 new classes, against
// batch training on all samples; and writing the statistics file.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "lda/IncreaseStatistics.h"
#include "lda/LDA.h"

namespace {

constexpr int kDim = 298;

struct Samples {
    std::vector<std::vector<double>> rows;
    std::vector<double*> table;
    std::vector<int> counts;
    Samples(int classes, int perClass, unsigned seed) : counts(classes, perClass)
    {
        std::mt19937 gen(seed);
        std::normal_distribution<double> g;
        for (int c = 0; c < classes; ++c) {
            std::vector<double> centre(kDim);
            for (double& x : centre)
                x = 3 * g(gen);
            for (int s = 0; s < perClass; ++s) {
                rows.push_back(centre);
                for (double& x : rows.back())
                    x += g(gen);
            }
        }
        for (auto& r : rows)
            table.push_back(r.data());
    }
};

const std::string& StoredFile()
{
    static const std::string path = [] {
        Samples stored(215, 3, 1);
        CIncreaseStatistics st;
        st.AddClasses(stored.table.data(), 215, stored.counts.data(), kDim);
        const std::string p = "/tmp/velmora_increase_bench.inc";
        st.Save(p.c_str());
        return p;
    }();
    return path;
}

void BM_IncreaseTrainLDA(benchmark::State& state)
{
    Samples fresh(30, 3, 2);
    const std::string& path = StoredFile();
    CLDA lda;
    for (auto _ : state)
        benchmark::DoNotOptimize(
            lda.IncreaseTrainLDA(fresh.table.data(), 30, fresh.counts.data(), kDim, path.c_str()));
}

void BM_TrainLDAOnAllSamples(benchmark::State& state)
{
    Samples all(245, 3, 3);
    CLDA lda;
    for (auto _ : state)
        benchmark::DoNotOptimize(lda.TrainLDA(all.table.data(), 245, all.counts.data(), kDim));
}

void BM_WriteStatistics(benchmark::State& state)
{
    Samples stored(215, 3, 1);
    for (auto _ : state) {
        CIncreaseStatistics st;
        st.AddClasses(stored.table.data(), 215, stored.counts.data(), kDim);
        benchmark::DoNotOptimize(st.Save("/tmp/velmora_increase_bench_w.inc"));
    }
    std::remove("/tmp/velmora_increase_bench_w.inc");
}

} // namespace

BENCHMARK(BM_IncreaseTrainLDA)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TrainLDAOnAllSamples)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteStatistics)->Unit(benchmark::kMillisecond);
