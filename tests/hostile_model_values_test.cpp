// Not-a-number and infinity inside the doubles of a model file. The format has
// no constraint on its values, so every such file loads; what matters is the
// template. Decision: CreateTemplate returns CT_FAILED whenever the template
// vector would hold a value that is not finite (a silent not-a-number template
// would only ever compare as -1). As for any projection failure, the header and
// length are written first; the vector part of the buffer is left untouched.
// Values that the projection never reads (eigenvalues, the LDA mean) or that it
// skips by design (a deviation that is not above 1e-6, which a not-a-number is
// not) leave the templates valid.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <velmora/Velmora.h>

#include "common/ByteOrder.h"
#include "pca/SubspaceModel.h"
#include "support/HandModel.h"
#include "support/MessageCapture.h"

using velmora_test::HandModel;

namespace {

constexpr int kFeatureDim = 7840;
constexpr int kTemplateBytes = 1608;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// D = 7840 features, K = 10 unit PCA rows, deviations 1, S = 0, and 200 LDA rows
// that repeat the 10 unit vectors.
HandModel SmallModel()
{
    HandModel m;
    m.n = 300;
    m.d = kFeatureDim;
    m.k = 10;
    m.meanBytes.assign(kFeatureDim, 3);
    m.mean.assign(kFeatureDim, 3.5);
    m.stdDev.assign(kFeatureDim, 1.0);
    for (int i = 0; i < m.k; ++i) {
        m.eigenVals.push_back(10.0 - i);
        m.eigenVecs.push_back(velmora_test::UnitVector(kFeatureDim, 100 + 700 * i));
    }
    m.l = 200;
    m.e = m.k;
    for (int i = 0; i < m.l; ++i) {
        m.ldaEigenVals.push_back(1.0 - 0.001 * i);
        m.ldaVecs.push_back(velmora_test::UnitVector(m.e, i % m.e));
    }
    m.ldaMean.assign(static_cast<size_t>(m.e), 0.25);
    return m;
}

// A grey 64 x 64 face with some structure for the Gabor filters.
std::vector<unsigned char> Face()
{
    std::vector<unsigned char> face(64 * 64);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            face[static_cast<size_t>(64 * y + x)] = static_cast<unsigned char>(60 + (x * 5 + y * 3) % 120);
    return face;
}

enum class Effect {
    kRefused,   // CT_FAILED for every poison value
    kUnread,    // the template is the clean one, bit for bit
    kDeviation, // the component of feature 100 is left as it is (not a number,
                // minus infinity) or divided down to 0 (infinity)
};

struct Poison {
    const char* where;
    void (*apply)(HandModel&, double);
    Effect effect;
};

const Poison kPoisons[] = {
    {"PCA mean", [](HandModel& m, double v) { m.mean[100] = v; }, Effect::kRefused},
    {"PCA deviation", [](HandModel& m, double v) { m.stdDev[100] = v; }, Effect::kDeviation},
    {"PCA eigenvalue", [](HandModel& m, double v) { m.eigenVals[0] = v; }, Effect::kUnread},
    {"PCA eigenvector", [](HandModel& m, double v) { m.eigenVecs[3][5000] = v; }, Effect::kRefused},
    {"LDA eigenvalue", [](HandModel& m, double v) { m.ldaEigenVals[7] = v; }, Effect::kUnread},
    {"LDA mean", [](HandModel& m, double v) { m.ldaMean[2] = v; }, Effect::kUnread},
    {"LDA eigenvector", [](HandModel& m, double v) { m.ldaVecs[150][4] = v; }, Effect::kRefused},
};

} // namespace

TEST(HostileModelValues, NonFiniteValuesLoadButNeverMakeATemplate)
{
    velmora_test::MessageCapture messages;
    velmora_test::ScratchDir dir;
    CVelmora velmora;
    const std::vector<unsigned char> face = Face();

    ASSERT_TRUE(velmora.Initialize(dir.Write("clean.bin", SmallModel().Bytes()).c_str(), nullptr));
    std::vector<unsigned char> clean(kTemplateBytes);
    int length = 0;
    std::vector<unsigned char> work = face;
    ASSERT_EQ(velmora.CreateTemplate(work.data(), 64, 64, clean.data(), length), CT_OK);

    for (const Poison& p : kPoisons) {
        for (const double value : {kNaN, kInf, -kInf}) {
            HandModel model = SmallModel();
            p.apply(model, value);
            const std::string what = std::string(p.where) + " = " + std::to_string(value);
            ASSERT_TRUE(velmora.Initialize(dir.Write("poisoned.bin", model.Bytes()).c_str(), nullptr)) << what;

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
}

TEST(HostileModelValues, HugeFiniteValuesOverflowIntoARefusal)
{
    velmora_test::ScratchDir dir;
    CVelmora velmora;
    HandModel model = SmallModel();
    model.eigenVecs[0][100] = 1e308; // times a Gabor magnitude: beyond the largest double
    ASSERT_TRUE(velmora.Initialize(dir.Write("huge.bin", model.Bytes()).c_str(), nullptr));
    std::vector<unsigned char> face = Face();
    std::vector<unsigned char> templ(kTemplateBytes, 0xEE);
    int length = -7;
    EXPECT_EQ(velmora.CreateTemplate(face.data(), 64, 64, templ.data(), length), CT_FAILED);
    EXPECT_EQ(templ[8], 0xEE);
}

TEST(HostileModelValues, NonFiniteTemplatesFromElsewhereCompareAsInvalid)
{
    const CVelmora velmora;
    auto templ = [](double first) {
        std::vector<unsigned char> t(8 + 8 * 3);
        WriteInt32LE(t.data(), 1);
        WriteInt32LE(t.data() + 4, 3);
        const double values[3] = {first, 1.0, 2.0};
        for (int i = 0; i < 3; ++i)
            WriteDoubleLE(t.data() + 8 + 8 * i, values[i]);
        return t;
    };
    const std::vector<unsigned char> good = templ(0.5);
    for (const double bad : {kNaN, kInf, -kInf}) {
        const std::vector<unsigned char> t = templ(bad);
        for (const int mode : {1, 2, 3}) {
            EXPECT_EQ(velmora.CompareTemplate(t.data(), t.size(), good.data(), good.size(), mode), -1.0)
                << bad << " mode " << mode;
            EXPECT_EQ(velmora.CompareTemplate(good.data(), good.size(), t.data(), t.size(), mode), -1.0)
                << bad << " mode " << mode;
        }
    }
}
