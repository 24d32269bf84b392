#include "support/Common.h"

#include <velmora/Velmora.h>

#include "common/ByteOrder.h"
#include "gabor/GaborBank.h"
#include "pca/SubspaceModel.h"
#include "preprocess/FacePreprocessor.h"
#include "recognizer/Engine.h"
#include "recognizer/ModuleState.h"
#include "recognizer/PhotometricSteps.h"
#include "support/HandModel.h"
#include "support/MessageCapture.h"
#include "support/NaiveVsFast.h"

using namespace velmora_test;
using Bytes = std::vector<unsigned char>;

namespace {

constexpr int kFeatureDim = 7840;

int PickedFeature(int i)
{
    return (i * 797 + 13) % kFeatureDim;
}

// PCA rows are unit vectors at PickedFeature(i) with deviations 0 (raw values),
// nothing skipped, LDA row i the unit vector i % K: template value i is then
// exactly feature PickedFeature(i % K).
HandModel PickingModel(int k, int l, int d = kFeatureDim)
{
    HandModel m = BasisModel(d, k, 0, l, [d](int i) { return PickedFeature(i) % d; });
    m.stdDev.assign(static_cast<size_t>(d), 0.0);
    return m;
}

// A random 200 x 180 image and, when asked, a random 64 x 64 face.
Bytes RandomImage(Bytes* face64 = nullptr)
{
    std::mt19937 rng(3);
    if (face64 != nullptr)
        *face64 = RandomBytes(4096, rng);
    return RandomBytes(200 * 180, rng);
}

class TemplateTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_velmora.Initialize(Model("m.bin", 10, 205).c_str(), nullptr)); }
    std::string Model(const std::string& name, int k, int l, int d = kFeatureDim)
    {
        return m_dir.Write(name, PickingModel(k, l, d).Bytes());
    }
    int Make(unsigned char* face, Bytes& templ)
    {
        templ.assign(1608, 0);
        int length = 0;
        return m_velmora.CreateTemplate(face, 64, 64, templ.data(), length) == CT_OK ? length : -1;
    }

    ScratchDir m_dir;
    MessageCapture m_messages;
    CVelmora m_velmora;
};

constexpr int kTemplateBytes = 1608;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// D = 7840 features, K = 10 unit PCA rows, deviations 1, S = 0, and 200 LDA rows
// that repeat the 10 unit vectors.
constexpr int kK = 10;
constexpr int kL = 200;

std::string SmallModel()
{
    HandModel m = BasisModel(kFeatureDim, kK, 0, kL, [](int i) { return 100 + 700 * i; });
    m.mean.assign(kFeatureDim, 3.5);
    m.stdDev.assign(kFeatureDim, 1.0);
    return m.Bytes();
}

// File offsets of the doubles of SmallModel (the values are patched into the
// bytes, so the mean bytes keep what the clean mean gives).
constexpr size_t kD = kFeatureDim;
constexpr size_t kPcaEnd = 12 + 17 * kD + 8 * kK + 8 * kK * kD;
constexpr size_t MeanAt(size_t j) { return 12 + kD + 8 * j; }
constexpr size_t DeviationAt(size_t j) { return 12 + 9 * kD + 8 * j; }
constexpr size_t EigenValueAt(size_t i) { return 12 + 17 * kD + 8 * i; }
constexpr size_t EigenVectorAt(size_t i, size_t j) { return 12 + 17 * kD + 8 * kK + 8 * (i * kD + j); }
constexpr size_t LdaEigenValueAt(size_t i) { return kPcaEnd + 12 + 8 * i; }
constexpr size_t LdaMeanAt(size_t j) { return kPcaEnd + 12 + 8 * kL + 8 * j; }
constexpr size_t LdaVectorAt(size_t i, size_t j) { return kPcaEnd + 12 + 8 * kL + 8 * kK + 8 * (i * kK + j); }

