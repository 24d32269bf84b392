#include "support/Common.h"

#include <velmora/Velmora.h>

#include "common/ByteOrder.h"
#include "common/VectorOps.h"
#include "lda/IncreaseStatistics.h"
#include "pca/SubspaceModel.h"
#include "recognizer/ModuleState.h"
#include "support/HandModel.h"
#include "support/MessageCapture.h"
#include "support/ScratchDir.h"

using namespace velmora_test;
using Texts = std::vector<std::string>;

namespace {

constexpr int kWidth = 16, kHeight = 20, kLength = kWidth * kHeight;

// Samples of `classes` classes: a random centre per class plus noise.
struct SampleSet {
    std::vector<std::vector<unsigned char>> samples;
    std::vector<int> counts;

    std::vector<unsigned char*> Images() { return Pointers(samples); }
};

SampleSet MakeSamples(int classes, int perClass, unsigned seed, int extraInFirst = 0, int length = kLength)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> centre(40, 215);
    std::normal_distribution<double> noise(0.0, 12.0);
    SampleSet set;
    for (int c = 0; c < classes; ++c) {
        std::vector<int> mid(length);
        for (int& m : mid)
            m = centre(rng);
        const int n = perClass + (c == 0 ? extraInFirst : 0);
        for (int s = 0; s < n; ++s) {
            std::vector<unsigned char> x(length);
            for (int k = 0; k < length; ++k)
                x[k] = static_cast<unsigned char>(std::clamp(mid[k] + noise(rng), 0.0, 255.0));
            set.samples.push_back(x);
        }
        set.counts.push_back(n);
    }
    return set;
}

// A training sample file of the set.
std::vector<unsigned char> SampleFile(const SampleSet& set)
{
    std::vector<unsigned char> out(16);
    WriteInt32LE(out.data(), kWidth);
    WriteInt32LE(out.data() + 4, kHeight);
    WriteInt32LE(out.data() + 8, static_cast<int32_t>(set.samples.size()));
    WriteInt32LE(out.data() + 12, static_cast<int32_t>(set.counts.size()));
    size_t next = 0;
    for (int count : set.counts) {
        out.resize(out.size() + 4);
        WriteInt32LE(out.data() + out.size() - 4, count);
        for (int s = 0; s < count; ++s, ++next)
            out.insert(out.end(), set.samples[next].begin(), set.samples[next].end());
    }
    return out;
}

// Train with the new samples of `fresh`, its progress lines kept from the test log.
enumTError Train(CVelmora& v, SampleSet& fresh, const std::string& file, int width = kWidth, int height = kHeight,
                 std::string* progress = nullptr)
{
    auto images = fresh.Images();
    testing::internal::CaptureStdout();
    const enumTError r = v.Train(images.data(), width, height, static_cast<int>(fresh.counts.size()),
                                 fresh.counts.data(), file.c_str());
    const std::string out = testing::internal::GetCapturedStdout();
    if (progress)
        *progress = out;
    return r;
}

// IncreaseTrain on the set's 64 x 64 faces.
enumTError Increase(CVelmora& v, SampleSet& faces, int nLDA, const char* pca, const std::string& inc,
                    const std::string& out, bool preprocess = false)
{
    return v.IncreaseTrain(faces.Images().data(), static_cast<int>(faces.counts.size()), faces.counts.data(), 0,
                           preprocess, nLDA, 0, pca, inc.c_str(), out.c_str());
}

// A model whose PCA passes standardised features 0..k-1 through, made the module's.
void InitializeBasis(CVelmora& v, const ScratchDir& dir, int k)
{
    ASSERT_TRUE(v.Initialize(dir.Write("basis.model", BasisModel(7840, k, 0, 2).Bytes()).c_str(),
                             nullptr));
}

} // namespace

