#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <velmora/Velmora.h>

#include "common/ByteOrder.h"
#include "pca/SubspaceModel.h"
#include "recognizer/ModuleState.h"
#include "support/HandModel.h"
#include "support/MessageCapture.h"

using velmora_test::MessageCapture;
using velmora_test::ScratchDir;

namespace {

constexpr int kWidth = 16, kHeight = 20, kLength = kWidth * kHeight;

// Samples of `classes` classes: a random centre per class plus noise.
struct SampleSet {
    std::vector<std::vector<unsigned char>> samples;
    std::vector<int> counts;
};

SampleSet MakeSamples(int classes, int perClass, unsigned seed, int extraInFirst = 0,
                      int length = kLength)
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

void Put32(std::vector<unsigned char>& out, int32_t v)
{
    unsigned char b[4];
    WriteInt32LE(b, v);
    out.insert(out.end(), b, b + 4);
}

// A training sample file; header fields can be overridden to make it inconsistent.
constexpr int32_t kUnset = INT32_MIN;

std::vector<unsigned char> SampleFile(const SampleSet& set, int32_t a = kWidth,
                                      int32_t b = kHeight, int32_t ns = kUnset,
                                      int32_t nf = kUnset)
{
    std::vector<unsigned char> out;
    Put32(out, a);
    Put32(out, b);
    Put32(out, ns != kUnset ? ns : static_cast<int32_t>(set.samples.size()));
    Put32(out, nf != kUnset ? nf : static_cast<int32_t>(set.counts.size()));
    size_t next = 0;
    for (int count : set.counts) {
        Put32(out, count);
        for (int s = 0; s < count; ++s, ++next)
            out.insert(out.end(), set.samples[next].begin(), set.samples[next].end());
    }
    return out;
}

struct NewSamples {
    std::vector<unsigned char*> images;
    std::vector<int> counts;
    explicit NewSamples(SampleSet& set) : counts(set.counts)
    {
        for (auto& s : set.samples)
            images.push_back(s.data());
    }
};

enumTError Train(CVelmora& v, NewSamples& fresh, const std::string& file, int width = kWidth,
                 int height = kHeight)
{
    testing::internal::CaptureStdout();
    const enumTError r = v.Train(fresh.images.data(), width, height,
                                 static_cast<int>(fresh.counts.size()), fresh.counts.data(),
                                 file.c_str());
    testing::internal::GetCapturedStdout();
    return r;
}

} // namespace

// Runs first, while the module-wide model has never been trained.
TEST(Train, SaveMatrixBeforeAnyTraining)
{
    MessageCapture messages;
    ScratchDir dir;
    CVelmora v;
    EXPECT_EQ(v.SaveMatrix(dir.Path("never.model").c_str()), T_FILE_ERROR);
    EXPECT_EQ(messages.texts(), std::vector<std::string>{"LDA is not ready!"});
    EXPECT_FALSE(std::filesystem::exists(dir.Path("never.model")));
}

