// Gabor feature extraction of one 32 x 32 reduced face with the default bank of
// 40 kernels, and the kernel build that Initialize pays once.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "gabor/GaborBank.h"

namespace {

constexpr double kPi = 3.141592653;

std::vector<unsigned char> RandomFace()
{
    std::mt19937 rng(1);
    std::uniform_int_distribution<int> level(0, 255);
    std::vector<unsigned char> face(32 * 32);
    for (auto& p : face)
        p = static_cast<unsigned char>(level(rng));
    return face;
}

// Argument: number of orientations (5 scales each); 8 is the default bank.
void BM_GaborFeatures(benchmark::State& state)
{
    CGaborBank bank;
    bank.BuildKernels(5, static_cast<int>(state.range(0)), 2.0 * kPi, 2.0 * kPi, kPi, 1.41421);
    const auto face = RandomFace();
    std::vector<double> features(7840);
    for (auto _ : state) {
        bank.LoadFace(face.data());
        const int n = bank.ExtractFeatures();
        bank.CopyFeatures(features.data(), n);
        benchmark::DoNotOptimize(features.data());
    }
}

void BM_BuildKernels(benchmark::State& state)
{
    CGaborBank bank;
    for (auto _ : state)
        benchmark::DoNotOptimize(bank.BuildKernels(5, 8, 2.0 * kPi, 2.0 * kPi, kPi, 1.41421));
}

// The batch call over 32 faces; the time reported is per face.
void BM_GaborFeaturesBatch(benchmark::State& state)
{
    CGaborBank bank;
    bank.BuildKernels(5, 8, 2.0 * kPi, 2.0 * kPi, kPi, 1.41421);
    constexpr int kFaces = 32;
    const auto face = RandomFace();
    std::vector<const unsigned char*> faces(kFaces, face.data());
    std::vector<double> features(kFaces * 7840);
    std::vector<double*> rows(kFaces);
    for (int b = 0; b < kFaces; ++b)
        rows[b] = features.data() + b * 7840;
    for (auto _ : state) {
        bank.ExtractFeatures(faces.data(), kFaces, rows.data());
        benchmark::DoNotOptimize(features.data());
    }
    state.SetItemsProcessed(state.iterations() * kFaces);
    state.counters["us_per_face"] = benchmark::Counter(static_cast<double>(state.iterations()) * kFaces,
                                                       benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

} // namespace

BENCHMARK(BM_GaborFeaturesBatch)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GaborFeatures)->ArgName("orientations")->Arg(8)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BuildKernels)->Unit(benchmark::kMillisecond);

namespace {
void BM_LoadFace(benchmark::State& state)
{
    CGaborBank bank;
    bank.BuildKernels(5, 8, 2.0 * kPi, 2.0 * kPi, kPi, 1.41421);
    const auto face = RandomFace();
    for (auto _ : state) {
        bank.LoadFace(face.data());
        benchmark::ClobberMemory();
    }
}
} // namespace
BENCHMARK(BM_LoadFace)->Unit(benchmark::kMicrosecond);
