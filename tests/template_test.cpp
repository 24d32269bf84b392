#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <velmora/Velmora.h>

#include "common/ByteOrder.h"
#include "gabor/GaborBank.h"
#include "pca/SubspaceModel.h"
#include "preprocess/FacePreprocessor.h"
#include "recognizer/ModuleState.h"
#include "recognizer/PhotometricSteps.h"
#include "support/HandModel.h"
#include "support/MessageCapture.h"
#include "support/TestData.h"

using velmora_test::HandModel;
using velmora_test::MessageCapture;
using velmora_test::ScratchDir;

namespace {

constexpr int kFeatureDim = 7840;
constexpr int kTemplateBytes = 1608;

// Feature index picked by PCA component i.
int PickedFeature(int i)
{
    return (i * 797 + 13) % kFeatureDim;
}

// A model whose templates are raw feature values: K PCA rows that are unit
// vectors at PickedFeature(i), deviations 0 (no standardisation), no skipped
// components, and L LDA rows of dimension K with row i the unit vector i % K.
// Template value i is then feature PickedFeature(i % K), exactly.
HandModel PickingModel(int k, int l, int d = kFeatureDim)
{
    HandModel m;
    m.n = 500;
    m.d = d;
    m.k = k;
    m.meanBytes.assign(static_cast<size_t>(d), 7);
    m.mean.assign(static_cast<size_t>(d), 7.25);
    m.stdDev.assign(static_cast<size_t>(d), 0.0);
    for (int i = 0; i < k; ++i) {
        m.eigenVals.push_back(k - i);
        m.eigenVecs.push_back(velmora_test::UnitVector(d, PickedFeature(i) % d));
    }
    m.s = 0;
    m.l = l;
    m.e = k;
    for (int i = 0; i < l; ++i) {
        m.ldaEigenVals.push_back(l - i);
        m.ldaVecs.push_back(velmora_test::UnitVector(k, i % k));
    }
    m.ldaMean.assign(static_cast<size_t>(k), 0.0);
    return m;
}

// A synthetic grey face: bright oval, dark eyes, a mouth, some texture.
std::vector<unsigned char> SyntheticFace()
{
    std::vector<unsigned char> face(64 * 64);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            int v = 90 + ((x * 7 + y * 13) % 23) + (y < 40 ? x : 64 - x);
            if ((x - 17) * (x - 17) + (y - 13) * (y - 13) < 12 ||
                (x - 45) * (x - 45) + (y - 13) * (y - 13) < 12)
                v = 25;
            if (y >= 44 && y <= 47 && x > 22 && x < 42)
                v = 60;
            face[static_cast<size_t>(y * 64 + x)] = static_cast<unsigned char>(v);
        }
    return face;
}

// A larger image with the synthetic face placed so that its eyes sit at
// (70, 60) and (126, 60), twice the normalised eye distance.
std::vector<unsigned char> SyntheticImage(int& width, int& height)
{
    width = 200;
    height = 180;
    const std::vector<unsigned char> face = SyntheticFace();
    std::vector<unsigned char> image(static_cast<size_t>(width * height), 40);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int fx = (x - 36) / 2;
            const int fy = (y - 34) / 2;
            if (x >= 36 && y >= 34 && fx < 64 && fy < 64)
                image[static_cast<size_t>(y * width + x)] = face[static_cast<size_t>(fy * 64 + fx)];
        }
    return image;
}

// Features of a normalised face computed step by step on the module objects.
std::vector<double> FeaturesOf(const unsigned char* face)
{
    std::vector<double> values(face, face + 4096);
    g_facePreprocessor.CompactMasked(values.data());
    unsigned char odd[1024], even[1024];
    g_facePreprocessor.SplitRows(values.data(), odd, even);
    g_gaborBank.LoadFace(odd);
    const int n = g_gaborBank.ExtractFeatures();
    EXPECT_EQ(n, kFeatureDim);
    return std::vector<double>(g_gaborBank.Features(), g_gaborBank.Features() + kFeatureDim);
}

double TemplateValue(const std::vector<unsigned char>& templ, int i)
{
    return ReadDoubleLE(templ.data() + 8 + 8 * i);
}

class TemplateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_model = m_dir.Write("model.bin", PickingModel(10, 205).Bytes());
    }
    std::string Write(const std::string& name, const HandModel& model)
    {
        return m_dir.Write(name, model.Bytes());
    }

    ScratchDir m_dir;
    std::string m_model;
};

} // namespace

