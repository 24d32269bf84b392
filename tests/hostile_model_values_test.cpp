// Not-a-number and infinity inside the doubles of a model file. The format has
// no constraint on its values, so every such file loads; what matters is the
// template. Decision: CreateTemplate returns CT_FAILED whenever the template
// vector would hold a value that is not finite (a silent not-a-number template
// would only ever compare as -1). As for any projection failure, the header and
// length are written first; the vector part of the buffer is left untouched.
// Values that the projection never reads (eigenvalues, the LDA mean) or that it
// skips by design (a deviation that is not above 1e-6, which a not-a-number is
// not) leave the templates valid.
#include "support/Common.h"

#include <velmora/Velmora.h>

#include "common/ByteOrder.h"
#include "pca/SubspaceModel.h"
#include "support/HandModel.h"
#include "support/MessageCapture.h"
#include "support/NaiveVsFast.h"

using velmora_test::HandModel;

namespace {

constexpr int kFeatureDim = 7840;
constexpr int kTemplateBytes = 1608;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// D = 7840 features, K = 10 unit PCA rows, deviations 1, S = 0, and 200 LDA rows
// that repeat the 10 unit vectors.
constexpr int kK = 10;
constexpr int kL = 200;

std::string SmallModel()
{
    HandModel m = velmora_test::BasisModel(kFeatureDim, kK, 0, kL, [](int i) { return 100 + 700 * i; });
    m.n = 300;
    m.mean.assign(kFeatureDim, 3.5);
    m.stdDev.assign(kFeatureDim, 1.0);
    m.ldaMean.assign(kK, 0.25);
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

TEST(HostileModelValues, NonFiniteOrOverflowingValuesLoadButNeverMakeATemplate)
{
    velmora_test::MessageCapture messages;
    velmora_test::ScratchDir dir;
    CVelmora velmora;
    std::mt19937 rng(5);
    const std::vector<unsigned char> face = velmora_test::RandomBytes(64 * 64, rng);

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