std::string Patched(std::string bytes, size_t offset, double value)
{
    WriteDoubleLE(reinterpret_cast<unsigned char*>(&bytes[offset]), value);
    return bytes;
}

enum class Effect {
    kRefused,   // CT_FAILED for every poison value
    kUnread,    // the template is the clean one, bit for bit
    kDeviation, // the component of feature 100 is left as it is (not a number,
                // minus infinity) or divided down to 0 (infinity)
};

struct Poison {
    const char* where;
    size_t offset;
    Effect effect;
};

const Poison kPoisons[] = {
    {"PCA mean", MeanAt(100), Effect::kRefused},
    {"PCA deviation", DeviationAt(100), Effect::kDeviation},
    {"PCA eigenvalue", EigenValueAt(0), Effect::kUnread},
    {"PCA eigenvector", EigenVectorAt(3, 5000), Effect::kRefused},
    {"LDA eigenvalue", LdaEigenValueAt(7), Effect::kUnread},
    {"LDA mean", LdaMeanAt(2), Effect::kUnread},
    {"LDA eigenvector", LdaVectorAt(150, 4), Effect::kRefused},
};

} // namespace

TEST_F(TemplateTest, TemplateHoldsTheFeaturesTheModelPicks)
{
    Bytes face, templ;
    RandomImage(&face);
    const Bytes original = face;
    // The features, step by step on the module objects, for comparison.
    std::vector<double> values(face.begin(), face.end());
    g_facePreprocessor.CompactMasked(values.data());
    unsigned char odd[1024], even[1024];
    g_facePreprocessor.SplitRows(values.data(), odd, even);
    g_gaborBank.LoadFace(odd);
    ASSERT_EQ(g_gaborBank.ExtractFeatures(), kFeatureDim);
    const std::vector<double> features(g_gaborBank.Features(), g_gaborBank.Features() + kFeatureDim);

    ASSERT_EQ(Make(face.data(), templ), 1608);
    EXPECT_EQ(ReadInt32LE(templ.data()), 1);
    EXPECT_EQ(ReadInt32LE(templ.data() + 4), 200);
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(ReadDoubleLE(&templ[8 + 8 * i]), features[PickedFeature(i % 10)]) << i;
    EXPECT_GT(ReadDoubleLE(&templ[8]), 0.0);
    EXPECT_EQ(face, original); // preprocessed already, no weighting: only read
    Bytes again(1608);
    int length = 0;
    ASSERT_EQ(m_velmora.CreateTemplate(face.data(), 0, -5, again.data(), length), CT_OK);
    EXPECT_EQ(again, templ); // width and height are not read
    EXPECT_TRUE(m_messages.texts().empty());
}

TEST_F(TemplateTest, ImageOverloadEqualsGetNormFaceThenFaceOverload)
{
    Bytes image = RandomImage();
    const Bytes imageCopy = image;
    for (int setting = 0; setting < 4; ++setting) {
        m_velmora.m_bPreprocessNormFace = setting & 1;
        m_velmora.m_bApplyFaceWeight = setting >> 1;
        Bytes face(4096), viaFace, viaImage(1608);
        ASSERT_EQ(m_velmora.GetNormFace(image.data(), 200, 180, CPoint(71, 61), CPoint(125, 58), face.data()), GF_OK);
        ASSERT_EQ(Make(face.data(), viaFace), 1608);
        int length = 0;
        ASSERT_EQ(m_velmora.CreateTemplate(image.data(), 200, 180, CPoint(71, 61), CPoint(125, 58), viaImage.data(),
                                           &length),
                  CT_OK);
        EXPECT_EQ(length, 1608);
        EXPECT_EQ(viaImage, viaFace) << "setting " << setting;
    }
    EXPECT_EQ(image, imageCopy);
}

