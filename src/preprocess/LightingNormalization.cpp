#include "preprocess/LightingNormalization.h"

#include <cmath>
#include <algorithm>
#include <cstring>
#include <vector>

#include "preprocess/FacePreprocessor.h"

namespace {

constexpr double kTargetMean = 154.0;
constexpr double kExponentPerMean = 0.006493506493506494; // 1 / 154
// Real faces settle in a handful of passes; the bound only keeps a pathological
// input from looping for ever.
constexpr int kMaxPasses = 1000;

inline int HistogramBin(double v)
{
    if (v > 255.0)
        return 255;
    if (!(v >= 0.0)) // below 0, or not a number
        return 0;
    return static_cast<int>(v);
}

} // namespace

double MeanValue(const double* values, int count)
{
    if (!values || count < 1)
        return 0.0;
    double sum = 0.0;
    for (int i = 0; i < count; ++i)
        sum += values[i];
    return sum / count;
}

int StretchRange(double* values, int count, double lower, double upper)
{
    const double d = upper - lower;
    if (!(d > 0.0))
        return 0;
    if (!values || count < 1)
        return 1;
    for (int i = 0; i < count; ++i) {
        const double v = values[i];
        if (v > upper)
            values[i] = 255.0;
        else if (v < lower)
            values[i] = 0.0;
        else
            values[i] = (v - lower) / (d + 1) * 255.0;
    }
    return 1;
}

void RescaleRange(double* values, int count, double newMin, double newMax)
{
    if (!values || count < 1)
        return;
    double lo = 100000.0, hi = 0.0;
    for (int i = 0; i < count; ++i) {
        if (values[i] < lo)
            lo = values[i];
        if (values[i] > hi)
            hi = values[i];
    }
    for (int i = 0; i < count; ++i)
        values[i] = (values[i] - lo) / (hi - lo + 1) * (newMax - newMin) + newMin;
}

void ScaleValues(double* values, int count, double factor)
{
    for (int i = 0; values && i < count; ++i)
        values[i] *= factor;
}

void PowerValues(double* values, int count, double exponent)
{
    for (int i = 0; values && i < count; ++i)
        values[i] = std::pow(values[i], exponent);
}

void CFacePreprocessor::PercentileBounds(const double* values, int count, double lowFraction,
                                         double highFraction, int& lower, int& upper)
{
    std::memset(m_nHistogram, 0, sizeof(m_nHistogram));
    if (!values || count < 1) { // no value: no share ever exceeds a fraction
        lower = 256;
        upper = -1;
        return;
    }
    for (int i = 0; i < count; ++i)
        ++m_nHistogram[HistogramBin(values[i])];

    lower = 256;
    double below = 0.0;
    for (int i = 0; i <= 256; ++i) {
        if (below > lowFraction) {
            lower = i;
            break;
        }
        if (i < 256)
            below += static_cast<double>(m_nHistogram[i]) / count;
    }
    upper = -1;
    double above = 0.0;
    for (int j = 255; j >= 0; --j) {
        if (above > 1 - highFraction) {
            upper = j;
            break;
        }
        above += static_cast<double>(m_nHistogram[j]) / count;
    }
}

namespace {

// Every step of the normalisation maps each value through one function of the
// value alone (the rescaling's minimum and maximum are the same for all), so
// values that start equal stay equal. When they start as grey levels, the
// steps run on one representative per level instead of on every pixel, and
// each pixel takes its level's value: the same doubles, with far fewer powers.
class LevelClasses {
public:
    bool Build(const double* values, int count)
    {
        int index[256];
        std::fill(index, index + 256, -1);
        m_class.resize(count);
        m_levels.clear();
        for (int i = 0; i < count; ++i) {
            const double v = values[i];
            if (!(v >= 0.0 && v <= 255.0) || v != static_cast<double>(static_cast<int>(v)))
                return false;
            int& slot = index[static_cast<int>(v)];
            if (slot < 0) {
                slot = static_cast<int>(m_levels.size());
                m_levels.push_back(v);
            }
            m_class[i] = static_cast<unsigned char>(slot);
        }
        return true;
    }

    double* Levels() { return m_levels.data(); }
    int LevelCount() const { return static_cast<int>(m_levels.size()); }

    // MeanValue of the full vector, summed in pixel order.
    double Mean() const
    {
        double sum = 0.0;
        for (unsigned char c : m_class)
            sum += m_levels[c];
        return sum / static_cast<int>(m_class.size());
    }

    void Store(double* values) const
    {
        for (size_t i = 0; i < m_class.size(); ++i)
            values[i] = m_levels[m_class[i]];
    }

private:
    std::vector<unsigned char> m_class;
    std::vector<double> m_levels;
};

} // namespace

void CFacePreprocessor::NormalizeLighting(double* values, int count)
{
    if (!values || count < 1)
        return;
    double mean = MeanValue(values, count);
    int lower = 0, upper = 0;
    PercentileBounds(values, count, 0.02, 0.98, lower, upper);

    LevelClasses classes;
    const bool byLevel = classes.Build(values, count);
    double* work = byLevel ? classes.Levels() : values;
    const int n = byLevel ? classes.LevelCount() : count;
    const auto finish = [&] {
        if (byLevel)
            classes.Store(values);
    };

    StretchRange(work, n, lower, upper);
    if (std::fabs(kTargetMean - mean) <= 1.0)
        return finish();
    double previous = 0.0;
    for (int pass = 0; pass < kMaxPasses; ++pass) {
        if (pass > 0 && std::fabs(previous - mean) <= 0.01)
            return finish();
        // A mean of 0 means every value is 0 (they are not negative): there is
        // nothing to scale, and the face stays black.
        if (!(mean > 0.0))
            return finish();
        ScaleValues(work, n, kTargetMean / mean);
        PowerValues(work, n, mean * kExponentPerMean);
        RescaleRange(work, n, 0.0, 220.0);
        previous = mean;
        mean = byLevel ? classes.Mean() : MeanValue(values, count);
        if (std::fabs(kTargetMean - mean) <= 1.0)
            return finish();
    }
    finish();
}
