#pragma once
// Verification metrics over scored pairs. A pair is accepted as "same person"
// when its score is at or above the threshold. FAR is the share of
// different-person pairs accepted, FRR the share of same-person pairs
// rejected, TAR = 1 - FRR. Results over a set without pairs of both kinds are
// not-a-number.
//
// Thresholds are chosen among candidates that separate the observed scores:
// the lowest score (everything accepted), the midpoint between each two
// neighbouring distinct scores, and the next double above the highest score
// (everything rejected).
#include <vector>

namespace velmora_cli {

struct ScoredPair {
    double score = 0.0;
    bool same = false;
};

struct ErrorRates {
    double far = 0.0;
    double frr = 0.0;
    double tar() const { return 1.0 - frr; }
};

struct RocPoint {
    double threshold = 0.0;
    double far = 0.0;
    double tar = 0.0;
};

struct EqualError {
    double rate = 0.0;      // (FAR + FRR) / 2 where they come closest
    double threshold = 0.0;
};

struct MeanAndError {
    double mean = 0.0;
    double standardError = 0.0; // sample standard deviation / sqrt(n); not-a-number below 2 values
};

// Ascending candidate thresholds for the pairs' scores (empty for no pairs).
std::vector<double> CandidateThresholds(const std::vector<ScoredPair>& pairs);

ErrorRates RatesAt(const std::vector<ScoredPair>& pairs, double threshold);

// Share of pairs decided right at the threshold.
double AccuracyAt(const std::vector<ScoredPair>& pairs, double threshold);

// One point per candidate threshold, by rising FAR: from (0, 0) to (1, 1).
std::vector<RocPoint> RocCurve(const std::vector<ScoredPair>& pairs);

// The candidate where |FAR - FRR| is smallest; ties go to the smaller mean
// error, then to the lower threshold.
EqualError EqualErrorRate(const std::vector<ScoredPair>& pairs);

// The highest TAR among candidates whose FAR does not exceed maxFar.
double TarAtFar(const std::vector<ScoredPair>& pairs, double maxFar);

// The candidate of highest accuracy; among equally good ones, the middle one
// (the lower middle for an even count).
double BestAccuracyThreshold(const std::vector<ScoredPair>& pairs);

MeanAndError MeanWithStandardError(const std::vector<double>& values);

} // namespace velmora_cli