TEST_F(TemplateTest, RawFaceIsNormalisedInPlace)
{
    Bytes raw, prepared, expected, templ;
    RandomImage(&raw);
    prepared = raw;
    ApplyPhotometricSteps(prepared.data());
    ASSERT_EQ(Make(prepared.data(), expected), 1608);
    m_velmora.m_bPreprocessNormFace = 0;
    ASSERT_EQ(Make(raw.data(), templ), 1608);
    EXPECT_EQ(raw, prepared);
    EXPECT_EQ(templ, expected);
}

TEST_F(TemplateTest, ResultCodes)
{
    Bytes face, templ(1608, 0xCD);
    Bytes image = RandomImage(&face);
    int length = -1;
    auto fromImage = [&](unsigned char* img, int width, CPoint right, unsigned char* t, int* len) {
        return m_velmora.CreateTemplate(img, width, 180, CPoint(70, 60), right, t, len);
    };
    EXPECT_EQ(m_velmora.CreateTemplate(nullptr, 64, 64, templ.data(), length), CT_FAILED);
    EXPECT_EQ(m_velmora.CreateTemplate(face.data(), 64, 64, nullptr, length), CT_FAILED);
    EXPECT_EQ(fromImage(image.data(), 200, CPoint(126, 60), templ.data(), nullptr), CT_FAILED);
    EXPECT_EQ(fromImage(image.data(), 200, CPoint(72, 60), templ.data(), &length), CT_FAILED); // 2 apart
    EXPECT_EQ(fromImage(image.data(), 200, CPoint(60, 60), templ.data(), &length), CT_FAILED); // swapped
    EXPECT_EQ(fromImage(nullptr, 200, CPoint(126, 60), templ.data(), &length), CT_FAILED);
    EXPECT_EQ(length, -1);
    EXPECT_EQ(templ[0], 0xCD);
    EXPECT_EQ(fromImage(image.data(), 200, CPoint(73, 60), templ.data(), &length), CT_OK); // 3 apart

    CVelmora another; // clears readiness
    EXPECT_EQ(another.CreateTemplate(face.data(), 64, 64, templ.data(), length), CT_NOT_INITIALIZED);
    EXPECT_EQ(another.CreateTemplate(image.data(), 200, 180, CPoint(70, 60), CPoint(126, 60), templ.data(), &length),
              CT_NOT_INITIALIZED);

    // Models that load but cannot give a template: the header and length are written all the same.
    ASSERT_TRUE(another.Initialize(Model("few.bin", 10, 199).c_str(), nullptr));
    EXPECT_EQ(another.CreateTemplate(face.data(), 64, 64, templ.data(), length), CT_FAILED);
    EXPECT_EQ(length, 1608);
    ASSERT_TRUE(another.Initialize(Model("dim.bin", 10, 200, 4096).c_str(), nullptr));
    EXPECT_EQ(another.CreateTemplate(face.data(), 64, 64, templ.data(), length), CT_FAILED);
    const std::vector<std::string> expected = {"nOutDim > m_pLDA->m_nValidEigenNum",
                                               "nInDim != m_pPCA->m_nFeatureVecDim"};
    EXPECT_EQ(m_messages.texts(), expected);
}