TEST_F(TemplateTest, NothingBeforeInitialize)
{
    CVelmora velmora; // clears readiness
    std::vector<unsigned char> face = SyntheticFace();
    std::vector<unsigned char> templ(kTemplateBytes, 0xAB);
    int length = -1;
    EXPECT_EQ(velmora.CreateTemplate(face.data(), 64, 64, templ.data(), length), CT_NOT_INITIALIZED);
    int w, h;
    std::vector<unsigned char> image = SyntheticImage(w, h);
    EXPECT_EQ(velmora.CreateTemplate(image.data(), w, h, CPoint(70, 60), CPoint(126, 60),
                                     templ.data(), &length),
              CT_NOT_INITIALIZED);
    EXPECT_EQ(length, -1);
    EXPECT_EQ(templ[0], 0xAB);
}

TEST_F(TemplateTest, TemplateHoldsTheFeaturesTheModelPicks)
{
    MessageCapture messages;
    CVelmora velmora;
    ASSERT_TRUE(velmora.Initialize(m_model.c_str(), nullptr));
    EXPECT_TRUE(g_recognizerReady);
    int size = 0;
    EXPECT_TRUE(velmora.GetMaxTemplateSize(size));
    EXPECT_EQ(size, kTemplateBytes);

    std::vector<unsigned char> face = SyntheticFace();
    const std::vector<unsigned char> original = face;
    const std::vector<double> features = FeaturesOf(face.data());
    std::vector<unsigned char> templ(kTemplateBytes);
    int length = 0;
    ASSERT_EQ(velmora.CreateTemplate(face.data(), 64, 64, templ.data(), length), CT_OK);
    EXPECT_EQ(length, kTemplateBytes);
    EXPECT_EQ(ReadInt32LE(templ.data()), 1);
    EXPECT_EQ(ReadInt32LE(templ.data() + 4), 200);
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(TemplateValue(templ, i), features[static_cast<size_t>(PickedFeature(i % 10))])
            << "value " << i;
    EXPECT_GT(TemplateValue(templ, 0), 0.0); // a real magnitude, not an empty buffer
    EXPECT_EQ(face, original); // preprocessed already and no weighting: read only

    // Width and height are not read.
    std::vector<unsigned char> again(kTemplateBytes);
    ASSERT_EQ(velmora.CreateTemplate(face.data(), 0, -5, again.data(), length), CT_OK);
    EXPECT_EQ(again, templ);
    EXPECT_TRUE(messages.texts().empty());
}

TEST_F(TemplateTest, InitializeSelectsMaskThreeAndBuildsTheBankFromSettings)
{
    g_facePreprocessor.SetMask(2);
    CVelmora velmora;
    EXPECT_FALSE(velmora.Initialize(m_dir.Path("missing.bin").c_str(), "anything"));
    EXPECT_FALSE(g_recognizerReady);
    std::vector<double> values(4096, 1.0);
    EXPECT_EQ(g_facePreprocessor.CompactMasked(values.data()), 2898); // mask 3 all the same

    velmora.m_nGaborScales = 4;
    ASSERT_TRUE(velmora.Initialize(m_model.c_str(), "ignored"));
    EXPECT_EQ(g_gaborBank.ScaleCount(), 4);
    EXPECT_EQ(g_gaborBank.OrientationCount(), 8);
    // 32 kernels give fewer features than the model expects; the rest stay zero.
    std::vector<unsigned char> face = SyntheticFace();
    std::vector<unsigned char> templ(kTemplateBytes);
    int length = 0;
    EXPECT_EQ(velmora.CreateTemplate(face.data(), 64, 64, templ.data(), length), CT_OK);

    velmora.m_nGaborScales = 5;
    ASSERT_TRUE(velmora.Initialize(m_model.c_str(), nullptr));
    EXPECT_EQ(g_gaborBank.ScaleCount(), 5);
}

TEST_F(TemplateTest, InitializeRejectsSettingsBeyondTheBank)
{
    CVelmora velmora;
    ASSERT_TRUE(velmora.Initialize(m_model.c_str(), nullptr));
    const std::string other = Write("other.bin", PickingModel(12, 200));
    for (auto [scales, orientations] : {std::pair{5, 9}, std::pair{6, 8}, std::pair{41, 1}}) {
        velmora.m_nGaborScales = scales;
        velmora.m_nGaborOrientations = orientations;
        EXPECT_FALSE(velmora.Initialize(other.c_str(), nullptr)) << scales << " x " << orientations;
        EXPECT_TRUE(g_recognizerReady); // left as it was
        EXPECT_EQ(g_subspaceModel.m_nPCAEigenUsed, 10); // the model was not replaced
        EXPECT_EQ(g_gaborBank.ScaleCount() * g_gaborBank.OrientationCount(), 40);
    }
    velmora.m_nGaborScales = 5;
    velmora.m_nGaborOrientations = 8;
    EXPECT_TRUE(velmora.Initialize(other.c_str(), nullptr));
    EXPECT_EQ(g_subspaceModel.m_nPCAEigenUsed, 12);
}