TEST(Train, ResultCodesOfBadArgumentsAndFiles)
{
    MessageCapture messages;
    ScratchDir dir;
    CVelmora v;
    SampleSet stored = MakeSamples(200, 1, 1);
    SampleSet fresh = MakeSamples(10, 1, 2);
    auto images = fresh.Images();
    const std::string good = dir.Write("good.bin", SampleFile(stored));
    g_recognizerReady = true;

    EXPECT_EQ(v.Train(nullptr, kWidth, kHeight, 10, fresh.counts.data(), good.c_str()), T_BAD_ARGUMENT);
    EXPECT_EQ(v.Train(images.data(), kWidth, kHeight, 10, nullptr, good.c_str()), T_BAD_ARGUMENT);
    EXPECT_EQ(v.Train(images.data(), kWidth, kHeight, 10, fresh.counts.data(), ""), T_FILE_ERROR);
    EXPECT_EQ(Train(v, fresh, (dir / "missing.bin")), T_FILE_ERROR);

    // Hostile sample files (cut, counts that disagree or overflow, sizes that
    // differ from the call) and empty new classes are refused as the
    // train_file fuzz harness predicts, in its replay with the suite.
    SampleSet empty; // no samples at all: 210 empty stored classes and Ns = 0
    empty.counts.assign(210, 0);
    EXPECT_EQ(v.Train(images.data(), kWidth, kHeight, 0, nullptr, dir.Write("empty", SampleFile(empty)).c_str()),
              T_NO_SAMPLES);

    // None of these touched the readiness flag or showed a message.
    EXPECT_TRUE(g_recognizerReady);
    EXPECT_TRUE(messages.texts().empty());
}

TEST(Train, TooFewSamplesForThePCAComponentsOrTheSavedDiscriminants)
{
    MessageCapture messages;
    ScratchDir dir;
    CVelmora v;
    SampleSet fresh = MakeSamples(10, 1, 5); // with 289 stored, 299 samples in all
    g_recognizerReady = true;
    EXPECT_EQ(Train(v, fresh, dir.Write("299.bin", SampleFile(MakeSamples(200, 1, 4, 89)))), T_LDA_FAILED);
    EXPECT_EQ(messages.texts(), Texts{"nPCAEigenUsed > m_nMaxValidEigenVecNum"});
    EXPECT_FALSE(g_recognizerReady);
    EXPECT_TRUE(g_subspaceModel.m_bPCAReady);
    EXPECT_EQ(g_subspaceModel.m_pPCA->m_nMaxValidEigenVecNum, 299);
    EXPECT_FALSE(g_subspaceModel.m_bLDAReady);

    // 205 classes in the file, class 0 holding 205 of its 409 samples: 414
    // with the new ones, too few for the 205 discriminant vectors a file keeps.
    SampleSet fresh414 = MakeSamples(5, 1, 10);
    ASSERT_EQ(Train(v, fresh414, dir.Write("414.bin", SampleFile(MakeSamples(205, 1, 8, 204)))), T_OK);
    EXPECT_EQ(g_subspaceModel.m_pLDA->m_nValidEigenNum, 204); // 414 - 210
    messages.clear();
    EXPECT_EQ(v.SaveMatrix((dir / "414.model").c_str()), T_FILE_ERROR);
    EXPECT_EQ(messages.texts(), Texts{"nNum > m_pLDA->m_nValidEigenNum"});
}

