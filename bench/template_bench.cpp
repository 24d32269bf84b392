// Template creation costs with a full-size model (D = 7840, K = 300, S = 2,
// 205 LDA vectors of 298): the whole face overload of CreateTemplate, and its
// subspace projection alone.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include <velmora/Velmora.h>

#include "common/VectorOps.h"
#include "pca/SubspaceModel.h"

namespace {

constexpr int kFeatureDim = 7840;
constexpr int kPcaUsed = 300;
constexpr int kPcaSkipped = 2;
constexpr int kLdaVecs = 205;
constexpr int kTemplateDim = 200;

// A model of the size Train produces, with random contents.
void FillModel(CSubspaceModel& model, unsigned seed)
{
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> normal;
    model.m_pPCA = std::make_unique<CPCA>();
    CPCA& pca = *model.m_pPCA;
    pca.m_nTrainSampNum = 415;
    pca.m_nFeatureVecDim = kFeatureDim;
    pca.m_nMaxValidEigenVecNum = kPcaUsed;
    pca.AllocLoadMemory();
    for (int k = 0; k < kFeatureDim; ++k) {
        pca.m_pbyMeanVec[k] = 0;
        pca.m_plfMeanVec[k] = normal(rng);
        pca.m_plfStdDevVec[k] = 1.0 + std::abs(normal(rng));
    }
    for (int i = 0; i < kPcaUsed; ++i) {
        pca.m_plfEigenVals[i] = kPcaUsed - i;
        for (int k = 0; k < kFeatureDim; ++k)
            pca.m_pplfEigenVecs[i][k] = normal(rng) / 88.0;
    }
    model.m_pLDA = std::make_unique<CLDA>();
    CLDA& lda = *model.m_pLDA;
    lda.m_nFeatureVecDim = kPcaUsed - kPcaSkipped;
    lda.m_nValidEigenNum = kLdaVecs;
    lda.m_nClassNum = 1;
    lda.AllocMemory();
    for (int i = 0; i < kLdaVecs; ++i) {
        lda.m_plfEigenVals[i] = kLdaVecs - i;
        for (int k = 0; k < lda.m_nFeatureVecDim; ++k)
            lda.m_pplfEigenVecs[i][k] = normal(rng) / 17.0;
    }
    for (int k = 0; k < lda.m_nFeatureVecDim; ++k)
        lda.m_plfMeanVec[k] = 0.0;
    lda.m_bLDAReady = 1;
    model.m_nPCAEigenUsed = kPcaUsed;
    model.m_nPCAEigenSkipped = kPcaSkipped;
    model.m_bPCAReady = true;
    model.m_bLDAReady = true;
}

std::vector<double> RandomFeatures(unsigned seed)
{
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 2000.0);
    std::vector<double> f(kFeatureDim);
    for (double& v : f)
        v = u(rng);
    return f;
}

void BM_ProjectToLDA(benchmark::State& state)
{
    CSubspaceModel model;
    FillModel(model, 1);
    const std::vector<double> feature = RandomFeatures(2);
    std::vector<double> out(kTemplateDim);
    for (auto _ : state) {
        model.ProjectToLDA(feature.data(), kFeatureDim, out.data(), kTemplateDim);
        benchmark::DoNotOptimize(out.data());
    }
}

// The same PCA stage one VectorDot at a time, for comparison with the blocked rows.
void BM_PcaRowByRow(benchmark::State& state)
{
    CSubspaceModel model;
    FillModel(model, 1);
    const std::vector<double> feature = RandomFeatures(2);
    std::vector<double> out(kPcaUsed);
    const CPCA& pca = *model.m_pPCA;
    for (auto _ : state) {
        for (int i = 0; i < kPcaUsed; ++i)
            out[i] = VectorDot(feature.data(), pca.m_pplfEigenVecs[i], kFeatureDim);
        benchmark::DoNotOptimize(out.data());
    }
}

// A normalised face with some structure (the content does not change the cost).
std::vector<unsigned char> Face()
{
    std::vector<unsigned char> face(64 * 64);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            face[static_cast<size_t>(y * 64 + x)] =
                static_cast<unsigned char>(60 + (x * 7 + y * 13) % 97 + (y < 32 ? x : 0));
    return face;
}

void BM_CreateTemplateFromFace(benchmark::State& state)
{
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("velmora_bench_model_" + std::to_string(::getpid()) + ".bin"))
                                 .string();
    {
        CSubspaceModel model;
        FillModel(model, 1);
        if (!model.SaveModel(path, 0)) {
            state.SkipWithError("cannot write the model file");
            return;
        }
    }
    CVelmora velmora;
    const bool ready = velmora.Initialize(path.c_str(), nullptr);
    std::remove(path.c_str());
    if (!ready) {
        state.SkipWithError("Initialize failed");
        return;
    }
    std::vector<unsigned char> face = Face();
    std::vector<unsigned char> templ(1608);
    int length = 0;
    for (auto _ : state) {
        if (velmora.CreateTemplate(face.data(), 64, 64, templ.data(), length) != CT_OK) {
            state.SkipWithError("CreateTemplate failed");
            break;
        }
        benchmark::DoNotOptimize(templ.data());
    }
}

} // namespace

BENCHMARK(BM_CreateTemplateFromFace)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ProjectToLDA)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PcaRowByRow)->Unit(benchmark::kMicrosecond);