TEST_F(TemplateTest, InitializeMaskBankSettingsAndFailedReloads)
{
    Bytes face, templ;
    RandomImage(&face);
    g_facePreprocessor.SetMask(2);
    EXPECT_FALSE(m_velmora.Initialize((m_dir / "missing.bin").c_str(), "x"));
    EXPECT_TRUE(g_recognizerReady); // left as it was
    std::vector<double> values(4096, 1.0);
    EXPECT_EQ(g_facePreprocessor.CompactMasked(values.data()), 2898); // mask 3 all the same

    const std::string other = Model("other.bin", 12, 200);
    for (auto [scales, orientations] : {std::pair{5, 9}, std::pair{6, 8}, std::pair{41, 1}}) {
        m_velmora.m_nGaborScales = scales;
        m_velmora.m_nGaborOrientations = orientations;
        EXPECT_FALSE(m_velmora.Initialize(other.c_str(), nullptr));
        EXPECT_EQ(g_subspaceModel.m_nPCAEigenUsed, 10); // nothing replaced
        EXPECT_EQ(g_gaborBank.ScaleCount() * g_gaborBank.OrientationCount(), 40);
    }
    m_velmora.m_nGaborScales = 4; // 32 kernels: the missing features stay zero
    m_velmora.m_nGaborOrientations = 8;
    ASSERT_TRUE(m_velmora.Initialize(other.c_str(), nullptr));
    EXPECT_EQ(g_gaborBank.ScaleCount(), 4);
    EXPECT_EQ(Make(face.data(), templ), 1608);

    std::string cut = PickingModel(10, 205).Bytes();
    cut.pop_back();
    EXPECT_FALSE(m_velmora.Initialize(m_dir.Write("cut.bin", cut).c_str(), nullptr));
    EXPECT_TRUE(g_recognizerReady);
    EXPECT_EQ(Make(face.data(), templ), -1); // the model's own flags were cleared
    EXPECT_EQ(m_messages.texts(), std::vector<std::string>{"LDA Read Eigen error"});
}

// Templates made in batches, with the faces as the lanes of the projection,
// equal CreateTemplate's one at a time bit for bit under a dense model (where
// any other summation order shows): below, across and above the lane width,
// with a missing face, and with faces preprocessed in place. The engine's
// features are those CreateTemplate projects.
TEST(TemplateBatch, EqualsOneAtATimeBitForBit)
{
    std::mt19937 rng(11);
    HandModel m = BasisModel(kFeatureDim, 40, 2, 200);
    m.mean = RandomValues(m.mean.size(), rng, -300, 300);
    m.stdDev = RandomValues(m.stdDev.size(), rng, 10, 200); // divisions that round
    for (size_t j = 0; j < m.stdDev.size(); j += 5)
        m.stdDev[j] = 0.0; // the value passed through raw
    for (auto& row : m.eigenVecs)
        row = RandomValues(row.size(), rng);
    for (auto& row : m.ldaVecs)
        row = RandomValues(row.size(), rng);
    ScratchDir dir;
    CVelmora velmora;
    ASSERT_TRUE(velmora.Initialize(dir.Write("dense.bin", m.Bytes()).c_str(), nullptr));

    for (const int count : {1, 7, 13, 40}) {
        velmora.m_bPreprocessNormFace = count == 40 ? 0 : 1;
        std::vector<Bytes> faces(static_cast<size_t>(count)), made(faces.size(), Bytes(1608));
        for (Bytes& face : faces)
            face = RandomBytes(4096, rng);
        std::vector<Bytes> expectedFaces = faces, expected = made;
        std::vector<unsigned char*> facePtrs, madePtrs;
        for (size_t i = 0; i < faces.size(); ++i) {
            facePtrs.push_back(i == 5 ? nullptr : faces[i].data());
            madePtrs.push_back(made[i].data());
        }
        std::vector<int> lengths(faces.size()), expectedLengths(faces.size());
        std::vector<enumCTError> results(faces.size());
        velmora::engine::CreateTemplates(velmora, facePtrs.data(), count, madePtrs.data(), lengths.data(),
                                         results.data());
        for (size_t i = 0; i < faces.size(); ++i) {
            const enumCTError one = velmora.CreateTemplate(i == 5 ? nullptr : expectedFaces[i].data(), 64, 64,
                                                           expected[i].data(), expectedLengths[i]);
            ASSERT_EQ(results[i], one) << count << " faces, face " << i;
            EXPECT_EQ(one, i == 5 ? CT_FAILED : CT_OK);
            EXPECT_EQ(made[i], expected[i]) << count << " faces, face " << i;
            EXPECT_EQ(faces[i], expectedFaces[i]);
            EXPECT_EQ(lengths[i], expectedLengths[i]);
        }
    }

    velmora.m_bPreprocessNormFace = 1; // the face is then left as it is
    Bytes face = RandomBytes(4096, rng), direct(1608), viaFeatures(1608);
    int length = 0;
    ASSERT_EQ(velmora.CreateTemplate(face.data(), 64, 64, direct.data(), length), CT_OK);
    const std::vector<double> features = velmora::engine::FaceFeatures(face.data());
    ASSERT_EQ(features.size(), static_cast<size_t>(kFeatureDim));
    ASSERT_EQ(velmora::engine::TemplateFromFeatures(features.data(), viaFeatures.data(), length), CT_OK);
    EXPECT_EQ(viaFeatures, direct);
}