TEST(Train, ResultCodesOfBadArgumentsAndFiles)
{
    MessageCapture messages;
    ScratchDir dir;
    CVelmora v;
    SampleSet stored = MakeSamples(200, 1, 1);
    SampleSet newSet = MakeSamples(10, 1, 2);
    NewSamples fresh(newSet);
    const std::string good = dir.Write("good.bin", SampleFile(stored));
    g_recognizerReady = true;

    EXPECT_EQ(v.Train(nullptr, kWidth, kHeight, 10, fresh.counts.data(), good.c_str()),
              T_BAD_ARGUMENT);
    EXPECT_EQ(v.Train(fresh.images.data(), kWidth, kHeight, 10, fresh.counts.data(), ""),
              T_FILE_ERROR);
    EXPECT_EQ(Train(v, fresh, dir.Path("missing.bin")), T_FILE_ERROR);
    EXPECT_EQ(Train(v, fresh, dir.Write("short.bin", std::string("\1\0\0\0\2\0", 6))), T_SAMPLE_FILE_ERROR);
    EXPECT_EQ(Train(v, fresh, dir.Write("width.bin", SampleFile(stored, kWidth + 1))),
              T_BAD_ARGUMENT);
    EXPECT_EQ(Train(v, fresh, dir.Write("height.bin", SampleFile(stored, kWidth, 1))),
              T_BAD_ARGUMENT);
    // 199 + 10 classes are too few; 210 pass that check.
    SampleSet fewer = MakeSamples(199, 1, 3);
    EXPECT_EQ(Train(v, fresh, dir.Write("fewer.bin", SampleFile(fewer))), T_BAD_ARGUMENT);
    fresh.counts[4] = 0; // a new class without samples
    EXPECT_EQ(Train(v, fresh, good), T_BAD_ARGUMENT);
    fresh.counts[4] = 1;
    EXPECT_EQ(v.Train(fresh.images.data(), kWidth, kHeight, 10, nullptr, good.c_str()), T_BAD_ARGUMENT);

    // No samples at all: 210 empty stored classes and Ns = 0.
    SampleSet empty;
    empty.counts.assign(210, 0);
    EXPECT_EQ(v.Train(fresh.images.data(), kWidth, kHeight, 0, nullptr,
                      dir.Write("empty.bin", SampleFile(empty)).c_str()),
              T_NO_SAMPLES);

    // Inconsistent files: counts one short of Ns, a file ending inside a
    // sample, an Ns far beyond the file, negative counts.
    const auto bytes = SampleFile(stored);
    EXPECT_EQ(Train(v, fresh, dir.Write("ns.bin", SampleFile(stored, kWidth, kHeight, 201))),
              T_SAMPLE_FILE_ERROR);
    EXPECT_EQ(Train(v, fresh, dir.Write("cut.bin", std::vector<unsigned char>(bytes.begin(), bytes.end() - 7))),
              T_SAMPLE_FILE_ERROR);
    EXPECT_EQ(Train(v, fresh, dir.Write("huge.bin", SampleFile(stored, kWidth, kHeight, 2000000000))),
              T_SAMPLE_FILE_ERROR);
    EXPECT_EQ(Train(v, fresh, dir.Write("negns.bin", SampleFile(stored, kWidth, kHeight, -5))),
              T_SAMPLE_FILE_ERROR);
    EXPECT_EQ(Train(v, fresh, dir.Write("hugenf.bin", SampleFile(stored, kWidth, kHeight, 200, 900000000))),
              T_SAMPLE_FILE_ERROR);
    std::vector<int> manyNew(300, 1);
    std::vector<unsigned char*> manyImages(300, fresh.images[0]);
    EXPECT_EQ(v.Train(manyImages.data(), kWidth, kHeight, 300, manyNew.data(),
                      dir.Write("negnf.bin", SampleFile(stored, kWidth, kHeight, 200, -3)).c_str()),
              T_SAMPLE_FILE_ERROR);
    // A stored class record with count 0 adds no sample; here Ns then disagrees.
    SampleSet zero = stored;
    zero.counts[5] = 0;
    EXPECT_EQ(Train(v, fresh, dir.Write("zero.bin", SampleFile(zero, kWidth, kHeight, 200))),
              T_SAMPLE_FILE_ERROR);

    // None of these touched the readiness flag or showed a message.
    EXPECT_TRUE(g_recognizerReady);
    EXPECT_TRUE(messages.texts().empty());
}

TEST(Train, TooFewSamplesForThePCAComponents)
{
    MessageCapture messages;
    ScratchDir dir;
    CVelmora v;
    SampleSet stored = MakeSamples(200, 1, 4, 89); // 289 stored samples
    SampleSet newSet = MakeSamples(10, 1, 5);      // 299 in all
    NewSamples fresh(newSet);
    g_recognizerReady = true;
    EXPECT_EQ(Train(v, fresh, dir.Write("299.bin", SampleFile(stored))), T_LDA_FAILED);
    EXPECT_EQ(messages.texts(),
              std::vector<std::string>{"nPCAEigenUsed > m_nMaxValidEigenVecNum"});
    EXPECT_FALSE(g_recognizerReady);
    EXPECT_TRUE(g_subspaceModel.m_bPCAReady);
    EXPECT_EQ(g_subspaceModel.m_pPCA->m_nMaxValidEigenVecNum, 299);
    EXPECT_FALSE(g_subspaceModel.m_bLDAReady);
}

TEST(Train, TrainsSavesAndReloads)
{
    MessageCapture messages;
    ScratchDir dir;
    CVelmora v;
    SampleSet stored = MakeSamples(205, 2, 6);
    SampleSet newSet = MakeSamples(5, 2, 7); // 210 classes, 420 samples
    NewSamples fresh(newSet);
    const std::string file = dir.Write("ok.bin", SampleFile(stored));

    testing::internal::CaptureStdout();
    const enumTError result = v.Train(fresh.images.data(), kWidth, kHeight, 5,
                                      fresh.counts.data(), file.c_str());
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(result, T_OK);
    EXPECT_TRUE(messages.texts().empty());
    EXPECT_TRUE(g_recognizerReady);
    // 420 samples of 320 values: one eigen-decomposition, of order 320 (its
    // progress lines number 3 x 320 - 1).
    EXPECT_EQ(std::count(out.begin(), out.end(), '\r'), 3 * kLength - 1);
    EXPECT_EQ(out.find('\n'), std::string::npos);

    const CSubspaceModel& model = g_subspaceModel;
    EXPECT_EQ(model.m_nPCAEigenUsed, 300);
    EXPECT_EQ(model.m_nPCAEigenSkipped, 2);
    EXPECT_EQ(model.m_pLDA->m_nFeatureVecDim, 298);
    EXPECT_EQ(model.m_pLDA->m_nValidEigenNum, 209); // min(210 - 1, 298, 420 - 210)

    const std::string path = dir.Path("ok.model");
    ASSERT_EQ(v.SaveMatrix(path.c_str()), T_OK);
    const int64_t D = kLength, K = 300, L = 205, E = 298;
    const int64_t P = 12 + 17 * D + 8 * K + 8 * K * D;
    EXPECT_EQ(static_cast<int64_t>(std::filesystem::file_size(path)),
              P + 12 + 8 * L + 8 * E + 8 * L * E);

    // The saved model projects exactly as the trained one.
    CSubspaceModel loaded;
    ASSERT_TRUE(loaded.LoadModel(path, 0));
    std::vector<double> feature(kLength), a(200), b(200);
    for (int k = 0; k < kLength; ++k)
        feature[k] = newSet.samples[3][k];
    ASSERT_TRUE(model.ProjectToLDA(feature.data(), kLength, a.data(), 200));
    ASSERT_TRUE(loaded.ProjectToLDA(feature.data(), kLength, b.data(), 200));
    EXPECT_EQ(a, b);
    // Samples of one class lie closer together than samples of different classes.
    std::vector<double> c(200), other(200);
    for (int k = 0; k < kLength; ++k)
        feature[k] = newSet.samples[2][k]; // same class as sample 3
    ASSERT_TRUE(loaded.ProjectToLDA(feature.data(), kLength, c.data(), 200));
    for (int k = 0; k < kLength; ++k)
        feature[k] = newSet.samples[8][k];
    ASSERT_TRUE(loaded.ProjectToLDA(feature.data(), kLength, other.data(), 200));
    auto cosine = [](const std::vector<double>& x, const std::vector<double>& y) {
        double xy = 0, xx = 0, yy = 0;
        for (size_t i = 0; i < x.size(); ++i) {
            xy += x[i] * y[i];
            xx += x[i] * x[i];
            yy += y[i] * y[i];
        }
        return xy / std::sqrt(xx * yy);
    };
    EXPECT_GT(cosine(b, c), cosine(b, other));
}