TEST_F(TemplateTest, FailedReloadKeepsReadinessButTemplatesFail)
{
    MessageCapture messages;
    CVelmora velmora;
    ASSERT_TRUE(velmora.Initialize(m_model.c_str(), nullptr));
    std::string cut = PickingModel(10, 205).Bytes();
    cut.resize(cut.size() - 1);
    EXPECT_FALSE(velmora.Initialize(m_dir.Write("cut.bin", cut).c_str(), nullptr));
    EXPECT_TRUE(g_recognizerReady);
    std::vector<unsigned char> face = SyntheticFace();
    std::vector<unsigned char> templ(kTemplateBytes);
    int length = 0;
    EXPECT_EQ(velmora.CreateTemplate(face.data(), 64, 64, templ.data(), length), CT_FAILED);
    EXPECT_EQ(length, kTemplateBytes); // written before the projection, whatever its outcome
    EXPECT_EQ(ReadInt32LE(templ.data() + 4), 200);
    EXPECT_EQ(messages.texts(), std::vector<std::string>{"LDA Read Eigen error"});
}

TEST_F(TemplateTest, ModelsThatCannotGiveATemplate)
{
    MessageCapture messages;
    CVelmora velmora;
    std::vector<unsigned char> face = SyntheticFace();
    std::vector<unsigned char> templ(kTemplateBytes);
    int length = 0;

    ASSERT_TRUE(velmora.Initialize(Write("few.bin", PickingModel(10, 199)).c_str(), nullptr));
    EXPECT_EQ(velmora.CreateTemplate(face.data(), 64, 64, templ.data(), length), CT_FAILED);
    ASSERT_TRUE(velmora.Initialize(Write("dim.bin", PickingModel(10, 200, 4096)).c_str(), nullptr));
    EXPECT_EQ(velmora.CreateTemplate(face.data(), 64, 64, templ.data(), length), CT_FAILED);
    const std::vector<std::string> expected = {"nOutDim > m_pLDA->m_nValidEigenNum",
                                               "nInDim != m_pPCA->m_nFeatureVecDim"};
    EXPECT_EQ(messages.texts(), expected);
}

TEST_F(TemplateTest, BadArgumentsGive100)
{
    CVelmora velmora;
    ASSERT_TRUE(velmora.Initialize(m_model.c_str(), nullptr));
    std::vector<unsigned char> face = SyntheticFace();
    std::vector<unsigned char> templ(kTemplateBytes, 0xCD);
    int length = -1;
    EXPECT_EQ(velmora.CreateTemplate(nullptr, 64, 64, templ.data(), length), CT_FAILED);
    EXPECT_EQ(velmora.CreateTemplate(face.data(), 64, 64, nullptr, length), CT_FAILED);

    int w, h;
    std::vector<unsigned char> image = SyntheticImage(w, h);
    const CPoint left(70, 60);
    EXPECT_EQ(velmora.CreateTemplate(image.data(), w, h, left, CPoint(126, 60), templ.data(), nullptr),
              CT_FAILED);
    EXPECT_EQ(velmora.CreateTemplate(image.data(), w, h, left, CPoint(126, 60), nullptr, &length),
              CT_FAILED);
    EXPECT_EQ(velmora.CreateTemplate(image.data(), w, h, left, CPoint(72, 60), templ.data(), &length),
              CT_FAILED); // 2 pixels apart
    EXPECT_EQ(velmora.CreateTemplate(image.data(), w, h, left, CPoint(60, 60), templ.data(), &length),
              CT_FAILED); // wrong order
    EXPECT_EQ(velmora.CreateTemplate(nullptr, w, h, left, CPoint(126, 60), templ.data(), &length),
              CT_FAILED);
    EXPECT_EQ(velmora.CreateTemplate(image.data(), -1, h, left, CPoint(126, 60), templ.data(), &length),
              CT_FAILED);
    EXPECT_EQ(length, -1);
    EXPECT_EQ(templ[0], 0xCD);
    EXPECT_EQ(velmora.CreateTemplate(image.data(), w, h, left, CPoint(73, 60), templ.data(), &length),
              CT_OK); // 3 pixels apart pass
}

