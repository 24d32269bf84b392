// Training stages on synthetic data of realistic size, and the eigen stage
// side by side with LAPACK's dsyevd on the same matrix.
//
// Data: N samples of D byte values in C classes; every class has its own
// centre on top of a few shared directions, plus noise, so the spectrum falls
// off as a face set's does. The progress lines of the solver go to /dev/null
// while timed.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <velmora/Velmora.h>

#include "common/ByteOrder.h"
#include "common/OrderedProduct.h"
#include "lda/LDA.h"
#include "pca/PCA.h"
#include "pca/SymEigen.h"

#ifdef VELMORA_HAVE_LAPACK
extern "C" void dsyevd_(const char* jobz, const char* uplo, const int* n, double* a,
                        const int* lda, double* w, double* work, const int* lwork, int* iwork,
                        const int* liwork, int* info);
#endif

namespace {

constexpr int kDim = 7840;
constexpr int kWidth = 112, kHeight = 70; // 7840 values per sample

class QuietStdout {
public:
    QuietStdout()
    {
        std::fflush(stdout);
        m_saved = dup(STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        close(null);
    }
    ~QuietStdout()
    {
        std::fflush(stdout);
        dup2(m_saved, STDOUT_FILENO);
        close(m_saved);
    }

private:
    int m_saved;
};

struct Data {
    int n, d, classes;
    std::vector<unsigned char> bytes; // n x d
    std::vector<int> counts;
};

Data MakeData(int n, int d, int classes, unsigned seed)
{
    std::mt19937 rng(seed);
    std::normal_distribution<double> normal;
    const int shared = 40;
    std::vector<double> basis(static_cast<size_t>(shared) * d);
    for (double& b : basis)
        b = normal(rng);
    Data data{n, d, classes, std::vector<unsigned char>(static_cast<size_t>(n) * d), {}};
    std::vector<double> centre(d), x(d);
    int row = 0;
    for (int c = 0; c < classes; ++c) {
        const int count = n / classes + (c < n % classes ? 1 : 0);
        data.counts.push_back(count);
        for (int k = 0; k < d; ++k)
            centre[k] = 128 + 12 * normal(rng);
        for (int s = 0; s < count; ++s, ++row) {
            std::fill(x.begin(), x.end(), 0.0);
            for (int b = 0; b < shared; ++b) {
                const double w = normal(rng) * 30.0 / (1 + b);
                for (int k = 0; k < d; ++k)
                    x[k] += w * basis[static_cast<size_t>(b) * d + k];
            }
            for (int k = 0; k < d; ++k) {
                const double v = centre[k] + x[k] + 8 * normal(rng);
                data.bytes[static_cast<size_t>(row) * d + k] =
                    static_cast<unsigned char>(std::clamp(v, 0.0, 255.0));
            }
        }
    }
    return data;
}

const Data& SharedData(int n)
{
    static std::vector<std::unique_ptr<Data>> cache;
    for (auto& d : cache)
        if (d->n == n)
            return *d;
    cache.push_back(std::make_unique<Data>(MakeData(n, kDim, n / 5, 42)));
    return *cache.back();
}

// Standardised rows of the data, as TrainPCA leaves them.
struct Standardised {
    std::vector<std::vector<double>> rows;
    std::vector<double*> ptrs;
};

const Standardised& SharedStandardised(int n)
{
    static std::vector<std::pair<int, std::unique_ptr<Standardised>>> cache;
    for (auto& c : cache)
        if (c.first == n)
            return *c.second;
    const Data& data = SharedData(n);
    auto s = std::make_unique<Standardised>();
    for (int r = 0; r < n; ++r) {
        s->rows.emplace_back(data.bytes.begin() + static_cast<size_t>(r) * kDim,
                             data.bytes.begin() + static_cast<size_t>(r + 1) * kDim);
        s->ptrs.push_back(s->rows.back().data());
    }
    CPCA pca;
    pca.SetTrainData(s->ptrs.data(), n, kDim);
    pca.CalcMeanStd();
    cache.emplace_back(n, std::move(s));
    return *cache.back().second;
}

// Gram matrix of the standardised rows.
const std::vector<double>& SharedGram(int n)
{
    static std::vector<std::pair<int, std::vector<double>>> cache;
    for (auto& c : cache)
        if (c.first == n)
            return c.second;
    const Standardised& s = SharedStandardised(n);
    std::vector<double> g(static_cast<size_t>(n) * n);
    OrderedProduct(MatrixView::Rows(s.ptrs.data()), MatrixView::Rows(s.ptrs.data(), true),
                   g.data(), n, n, n, kDim, true, TrainingThreads());
    for (int i = 1; i < n; ++i)
        for (int j = 0; j < i; ++j)
            g[static_cast<size_t>(i) * n + j] = g[static_cast<size_t>(j) * n + i];
    cache.emplace_back(n, std::move(g));
    return cache.back().second;
}

void OurEigen(std::vector<double>& a, int n, std::vector<double>& d)
{
    std::vector<double> w(n + 1);
    QuietStdout quiet;
    SymTridiagonalize(a.data(), n, d.data(), w.data());
    TridiagEigen(a.data(), n, d.data(), w.data() + 1, 1e-10);
}

void BM_GramMatrix(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    const Standardised& s = SharedStandardised(n);
    std::vector<double> g(static_cast<size_t>(n) * n);
    for (auto _ : state)
        OrderedProduct(MatrixView::Rows(s.ptrs.data()), MatrixView::Rows(s.ptrs.data(), true),
                       g.data(), n, n, n, kDim, true, TrainingThreads());
    state.counters["threads"] = TrainingThreads();
}

void BM_Tridiagonalize(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    const std::vector<double>& g = SharedGram(n);
    std::vector<double> a, d(n), w(n + 1);
    for (auto _ : state) {
        state.PauseTiming();
        a = g;
        state.ResumeTiming();
        QuietStdout quiet;
        SymTridiagonalize(a.data(), n, d.data(), w.data());
    }
}

void BM_QLIteration(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    std::vector<double> q = SharedGram(n), d0(n), w0(n + 1);
    {
        QuietStdout quiet;
        SymTridiagonalize(q.data(), n, d0.data(), w0.data());
    }
    std::vector<double> a, d, w;
    for (auto _ : state) {
        state.PauseTiming();
        a = q;
        d = d0;
        w = w0;
        state.ResumeTiming();
        QuietStdout quiet;
        TridiagEigen(a.data(), n, d.data(), w.data() + 1, 1e-10);
    }
}

void BM_EigenOurs(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    const std::vector<double>& g = SharedGram(n);
    std::vector<double> a, d(n);
    for (auto _ : state) {
        state.PauseTiming();
        a = g;
        state.ResumeTiming();
        OurEigen(a, n, d);
    }
}

#ifdef VELMORA_HAVE_LAPACK
bool LapackEigen(std::vector<double>& a, int n, std::vector<double>& w)
{
    int info = 0, lwork = -1, liwork = -1, iworkSize = 0;
    double workSize = 0;
    dsyevd_("V", "L", &n, a.data(), &n, w.data(), &workSize, &lwork, &iworkSize, &liwork, &info);
    lwork = static_cast<int>(workSize);
    liwork = iworkSize;
    std::vector<double> work(lwork);
    std::vector<int> iwork(liwork);
    dsyevd_("V", "L", &n, a.data(), &n, w.data(), work.data(), &lwork, iwork.data(), &liwork,
            &info);
    return info == 0;
}

void BM_EigenLapackDsyevd(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    const std::vector<double>& g = SharedGram(n);
    std::vector<double> a, w(n);
    for (auto _ : state) {
        state.PauseTiming();
        a = g;
        state.ResumeTiming();
        if (!LapackEigen(a, n, w))
            state.SkipWithError("dsyevd failed");
    }
    // Agreement with our solver on the same matrix: largest eigenvalue
    // difference relative to the largest eigenvalue.
    std::vector<double> ours = g, d(n);
    OurEigen(ours, n, d);
    std::sort(d.begin(), d.end());
    double scale = 0, diff = 0;
    for (int i = 0; i < n; ++i) {
        scale = std::max(scale, std::fabs(w[i]));
        diff = std::max(diff, std::fabs(w[i] - d[i]));
    }
    state.counters["max_rel_eigenvalue_diff"] = diff / scale;
}
#endif

void BM_BackMapping(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    const int m = std::min(n, 800);
    const Standardised& s = SharedStandardised(n);
    std::vector<double> chosen(static_cast<size_t>(m) * n);
    std::mt19937 rng(3);
    std::normal_distribution<double> normal;
    for (double& v : chosen)
        v = normal(rng);
    std::vector<std::vector<double>> out(m, std::vector<double>(kDim));
    std::vector<double*> outRows;
    for (auto& r : out)
        outRows.push_back(r.data());
    for (auto _ : state)
        OrderedProduct(MatrixView::Dense(chosen.data(), n), MatrixView::Rows(s.ptrs.data()),
                       outRows.data(), m, kDim, n, TrainingThreads());
}

void BM_LDATraining(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    const int classes = n / 5, d = 298;
    std::mt19937 rng(5);
    std::normal_distribution<double> normal;
    std::vector<std::vector<double>> rows(n, std::vector<double>(d));
    std::vector<double*> ptrs;
    std::vector<int> counts(classes, 5);
    for (int c = 0; c < classes; ++c) {
        std::vector<double> centre(d);
        for (double& v : centre)
            v = 3 * normal(rng);
        for (int s = 0; s < 5; ++s)
            for (int k = 0; k < d; ++k)
                rows[c * 5 + s][k] = centre[k] + normal(rng) * (1 + 0.01 * k);
    }
    for (auto& r : rows)
        ptrs.push_back(r.data());
    for (auto _ : state) {
        CLDA lda;
        if (!lda.TrainLDA(ptrs.data(), classes, counts.data(), d))
            state.SkipWithError("TrainLDA failed");
    }
}

void BM_TrainEndToEnd(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    const Data& data = SharedData(n);
    // Everything in the sample file; no new samples besides one extra class
    // (Train needs a non-null image array).
    const std::string path =
        (std::filesystem::temp_directory_path() / ("velmora_bench_samples_" + std::to_string(n)))
            .string();
    {
        std::vector<unsigned char> head(16);
        WriteInt32LE(head.data(), kWidth);
        WriteInt32LE(head.data() + 4, kHeight);
        WriteInt32LE(head.data() + 8, n - data.counts.back() - 1);
        WriteInt32LE(head.data() + 12, data.classes - 1);
        std::FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(head.data(), 1, 16, f);
        size_t row = 0;
        for (int c = 0; c + 1 < data.classes; ++c) {
            int count = data.counts[c];
            if (c == 0)
                --count; // its first sample goes in as the new class below
            unsigned char b[4];
            WriteInt32LE(b, count);
            std::fwrite(b, 1, 4, f);
            if (c == 0)
                ++row;
            std::fwrite(data.bytes.data() + row * kDim, 1, static_cast<size_t>(count) * kDim, f);
            row += count;
        }
        std::fclose(f);
    }
    // The last class of the data is passed in memory, together with sample 0.
    const int lastCount = data.counts.back();
    std::vector<std::vector<unsigned char>> fresh;
    for (int s = 0; s < lastCount; ++s)
        fresh.emplace_back(data.bytes.end() - static_cast<ptrdiff_t>(lastCount - s) * kDim,
                           data.bytes.end() - static_cast<ptrdiff_t>(lastCount - s - 1) * kDim);
    fresh.emplace_back(data.bytes.begin(), data.bytes.begin() + kDim);
    std::vector<unsigned char*> images;
    for (auto& f : fresh)
        images.push_back(f.data());
    int newCounts[2] = {lastCount, 1};
    CVelmora velmora;
    for (auto _ : state) {
        QuietStdout quiet;
        const enumTError r = velmora.Train(images.data(), kWidth, kHeight, 2, newCounts, path.c_str());
        if (r != T_OK) {
            state.SkipWithError(("Train returned " + std::to_string(r)).c_str());
            break;
        }
    }
    std::filesystem::remove(path);
}

} // namespace

BENCHMARK(BM_GramMatrix)->Arg(2000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Tridiagonalize)->Arg(1000)->Arg(2000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_QLIteration)->Arg(1000)->Arg(2000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EigenOurs)->Arg(1000)->Arg(2000)->Unit(benchmark::kMillisecond)->UseRealTime();
#ifdef VELMORA_HAVE_LAPACK
BENCHMARK(BM_EigenLapackDsyevd)->Arg(1000)->Arg(2000)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif
BENCHMARK(BM_BackMapping)->Arg(2000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LDATraining)->Arg(2000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TrainEndToEnd)->Arg(2000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