TEST(Train, TrainsSavesAndReloads)
{
    MessageCapture messages;
    ScratchDir dir;
    CVelmora v;
    SampleSet fresh = MakeSamples(5, 2, 7); // with the stored ones 210 classes, 420 samples
    std::string progress;
    ASSERT_EQ(Train(v, fresh, dir.Write("ok.bin", SampleFile(MakeSamples(205, 2, 6))), kWidth, kHeight, &progress),
              T_OK);
    EXPECT_TRUE(messages.texts().empty());
    EXPECT_TRUE(g_recognizerReady);
    // 420 samples of 320 values: one eigen-decomposition, of order 320 (its
    // progress lines number 3 x 320 - 1).
    EXPECT_EQ(std::count(progress.begin(), progress.end(), '\r'), 3 * kLength - 1);
    EXPECT_EQ(progress.find('\n'), std::string::npos);

    const CSubspaceModel& model = g_subspaceModel;
    EXPECT_EQ(model.m_nPCAEigenUsed, 300);
    EXPECT_EQ(model.m_nPCAEigenSkipped, 2);
    EXPECT_EQ(model.m_pLDA->m_nFeatureVecDim, 298);
    EXPECT_EQ(model.m_pLDA->m_nValidEigenNum, 209); // min(210 - 1, 298, 420 - 210)

    const std::string path = (dir / "ok.model");
    ASSERT_EQ(v.SaveMatrix(path.c_str()), T_OK);
    const int64_t D = kLength, K = 300, L = 205, E = 298;
    const int64_t P = 12 + 17 * D + 8 * K + 8 * K * D;
    EXPECT_EQ(static_cast<int64_t>(std::filesystem::file_size(path)), P + 12 + 8 * L + 8 * E + 8 * L * E);

    // The saved model projects exactly as the trained one, and samples of one
    // class (2 and 3) lie closer together than samples of different classes.
    CSubspaceModel loaded;
    ASSERT_TRUE(loaded.LoadModel(path, 0));
    const auto project = [&fresh](const CSubspaceModel& m, int sample) {
        std::vector<double> feature(fresh.samples[sample].begin(), fresh.samples[sample].end()), out(200);
        EXPECT_TRUE(m.ProjectToLDA(feature.data(), kLength, out.data(), 200));
        return out;
    };
    const auto b = project(loaded, 3), c = project(loaded, 2), other = project(loaded, 8);
    EXPECT_EQ(project(model, 3), b);
    EXPECT_GT(VectorCosine(b.data(), c.data(), 200), VectorCosine(b.data(), other.data(), 200));
}

TEST(IncreaseTrain, ResultCodesAndMessages)
{
    MessageCapture messages;
    ScratchDir dir;
    CVelmora v; // clears readiness
    SampleSet faces = MakeSamples(2, 3, 1, 0, 4096);
    const std::string out = (dir / "out.model");
    EXPECT_EQ(Increase(v, faces, 4, nullptr, "", out), T_BAD_ARGUMENT); // not initialised
    g_subspaceModel.m_nPCAEigenUsed = 0; // as before any model: the PCA loads, no components
    const std::string pca6 = dir.Write("pca6.model", BasisModel(7840, 6, 0, 2).Bytes());
    EXPECT_EQ(Increase(v, faces, 4, pca6.c_str(), "", out), T_NO_SAMPLES);
    EXPECT_EQ(Increase(v, faces, 4, (dir / "none").c_str(), "", out), T_BAD_ARGUMENT);
    EXPECT_FALSE(g_subspaceModel.m_bPCAReady);
    EXPECT_TRUE(messages.texts().empty());

    InitializeBasis(v, dir, 8);
    int empty[2] = {3, 0};
    EXPECT_EQ(v.IncreaseTrain(faces.Images().data(), 0, empty, 0, false, 4, 0, nullptr, "",
                              out.c_str()), T_NO_SAMPLES);
    EXPECT_EQ(v.IncreaseTrain(faces.Images().data(), 2, empty, 0, false, 4, 0, nullptr, "",
                              out.c_str()), T_BAD_ARGUMENT);
    EXPECT_TRUE(messages.texts().empty());
    EXPECT_EQ(Increase(v, faces, 9, nullptr, "", out), T_BAD_ARGUMENT); // K + 1
    EXPECT_EQ(messages.texts(), std::vector<std::string>{"nPCAEigenUsed > nLDATrainSampDim"});
    EXPECT_FALSE(g_subspaceModel.m_bLDAReady);
    messages.clear();
    EXPECT_EQ(Increase(v, faces, 5, pca6.c_str(), "", out), T_BAD_ARGUMENT); // 6 vectors, K = 8
    EXPECT_EQ(messages.texts(), std::vector<std::string>{"nOutDim > m_pPCA->m_nMaxValidEigenVecNum"});
    InitializeBasis(v, dir, 8);
    messages.clear();
    EXPECT_EQ(Increase(v, faces, 8, nullptr, dir.Write("bad.inc", "QuorvaneIncrease2.3"), out),
              T_BAD_ARGUMENT);
    EXPECT_EQ(messages.texts(), std::vector<std::string>{"TrainLDA error!"});
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_EQ(g_subspaceModel.m_nPCAEigenUsed, 8); // K and S change only on success
}