TEST_F(TemplateTest, RawFaceIsNormalisedInPlaceAndWeightingApplies)
{
    CVelmora velmora;
    ASSERT_TRUE(velmora.Initialize(m_model.c_str(), nullptr));
    const std::vector<unsigned char> raw = SyntheticFace();

    std::vector<unsigned char> prepared = raw;
    ApplyPhotometricSteps(prepared.data());
    ASSERT_NE(prepared, raw);
    std::vector<unsigned char> expected(kTemplateBytes);
    int length = 0;
    ASSERT_EQ(velmora.CreateTemplate(prepared.data(), 64, 64, expected.data(), length), CT_OK);

    velmora.m_bPreprocessNormFace = 0;
    std::vector<unsigned char> face = raw;
    std::vector<unsigned char> templ(kTemplateBytes);
    ASSERT_EQ(velmora.CreateTemplate(face.data(), 64, 64, templ.data(), length), CT_OK);
    EXPECT_EQ(face, prepared); // normalised in place
    EXPECT_EQ(templ, expected);

    velmora.m_bPreprocessNormFace = 1;
    velmora.m_bApplyFaceWeight = 1;
    face = prepared;
    ASSERT_EQ(velmora.CreateTemplate(face.data(), 64, 64, templ.data(), length), CT_OK);
    EXPECT_NE(face, prepared); // weighted in place
    EXPECT_NE(templ, expected);
    std::vector<unsigned char> weighted(kTemplateBytes);
    velmora.m_bApplyFaceWeight = 0;
    ASSERT_EQ(velmora.CreateTemplate(face.data(), 64, 64, weighted.data(), length), CT_OK);
    EXPECT_EQ(weighted, templ); // the weighted face, taken as it is, gives the same template
}

TEST_F(TemplateTest, ImageOverloadEqualsGetNormFaceThenFaceOverload)
{
    CVelmora velmora;
    ASSERT_TRUE(velmora.Initialize(m_model.c_str(), nullptr));
    int w, h;
    std::vector<unsigned char> image = SyntheticImage(w, h);
    const std::vector<unsigned char> imageCopy = image;
    for (int preprocess : {1, 0}) {
        for (int weight : {0, 1}) {
            velmora.m_bPreprocessNormFace = preprocess;
            velmora.m_bApplyFaceWeight = weight;
            std::vector<unsigned char> face(4096);
            ASSERT_EQ(velmora.GetNormFace(image.data(), w, h, CPoint(71, 61), CPoint(125, 58),
                                          face.data()),
                      GF_OK);
            std::vector<unsigned char> viaFace(kTemplateBytes), viaImage(kTemplateBytes);
            int lengthA = 0, lengthB = 0;
            ASSERT_EQ(velmora.CreateTemplate(face.data(), 64, 64, viaFace.data(), lengthA), CT_OK);
            ASSERT_EQ(velmora.CreateTemplate(image.data(), w, h, CPoint(71, 61), CPoint(125, 58),
                                             viaImage.data(), &lengthB),
                      CT_OK);
            EXPECT_EQ(lengthB, kTemplateBytes);
            EXPECT_EQ(viaImage, viaFace) << preprocess << weight;
            EXPECT_NEAR(velmora.CompareTemplate(viaImage.data(), viaFace.data(), 1), 1.0, 1e-12);
        }
    }
    EXPECT_EQ(image, imageCopy); // the image is only read
}

TEST_F(TemplateTest, RealFacesFromAnnotatedEyes)
{
    VELMORA_REQUIRE_DATA("bioid");
    CVelmora velmora;
    ASSERT_TRUE(velmora.Initialize(m_model.c_str(), nullptr));
    const auto dir = velmora_test::DataDir() / "bioid";
    std::vector<std::vector<unsigned char>> templates;
    for (const char* name : {"BioID_0000", "BioID_0006"}) {
        std::ifstream pgm(dir / (std::string(name) + ".pgm"), std::ios::binary);
        std::string magic;
        int w = 0, h = 0, maxval = 0;
        pgm >> magic >> w >> h >> maxval;
        pgm.get();
        ASSERT_EQ(magic, "P5");
        std::vector<unsigned char> image(static_cast<size_t>(w * h));
        pgm.read(reinterpret_cast<char*>(image.data()), static_cast<std::streamsize>(image.size()));
        ASSERT_TRUE(pgm.good());
        std::ifstream eye(dir / (std::string(name) + ".eye"));
        std::string header;
        std::getline(eye, header);
        int lx, ly, rx, ry;
        eye >> lx >> ly >> rx >> ry;
        // The person's left eye is on the image's right.
        std::vector<unsigned char> templ(kTemplateBytes), face(4096), viaFace(kTemplateBytes);
        int length = 0;
        ASSERT_EQ(velmora.CreateTemplate(image.data(), w, h, CPoint(rx, ry), CPoint(lx, ly),
                                         templ.data(), &length),
                  CT_OK);
        ASSERT_EQ(velmora.GetNormFace(image.data(), w, h, CPoint(rx, ry), CPoint(lx, ly), face.data()),
                  GF_OK);
        ASSERT_EQ(velmora.CreateTemplate(face.data(), 64, 64, viaFace.data(), length), CT_OK);
        EXPECT_EQ(templ, viaFace);
        templates.push_back(templ);
    }
    const double score = velmora.CompareTemplate(templates[0].data(), templates[1].data(), 1);
    EXPECT_GT(score, 0.0);
    EXPECT_LT(score, 1.0);
}
