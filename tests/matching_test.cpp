#include "support/Common.h"

#include <velmora/Velmora.h>

#include "support/HandModel.h"
#include "matching/TemplateSet.h"
#include "support/MessageCapture.h"

namespace {

using Vectors = std::vector<std::vector<double>>;

double Compare(const Vectors& a, const Vectors& b, int mode)
{
    const auto ta = velmora_test::TemplateOf(a);
    const auto tb = velmora_test::TemplateOf(b);
    return CVelmora().CompareTemplate(ta.data(), tb.data(), mode);
}

const int kModes[] = {1, 2, 3, 0, -7};
const double kTol = 1e-12;

} // namespace

TEST(CompareTemplate, OneVectorTemplatesScoreTheMappedCosineInEveryMode)
{
    for (int mode : kModes) {
        EXPECT_NEAR(Compare({{1, 0}}, {{1, 1}}, mode), (1.0 / std::sqrt(2.0) + 1.0) * 0.5, kTol);
        EXPECT_NEAR(Compare({{3, -2, 5}}, {{3, -2, 5}}, mode), 1.0, kTol);
        EXPECT_NEAR(Compare({{1, 2}}, {{-1, -2}}, mode), 0.0, kTol);
        EXPECT_NEAR(Compare({{1, 0}}, {{0, 4}}, mode), 0.5, kTol);
    }
}

TEST(CompareTemplate, ModesAgainstATwoVectorGallery)
{
    const Vectors gallery = {{1, 0, 0}, {0, 1, 0}};
    // (2, -1, 0) lies on the line through both rows, beyond the first one.
    const Vectors onLine = {{2, -1, 0}};
    EXPECT_NEAR(Compare(onLine, gallery, 1), (2.0 / std::sqrt(5.0) + 1.0) * 0.5, kTol);
    EXPECT_NEAR(Compare(onLine, gallery, 2), (0.5 / (std::sqrt(5.0) * std::sqrt(0.5)) + 1.0) * 0.5, kTol);
    EXPECT_NEAR(Compare(onLine, gallery, 3), 1.0, kTol);
    // Off the line: the foot of (1, 1, 1) is (0.5, 0.5, 0).
    const double footCos = 1.0 / (std::sqrt(3.0) * std::sqrt(0.5));
    EXPECT_NEAR(Compare({{1, 1, 1}}, gallery, 0), (footCos + 1.0) * 0.5, kTol);
}

TEST(CompareTemplate, SmallerSetQueriesAndEqualCountsUseTheFirstArgument)
{
    const Vectors two = {{1, 0}, {1, 0.1}};
    const Vectors one = {{0.3, 1}};
    for (int mode : kModes)
        EXPECT_DOUBLE_EQ(Compare(two, one, mode), Compare(one, two, mode)) << mode;

    const Vectors a = {{1, 0}, {0, 1}};
    const Vectors b = {{1, 0}, {1, 0.1}};
    // Mode 2 with equal counts: a's rows against b's mean, and the reverse.
    const double aAsks = (1.0 / std::sqrt(1.0 + 0.05 * 0.05) + 1.0) * 0.5;
    const double bAsks = (0.55 / (std::sqrt(1.01) * std::sqrt(0.5)) + 1.0) * 0.5;
    EXPECT_NEAR(Compare(a, b, 2), aAsks, kTol);
    EXPECT_NEAR(Compare(b, a, 2), bAsks, kTol);
    // Mode 1 is the best over all pairs either way.
    EXPECT_DOUBLE_EQ(Compare(a, b, 1), Compare(b, a, 1));
}

TEST(CompareTemplate, NotANumberNeverWins)
{
    const double inf = std::numeric_limits<double>::infinity();
    for (int mode : kModes) {
        EXPECT_EQ(Compare({{0, 0}}, {{1, 2}}, mode), -1.0) << mode;
        EXPECT_EQ(Compare({{1, 2}}, {{0, 0}}, mode), -1.0) << mode;
        // Values that are not finite, on either side (templates from elsewhere).
        for (double bad : {std::numeric_limits<double>::quiet_NaN(), inf, -inf}) {
            EXPECT_EQ(Compare({{bad, 1, 2}}, {{0.5, 1, 2}}, mode), -1.0) << mode << " " << bad;
            EXPECT_EQ(Compare({{0.5, 1, 2}}, {{bad, 1, 2}}, mode), -1.0) << mode << " " << bad;
        }
    }
    // A zero query against two non-zero vectors: no cosine is a number.
    const Vectors gallery = {{1, 0}, {0, 1}};
    EXPECT_EQ(Compare({{0, 0}}, gallery, 1), -1.0);
    EXPECT_EQ(Compare({{0, 0}}, gallery, 2), -1.0);
    EXPECT_EQ(Compare({{0, 0}}, gallery, 3), 0.0);
    // Two identical gallery rows make the line degenerate (0 / 0); other pairs still count.
    EXPECT_NEAR(Compare({{1, 0}}, {{1, 1}, {1, 1}, {1, 0}}, 3), 1.0, kTol);
}

TEST(CompareTemplate, InvalidHeadersAndPointers)
{
    CVelmora v;
    const auto good = velmora_test::TemplateOf({{1, 2, 3}});
    // Headers of count x dimension with room for four values.
    for (const auto& [count, dim] : {std::pair{0, 3}, {1, 0}, {-1, 3}, {1, -5}}) {
        const auto bad = velmora_test::TemplateOf({{0, 0, 0, 0}}, count, dim);
        EXPECT_EQ(v.CompareTemplate(bad.data(), good.data(), 1), -1.0);
        EXPECT_EQ(v.CompareTemplate(good.data(), bad.data(), 2), -1.0);
    }
    EXPECT_EQ(v.CompareTemplate(nullptr, good.data(), 1), -1.0);
    EXPECT_EQ(v.CompareTemplate(good.data(), nullptr, 1), -1.0);
    // Dimensions that differ cannot be compared.
    const auto other = velmora_test::TemplateOf({{1, 2}});
    EXPECT_EQ(v.CompareTemplate(good.data(), other.data(), 1), -1.0);
}

TEST(TemplateSet, SetOneTemplateReportsBadArguments)
{
    velmora_test::MessageCapture messages;
    CTemplateSet set(2, 3);
    const double v[3] = {1, 2, 3};
    EXPECT_EQ(set.SetOneTemplate(0, nullptr), 0);
    EXPECT_EQ(set.SetOneTemplate(2, v), 0);
    EXPECT_EQ(set.SetOneTemplate(-1, v), 0);
    EXPECT_EQ(set.SetOneTemplate(1, v), 1);
    ASSERT_EQ(messages.texts().size(), 3u);
    EXPECT_EQ(messages.texts()[0], "SetTemplate: Null template pointer!!");
    EXPECT_EQ(messages.texts()[1], "SetOneTemplate: try to set invalid template No!!");
    EXPECT_EQ(messages.texts()[2], "SetOneTemplate: try to set invalid template No!!");
    EXPECT_FALSE(CTemplateSet(0, 3).IsValid());
    EXPECT_FALSE(CTemplateSet(3, -1).IsValid());
}