TEST(RecognizerObject, ConstructionSetsDefaultsAndClearsReadiness)
{
    g_recognizerReady = true;
    g_findFaceMode = 7;
    CVelmora v;
    EXPECT_FALSE(g_recognizerReady);
    EXPECT_EQ(std::make_tuple(g_templateDim, g_findFaceMode, v.m_bPreprocessNormFace, v.m_bApplyFaceWeight,
                              v.m_nGaborFaceWidth, v.m_nGaborFaceHeight, v.m_nGaborScales, v.m_nGaborOrientations,
                              v.m_nTemplateVecNum),
              std::make_tuple(200, 0, 1, 0, 32, 32, 5, 8, 1));
    // The frequency step is the decimal value, not sqrt(2).
    EXPECT_EQ(std::make_tuple(v.m_lfGaborSigma, v.m_lfGaborKmax, v.m_lfGaborFreqStep), std::make_tuple(2.0, 1.0, 1.41421));
}

TEST(RecognizerObject, CopyingLeavesModuleStateAlone)
{
    CVelmora first;
    first.m_nTemplateVecNum = 3;
    first.m_bApplyFaceWeight = 1;
    g_recognizerReady = true; // as after a successful Initialize

    CVelmora copy(first);
    EXPECT_TRUE(g_recognizerReady);
    EXPECT_EQ(copy.m_nTemplateVecNum, 3);
    EXPECT_EQ(copy.m_bApplyFaceWeight, 1);

    CVelmora assigned(first); // a copy too, so readiness survives
    assigned.m_nTemplateVecNum = 9;
    EXPECT_EQ(&(assigned = first), &assigned);
    EXPECT_EQ(assigned.m_nTemplateVecNum, 3);
    EXPECT_TRUE(g_recognizerReady);

    CVelmora another; // a fresh construction invalidates everyone
    EXPECT_FALSE(g_recognizerReady);
}

TEST(RecognizerObject, SizesVersionAndMode)
{
    CVelmora v;
    // The template size needs a ready recognizer.
    int size = 55;
    EXPECT_FALSE(v.GetMaxTemplateSize(size));
    EXPECT_EQ(size, 0);
    g_recognizerReady = true;
    EXPECT_TRUE(v.GetMaxTemplateSize(size));
    EXPECT_EQ(size, 1608);
    v.m_nTemplateVecNum = 3;
    EXPECT_TRUE(v.GetMaxTemplateSize(size));
    EXPECT_EQ(size, 3 * 200 * 8 + 8);
    g_recognizerReady = false;

    int w = 0, h = 0;
    EXPECT_TRUE(v.GetNormFaceSize(w, h));
    EXPECT_EQ(w, 64);
    EXPECT_EQ(h, 64);

    const struct { int width, height; } cases[] = {{46, 56}, {23, 28}, {1, 1}, {64, 78}, {100, 122}};
    for (const auto& c : cases) {
        int height = -1;
        EXPECT_TRUE(v.GetFaceSize(c.width, height)) << c.width;
        EXPECT_EQ(height, c.height) << c.width;
    }
    for (int bad : {0, -1, -1000, 2000000000}) {
        int height = 1234;
        EXPECT_FALSE(v.GetFaceSize(bad, height)) << bad;
        EXPECT_EQ(height, 1234);
    }

    EXPECT_EQ(v.GetVelmoraVersion(), 230);
    EXPECT_TRUE(v.SetFindFaceMode(-5));
    EXPECT_EQ(g_findFaceMode, -5);
}

