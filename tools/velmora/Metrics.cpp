#include "Metrics.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace velmora_cli {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Counts {
    long same = 0;
    long different = 0;
};

Counts CountKinds(const std::vector<ScoredPair>& pairs)
{
    Counts c;
    for (const ScoredPair& p : pairs)
        (p.same ? c.same : c.different) += 1;
    return c;
}

// How many same- and different-person pairs score below each candidate, by one
// sweep over the sorted scores.
std::vector<Counts> SweepBelow(const std::vector<ScoredPair>& pairs, const std::vector<double>& candidates)
{
    std::vector<ScoredPair> sorted = pairs;
    // A score that is not a number is never accepted: it sorts below everything.
    std::sort(sorted.begin(), sorted.end(), [](const ScoredPair& a, const ScoredPair& b) {
        return std::isnan(a.score) ? !std::isnan(b.score) : a.score < b.score;
    });
    std::vector<Counts> below;
    below.reserve(candidates.size());
    size_t next = 0;
    Counts running;
    for (double t : candidates) {
        while (next < sorted.size() && !(sorted[next].score >= t)) {
            (sorted[next].same ? running.same : running.different) += 1;
            ++next;
        }
        below.push_back(running);
    }
    return below;
}

std::vector<ErrorRates> SweepRates(const std::vector<ScoredPair>& pairs, const std::vector<double>& candidates)
{
    const Counts total = CountKinds(pairs);
    std::vector<ErrorRates> rates;
    for (const Counts& below : SweepBelow(pairs, candidates)) {
        ErrorRates r;
        r.far = total.different > 0 ? static_cast<double>(total.different - below.different) / total.different : kNaN;
        r.frr = total.same > 0 ? static_cast<double>(below.same) / total.same : kNaN;
        rates.push_back(r);
    }
    return rates;
}

bool BothKinds(const std::vector<ScoredPair>& pairs)
{
    const Counts c = CountKinds(pairs);
    return c.same > 0 && c.different > 0;
}

} // namespace

std::vector<double> CandidateThresholds(const std::vector<ScoredPair>& pairs)
{
    std::vector<double> scores;
    scores.reserve(pairs.size());
    for (const ScoredPair& p : pairs)
        if (!std::isnan(p.score))
            scores.push_back(p.score);
    std::sort(scores.begin(), scores.end());
    scores.erase(std::unique(scores.begin(), scores.end()), scores.end());
    std::vector<double> candidates;
    if (scores.empty())
        return candidates;
    candidates.push_back(scores.front());
    for (size_t i = 0; i + 1 < scores.size(); ++i) {
        const double a = scores[i], b = scores[i + 1];
        double mid = a + (b - a) / 2.0;
        if (mid <= a) // neighbouring doubles: the higher one separates them
            mid = b;
        candidates.push_back(mid);
    }
    candidates.push_back(std::nextafter(scores.back(), std::numeric_limits<double>::infinity()));
    return candidates;
}

ErrorRates RatesAt(const std::vector<ScoredPair>& pairs, double threshold)
{
    return SweepRates(pairs, {threshold}).front();
}

double AccuracyAt(const std::vector<ScoredPair>& pairs, double threshold)
{
    if (pairs.empty())
        return kNaN;
    long right = 0;
    for (const ScoredPair& p : pairs)
        right += (p.score >= threshold) == p.same ? 1 : 0;
    return static_cast<double>(right) / static_cast<double>(pairs.size());
}

std::vector<RocPoint> RocCurve(const std::vector<ScoredPair>& pairs)
{
    std::vector<RocPoint> curve;
    if (!BothKinds(pairs))
        return curve;
    const std::vector<double> candidates = CandidateThresholds(pairs);
    const std::vector<ErrorRates> rates = SweepRates(pairs, candidates);
    for (size_t i = candidates.size(); i-- > 0;)
        curve.push_back({candidates[i], rates[i].far, rates[i].tar()});
    return curve;
}

EqualError EqualErrorRate(const std::vector<ScoredPair>& pairs)
{
    if (!BothKinds(pairs))
        return {kNaN, kNaN};
    const std::vector<double> candidates = CandidateThresholds(pairs);
    const std::vector<Counts> below = SweepBelow(pairs, candidates);
    const Counts total = CountKinds(pairs);
    // FAR and FRR compared over the common denominator, so that ties are exact:
    // FAR x same x different = accepted different x same, likewise for FRR.
    auto scaledFar = [&](size_t i) { return static_cast<long long>(total.different - below[i].different) * total.same; };
    auto scaledFrr = [&](size_t i) { return static_cast<long long>(below[i].same) * total.different; };
    size_t best = 0;
    for (size_t i = 1; i < candidates.size(); ++i) {
        const long long gap = std::llabs(scaledFar(i) - scaledFrr(i));
        const long long bestGap = std::llabs(scaledFar(best) - scaledFrr(best));
        if (gap < bestGap || (gap == bestGap && scaledFar(i) + scaledFrr(i) < scaledFar(best) + scaledFrr(best)))
            best = i;
    }
    const double far = static_cast<double>(total.different - below[best].different) / total.different;
    const double frr = static_cast<double>(below[best].same) / total.same;
    return {(far + frr) / 2.0, candidates[best]};
}

double TarAtFar(const std::vector<ScoredPair>& pairs, double maxFar)
{
    if (!BothKinds(pairs))
        return kNaN;
    const std::vector<double> candidates = CandidateThresholds(pairs);
    const std::vector<ErrorRates> rates = SweepRates(pairs, candidates);
    double best = 0.0;
    for (const ErrorRates& r : rates)
        if (r.far <= maxFar)
            best = std::max(best, r.tar());
    return best;
}

double BestAccuracyThreshold(const std::vector<ScoredPair>& pairs)
{
    const std::vector<double> candidates = CandidateThresholds(pairs);
    if (candidates.empty())
        return kNaN;
    // Right decisions: same-person pairs at or above, different-person pairs below.
    const Counts total = CountKinds(pairs);
    std::vector<long> accuracy;
    for (const Counts& below : SweepBelow(pairs, candidates))
        accuracy.push_back(total.same - below.same + below.different);
    const long top = *std::max_element(accuracy.begin(), accuracy.end());
    std::vector<size_t> tied;
    for (size_t i = 0; i < accuracy.size(); ++i)
        if (accuracy[i] == top)
            tied.push_back(i);
    return candidates[tied[(tied.size() - 1) / 2]];
}

MeanAndError MeanWithStandardError(const std::vector<double>& values)
{
    MeanAndError m;
    if (values.empty())
        return {kNaN, kNaN};
    double sum = 0.0;
    for (double v : values)
        sum += v;
    m.mean = sum / static_cast<double>(values.size());
    if (values.size() < 2) {
        m.standardError = kNaN;
        return m;
    }
    double squares = 0.0;
    for (double v : values)
        squares += (v - m.mean) * (v - m.mean);
    const double n = static_cast<double>(values.size());
    m.standardError = std::sqrt(squares / (n - 1.0)) / std::sqrt(n);
    return m;
}

} // namespace velmora_cli
