// Verification metrics against score lists worked out by hand.
#include "support/Common.h"

#include "Metrics.h"

using namespace velmora_cli;

namespace {

std::vector<ScoredPair> Pairs(const std::vector<double>& same, const std::vector<double>& different)
{
    std::vector<ScoredPair> pairs;
    for (double s : same)
        pairs.push_back({s, true});
    for (double d : different)
        pairs.push_back({d, false});
    return pairs;
}

// Four same-person and five different-person scores, interleaved. By hand, with
// FAR = different at or above t / 5 and FRR = same below t / 4:
//   t     0.1  0.15 0.25 0.35 0.45 0.55 0.65 0.75 0.85 >0.9
//   FAR   1    .8   .6   .4   .4   .2   .2   0    0    0
//   FRR   0    0    0    0    .25  .25  .5   .5   .75  1
//   right 4    5    6    7    6    7    6    7    6    5
const std::vector<ScoredPair> kInterleaved = Pairs({0.9, 0.8, 0.6, 0.4}, {0.7, 0.5, 0.3, 0.2, 0.1});
constexpr double kTol = 1e-12;

} // namespace

TEST(Metrics, CandidatesSeparateNeighbouringScores)
{
    const std::vector<double> c = CandidateThresholds(kInterleaved);
    const std::vector<double> expected = {0.1, 0.15, 0.25, 0.35, 0.45, 0.55, 0.65, 0.75, 0.85};
    ASSERT_EQ(c.size(), 10u);
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_NEAR(c[i], expected[i], kTol) << i;
    EXPECT_GT(c[9], 0.9);
    EXPECT_EQ(RatesAt(kInterleaved, c[9]).frr, 1.0); // above every score: all rejected

    // Neighbouring doubles: the higher one is the threshold between them.
    const double a = 0.5, b = std::nextafter(0.5, 1.0);
    const std::vector<ScoredPair> tight = Pairs({b}, {a});
    const std::vector<double> t = CandidateThresholds(tight);
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[1], b);
    EXPECT_EQ(EqualErrorRate(tight).rate, 0.0);
    EXPECT_EQ(EqualErrorRate(tight).threshold, b);
    EXPECT_TRUE(CandidateThresholds({}).empty());
}

TEST(Metrics, RatesAndAccuracyAtAThreshold)
{
    const ErrorRates r = RatesAt(kInterleaved, 0.65);
    EXPECT_NEAR(r.far, 0.2, kTol);
    EXPECT_NEAR(r.frr, 0.5, kTol);
    EXPECT_NEAR(r.tar(), 0.5, kTol);
    // A score equal to the threshold is accepted.
    EXPECT_NEAR(RatesAt(kInterleaved, 0.7).far, 0.2, kTol);
    EXPECT_NEAR(RatesAt(kInterleaved, 0.6).frr, 0.25, kTol);
    EXPECT_NEAR(AccuracyAt(kInterleaved, 0.55), 7.0 / 9.0, kTol);
    EXPECT_NEAR(AccuracyAt(kInterleaved, 0.45), 6.0 / 9.0, kTol);
    // A score that is not a number is never accepted.
    const auto withNaN = Pairs({std::numeric_limits<double>::quiet_NaN(), 0.9}, {0.1});
    EXPECT_NEAR(AccuracyAt(withNaN, 0.5), 2.0 / 3.0, kTol);
    EXPECT_NEAR(RatesAt(withNaN, 0.0).frr, 0.5, kTol);
    EXPECT_TRUE(std::isnan(AccuracyAt({}, 0.5)));
}

TEST(Metrics, EqualErrorRateAndItsThreshold)
{
    // |FAR - FRR| is smallest at 0.55: (0.2 + 0.25) / 2.
    const EqualError e = EqualErrorRate(kInterleaved);
    EXPECT_NEAR(e.rate, 0.225, kTol);
    EXPECT_NEAR(e.threshold, 0.55, kTol);

    // |FAR - FRR| = 0.2 at 0.45 (FAR .6, FRR .4) and at 0.55 (FAR .2, FRR .4):
    // the smaller mean error wins.
    const auto tied = Pairs({0.3, 0.4, 0.6, 0.7, 0.8}, {0.1, 0.2, 0.5, 0.5, 0.9});
    EXPECT_NEAR(EqualErrorRate(tied).rate, 0.3, kTol);
    EXPECT_NEAR(EqualErrorRate(tied).threshold, 0.55, kTol);

    // Fully separated scores: no error, threshold between the groups.
    const EqualError clean = EqualErrorRate(Pairs({0.9, 0.8}, {0.3}));
    EXPECT_EQ(clean.rate, 0.0);
    EXPECT_NEAR(clean.threshold, 0.55, kTol);

    // Identical scores: accept-all and reject-all tie completely; the lower threshold is kept.
    const EqualError flat = EqualErrorRate(Pairs({0.5, 0.5}, {0.5}));
    EXPECT_EQ(flat.rate, 0.5);
    EXPECT_EQ(flat.threshold, 0.5);

    // Without both kinds of pairs there is no error rate.
    EXPECT_TRUE(std::isnan(EqualErrorRate(Pairs({0.9, 0.1}, {})).rate));
    EXPECT_TRUE(std::isnan(EqualErrorRate({}).threshold));
}