// Not-a-number and infinity inside the doubles of a model file. The format has
// no constraint on its values, so every such file loads; what matters is the
// template. Decision: CreateTemplate returns CT_FAILED whenever the template
// vector would hold a value that is not finite (a silent not-a-number template
// would only ever compare as -1). As for any projection failure, the header and
// length are written first; the vector part of the buffer is left untouched.
// Values that the projection never reads (eigenvalues, the LDA mean) or that it
// skips by design (a deviation that is not above 1e-6, which a not-a-number is
// not) leave the templates valid.

TEST(HostileModelValues, NonFiniteOrOverflowingValuesLoadButNeverMakeATemplate)
{
    MessageCapture messages;
    ScratchDir dir;
    CVelmora velmora;
    std::mt19937 rng(5);
    const std::vector<unsigned char> face = RandomBytes(64 * 64, rng);

    const std::string model = SmallModel();
    ASSERT_EQ(model.size(), LdaVectorAt(kL, 0));
    ASSERT_TRUE(velmora.Initialize(dir.Write("clean.bin", model).c_str(), nullptr));
    std::vector<unsigned char> clean(kTemplateBytes);
    int length = 0;
    std::vector<unsigned char> work = face;
    ASSERT_EQ(velmora.CreateTemplate(work.data(), 64, 64, clean.data(), length), CT_OK);

    for (const Poison& p : kPoisons) {
        for (const double value : {kNaN, kInf, -kInf}) {
            const std::string what = std::string(p.where) + " = " + std::to_string(value);
            const std::string poisoned = Patched(model, p.offset, value);
            ASSERT_TRUE(velmora.Initialize(dir.Write("poisoned.bin", poisoned).c_str(), nullptr)) << what;

            std::vector<unsigned char> templ(kTemplateBytes, 0xEE);
            int templLength = -7;
            work = face;
            const enumCTError result = velmora.CreateTemplate(work.data(), 64, 64, templ.data(), templLength);
            if (p.effect == Effect::kRefused) {
                EXPECT_EQ(result, CT_FAILED) << what;
                EXPECT_EQ(templLength, kTemplateBytes) << what;
                EXPECT_EQ(ReadInt32LE(templ.data() + 4), 200) << what;
                EXPECT_EQ(std::vector<unsigned char>(templ.begin() + 8, templ.end()),
                          std::vector<unsigned char>(kTemplateBytes - 8, 0xEE))
                    << what;
                continue;
            }
            ASSERT_EQ(result, CT_OK) << what;
            if (p.effect == Effect::kUnread) {
                EXPECT_EQ(templ, clean) << what;
                continue;
            }
            // Template values 0, 10, 20, ... carry PCA component 0, which reads feature
            // 100; the clean model gave them feature - 3.5.
            for (int i = 0; i < 200; ++i) {
                const double got = ReadDoubleLE(templ.data() + 8 + 8 * i);
                const double was = ReadDoubleLE(clean.data() + 8 + 8 * i);
                const double expected = i % 10 != 0 ? was : (value > 0 ? 0.0 : was + 3.5);
                EXPECT_NEAR(got, expected, 1e-12 * std::abs(was)) << what << " value " << i;
            }
        }
    }
    EXPECT_TRUE(messages.texts().empty());

    // A huge finite value times a Gabor magnitude goes beyond the largest double.
    const std::string huge = Patched(model, EigenVectorAt(0, 100), 1e308);
    ASSERT_TRUE(velmora.Initialize(dir.Write("huge.bin", huge).c_str(), nullptr));
    std::vector<unsigned char> templ(kTemplateBytes, 0xEE);
    work = face;
    EXPECT_EQ(velmora.CreateTemplate(work.data(), 64, 64, templ.data(), length), CT_FAILED);
    EXPECT_EQ(templ[8], 0xEE);
}