TEST(Train, FewerThan205DiscriminantVectorsCannotBeSaved)
{
    MessageCapture messages;
    ScratchDir dir;
    CVelmora v;
    SampleSet stored = MakeSamples(205, 1, 8, 0);
    for (auto& s : MakeSamples(1, 204, 9).samples) // 414 samples in all
        stored.samples.push_back(s);
    // Regroup: class 0 gets the 204 extra samples right after its own one.
    SampleSet grouped;
    grouped.samples.push_back(stored.samples[0]);
    for (size_t i = 205; i < stored.samples.size(); ++i)
        grouped.samples.push_back(stored.samples[i]);
    for (size_t i = 1; i < 205; ++i)
        grouped.samples.push_back(stored.samples[i]);
    grouped.counts.assign(205, 1);
    grouped.counts[0] = 205;
    SampleSet newSet = MakeSamples(5, 1, 10);
    NewSamples fresh(newSet);
    ASSERT_EQ(Train(v, fresh, dir.Write("414.bin", SampleFile(grouped))), T_OK);
    EXPECT_EQ(g_subspaceModel.m_pLDA->m_nValidEigenNum, 204);
    messages.clear();
    EXPECT_EQ(v.SaveMatrix(dir.Path("414.model").c_str()), T_FILE_ERROR);
    EXPECT_EQ(messages.texts(), std::vector<std::string>{"nNum > m_pLDA->m_nValidEigenNum"});
}

TEST(Train, ModelFromGaborSizedSamplesServesInitializeAndCreateTemplate)
{
    // 210 classes of two samples of 7840 values: what a model for templates needs.
    constexpr int kW = 112, kH = 70;
    ScratchDir dir;
    CVelmora v;
    SampleSet stored = MakeSamples(205, 2, 21, 0, kW * kH);
    SampleSet newSet = MakeSamples(5, 2, 22, 0, kW * kH);
    NewSamples fresh(newSet);
    ASSERT_EQ(Train(v, fresh, dir.Write("gabor.bin", SampleFile(stored, kW, kH)), kW, kH), T_OK);
    const std::string path = dir.Path("gabor.model");
    ASSERT_EQ(v.SaveMatrix(path.c_str()), T_OK);
    EXPECT_EQ(std::filesystem::file_size(path), 19444448u); // D 7840, K 300, E 298, L 205

    CVelmora user;
    ASSERT_TRUE(user.Initialize(path.c_str(), nullptr));
    std::vector<unsigned char> face(64 * 64);
    for (size_t i = 0; i < face.size(); ++i)
        face[i] = static_cast<unsigned char>(60 + (i * 7 + i / 64 * 13) % 120);
    std::vector<unsigned char> a(1608), b(1608);
    int lengthA = 0, lengthB = 0;
    std::vector<unsigned char> faceCopy = face;
    ASSERT_EQ(user.CreateTemplate(face.data(), 64, 64, a.data(), lengthA), CT_OK);
    ASSERT_EQ(user.CreateTemplate(faceCopy.data(), 64, 64, b.data(), lengthB), CT_OK);
    EXPECT_EQ(lengthA, 1608);
    EXPECT_EQ(ReadInt32LE(a.data()), 1);
    EXPECT_EQ(ReadInt32LE(a.data() + 4), 200);
    EXPECT_NEAR(user.CompareTemplate(a.data(), b.data(), 1), 1.0, 1e-12);
}