// That saved statistics plus new faces give the model of one training on all is
// checked at full size through the tool's stats and increase commands.
TEST(IncreaseTrain, SavedStatisticsAreExtendedAndFacesPreprocessedOnlyWhenAsked)
{
    MessageCapture messages;
    ScratchDir dir;
    CVelmora v;
    InitializeBasis(v, dir, 10);
    SampleSet earlier = MakeSamples(3, 4, 3, 1, 4096), fresh = MakeSamples(3, 4, 4, 1, 4096);
    const std::string inc = (dir / "earlier.inc");
    ASSERT_EQ(v.SaveIncreaseData(earlier.Images().data(), 3, earlier.counts.data(), false, 10,
                                 nullptr, inc.c_str()), T_OK);
    ASSERT_EQ(Increase(v, fresh, 10, nullptr, inc, (dir / "inc.model")), T_OK);
    EXPECT_EQ(g_subspaceModel.m_nPCAEigenSkipped, 0);
    CSubspaceModel a;
    ASSERT_TRUE(a.LoadModel((dir / "inc.model"), 0));
    EXPECT_EQ(a.m_pLDA->m_nValidEigenNum, 5); // every vector saved: min(6 - 1, 10, 26 - 6)
    // Extending the file with the new faces; a base of another dimension is refused.
    const std::string both = (dir / "both.inc");
    ASSERT_EQ(v.SaveIncreaseData(fresh.Images().data(), 3, fresh.counts.data(), false, 10,
                                 inc.c_str(), both.c_str()), T_OK);
    CIncreaseStatistics st;
    ASSERT_TRUE(st.Load(both.c_str()));
    EXPECT_EQ(st.GetTotalSampNum(), 26);
    EXPECT_EQ(v.SaveIncreaseData(fresh.Images().data(), 3, fresh.counts.data(), false, 9,
                                 inc.c_str(), both.c_str()), T_BAD_ARGUMENT);
    EXPECT_TRUE(messages.texts().empty());

    // Preprocessing changes the caller's faces only when asked.
    const auto before = fresh.samples;
    ASSERT_EQ(Increase(v, fresh, 6, nullptr, "", (dir / "p.model")), T_OK);
    EXPECT_EQ(fresh.samples, before);
    ASSERT_EQ(Increase(v, fresh, 6, nullptr, "", (dir / "p.model"), true), T_OK);
    EXPECT_NE(fresh.samples, before);
}

TEST(ModelIncrease, SkippedComponentsAndPCAReadiness)
{
    MessageCapture messages;
    CSubspaceModel model;
    double rows[6][4] = {{0, 1, 2, 3}, {1, 1, 2, 4}, {0, 2, 2, 3}, {5, 6, 1, 0}, {6, 6, 0, 1}, {5, 7, 1, 1}};
    double* table[6] = {rows[0], rows[1], rows[2], rows[3], rows[4], rows[5]};
    int counts[2] = {3, 3};
    EXPECT_FALSE(model.IncreaseTrainLDA(table, 2, counts, 4, 4, 1, ""));
    EXPECT_EQ(messages.texts(), std::vector<std::string>{"PCA is not ready!"});
    model.m_bPCAReady = true; // the LDA stage does not read the PCA itself
    ASSERT_TRUE(model.IncreaseTrainLDA(table, 2, counts, 4, 4, 1, ""));
    EXPECT_EQ(model.m_nPCAEigenUsed, 4);
    EXPECT_EQ(model.m_nPCAEigenSkipped, 1);
    EXPECT_EQ(model.m_pLDA->m_nFeatureVecDim, 3); // components 1..3
    EXPECT_EQ(model.m_pLDA->m_pplfMeanVecs[1][0], 19.0 / 3);
    EXPECT_FALSE(model.IncreaseTrainLDA(table, 2, counts, 4, 4, -1, "")); // skip outside the block
    EXPECT_FALSE(model.m_bLDAReady);
}
