// Template creation costs with a full-size model (D = 7840, K = 300, S = 2,
// 205 LDA vectors of 298): the whole face overload of CreateTemplate, its
// subspace projection alone, and templates made in batches.
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
#include "recognizer/Engine.h"

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

// Initialize with a random full-size model; false (and the benchmark skipped) on failure.
bool InitializeRandomModel(CVelmora& velmora, benchmark::State& state)
{
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("velmora_bench_model_" + std::to_string(::getpid()) + ".bin"))
                                 .string();
    {
        CSubspaceModel model;
        FillModel(model, 1);
        if (!model.SaveModel(path, 0)) {
            state.SkipWithError("cannot write the model file");
            return false;
        }
    }
    const bool ready = velmora.Initialize(path.c_str(), nullptr);
    std::remove(path.c_str());
    if (!ready)
        state.SkipWithError("Initialize failed");
    return ready;
}

void BM_CreateTemplateFromFace(benchmark::State& state)
{
    CVelmora velmora;
    if (!InitializeRandomModel(velmora, state))
        return;
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

// Templates of state.range(0) normalised faces per call; ms_per_face is the figure
// to compare with CreateTemplate's time.
void BM_CreateTemplatesBatch(benchmark::State& state)
{
    CVelmora velmora;
    if (!InitializeRandomModel(velmora, state))
        return;
    const int count = static_cast<int>(state.range(0));
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> grey(0, 255);
    std::vector<std::vector<unsigned char>> faces(static_cast<size_t>(count), Face());
    std::vector<std::vector<unsigned char>> templates(static_cast<size_t>(count), std::vector<unsigned char>(1608));
    std::vector<unsigned char*> facePtrs, templPtrs;
    for (int i = 0; i < count; ++i) {
        for (unsigned char& p : faces[static_cast<size_t>(i)])
            p = static_cast<unsigned char>(grey(rng));
        facePtrs.push_back(faces[static_cast<size_t>(i)].data());
        templPtrs.push_back(templates[static_cast<size_t>(i)].data());
    }
    std::vector<int> lengths(static_cast<size_t>(count));
    std::vector<enumCTError> results(static_cast<size_t>(count));
    for (auto _ : state) {
        velmora::engine::CreateTemplates(velmora, facePtrs.data(), count, templPtrs.data(), lengths.data(),
                                         results.data());
        if (results.back() != CT_OK) {
            state.SkipWithError("CreateTemplates failed");
            break;
        }
        benchmark::DoNotOptimize(templPtrs.data());
    }
    state.SetItemsProcessed(state.iterations() * count);
    state.counters["ms_per_face"] = benchmark::Counter(
        static_cast<double>(count) / 1000.0, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

} // namespace

BENCHMARK(BM_CreateTemplateFromFace)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CreateTemplatesBatch)->Arg(1)->Arg(8)->Arg(32)->Arg(128)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProjectToLDA)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PcaRowByRow)->Unit(benchmark::kMicrosecond);