TEST(Metrics, TrueAcceptsAtAFalseAcceptLimit)
{
    EXPECT_NEAR(TarAtFar(kInterleaved, 0.2), 0.75, kTol);  // at 0.55
    EXPECT_NEAR(TarAtFar(kInterleaved, 0.19), 0.5, kTol);  // FAR 0 first reached at 0.75
    EXPECT_NEAR(TarAtFar(kInterleaved, 1e-3), 0.5, kTol);
    EXPECT_NEAR(TarAtFar(kInterleaved, 0.4), 1.0, kTol);   // at 0.35
    EXPECT_NEAR(TarAtFar(kInterleaved, 1.0), 1.0, kTol);
    // A different-person pair above every same-person pair: nothing is accepted at FAR 0.
    EXPECT_EQ(TarAtFar(Pairs({0.6, 0.7}, {0.8, 0.1}), 0.0), 0.0);
    EXPECT_TRUE(std::isnan(TarAtFar(Pairs({}, {0.3}), 0.01)));
}

TEST(Metrics, RocRunsFromNothingAcceptedToEverything)
{
    const std::vector<RocPoint> roc = RocCurve(kInterleaved);
    const double far[] = {0, 0, 0, .2, .2, .4, .4, .6, .8, 1};
    const double tar[] = {0, .25, .5, .5, .75, .75, 1, 1, 1, 1};
    ASSERT_EQ(roc.size(), 10u);
    for (size_t i = 0; i < roc.size(); ++i) {
        EXPECT_NEAR(roc[i].far, far[i], kTol) << i;
        EXPECT_NEAR(roc[i].tar, tar[i], kTol) << i;
        if (i > 0) {
            EXPECT_LT(roc[i].threshold, roc[i - 1].threshold);
        }
    }
    EXPECT_TRUE(RocCurve(Pairs({0.5}, {})).empty());
}

TEST(Metrics, BestAccuracyThresholdTakesTheMiddleOfEqualOnes)
{
    // Seven right at 0.35, 0.55 and 0.75: the middle one.
    EXPECT_NEAR(BestAccuracyThreshold(kInterleaved), 0.55, kTol);
    // Seven right at 0.25 and 0.55: the lower middle of two.
    const auto tied = Pairs({0.3, 0.4, 0.6, 0.7, 0.8}, {0.1, 0.2, 0.5, 0.5, 0.9});
    EXPECT_NEAR(BestAccuracyThreshold(tied), 0.25, kTol);
    EXPECT_NEAR(AccuracyAt(tied, BestAccuracyThreshold(tied)), 0.7, kTol);
    // Only same-person pairs: accepting everything is right.
    EXPECT_EQ(BestAccuracyThreshold(Pairs({0.2, 0.4}, {})), 0.2);
    EXPECT_TRUE(std::isnan(BestAccuracyThreshold({})));
}

TEST(Metrics, MeanAndStandardErrorOfFolds)
{
    // Mean 0.9; sample deviation sqrt((0.01 + 0 + 0.01) / 2) = 0.1; error 0.1 / sqrt(3).
    const MeanAndError m = MeanWithStandardError({0.8, 0.9, 1.0});
    EXPECT_NEAR(m.mean, 0.9, kTol);
    EXPECT_NEAR(m.standardError, 0.1 / std::sqrt(3.0), kTol);
    const MeanAndError same = MeanWithStandardError({0.7, 0.7, 0.7, 0.7});
    EXPECT_NEAR(same.standardError, 0.0, kTol);
    const MeanAndError one = MeanWithStandardError({0.75});
    EXPECT_EQ(one.mean, 0.75);
    EXPECT_TRUE(std::isnan(one.standardError));
    EXPECT_TRUE(std::isnan(MeanWithStandardError({}).mean));
}
