#include <algorithm>

#include <velmora/Velmora.h>

#include "gabor/GaborBank.h"
#include "recognizer/Engine.h"
#include "recognizer/ModuleState.h"
#include "recognizer/ReducedFace.h"

namespace {

// The module-wide bank's magnitudes of a 32 x 32 reduced face; the count written.
int BankFeatures(const unsigned char* face32, double* feature)
{
    g_gaborBank.LoadFace(face32);
    const int n = g_gaborBank.ExtractFeatures();
    g_gaborBank.CopyFeatures(feature, n);
    return n;
}

// The bank holds at most 40 kernels of 14 x 14 samples.
static_assert(CGaborBank::kMaxKernels * 14 * 14 <= velmora::kFeatureDim, "a feature row holds every bank's output");

} // namespace

bool CVelmora::GetGaborFeature(const unsigned char* face32, double* feature) const
{
    if (face32 == nullptr || feature == nullptr)
        return false;
    BankFeatures(face32, feature);
    return true;
}

namespace velmora::engine {

int FaceFeatures(const unsigned char* face, double* features)
{
    unsigned char oddRows[kReducedFacePixels];
    ReduceFace(face, oddRows);
    return BankFeatures(oddRows, features);
}

void FaceFeatures(const unsigned char* const* faces, int count, double* const* features)
{
    // Reduced faces a group at a time keep this buffer small.
    constexpr int kGroup = CGaborBank::kFaceGroup;
    unsigned char reduced[kGroup][kReducedFacePixels];
    const unsigned char* rows[kGroup];
    for (int b0 = 0; b0 < count; b0 += kGroup) {
        const int group = std::min(kGroup, count - b0);
        for (int g = 0; g < group; ++g) {
            ReduceFace(faces[b0 + g], reduced[g]);
            rows[g] = reduced[g];
        }
        g_gaborBank.ExtractFeatures(rows, group, features + b0);
    }
}

std::vector<double> FaceFeatures(const unsigned char* face)
{
    if (face == nullptr)
        return {};
    std::vector<double> features(kFeatureDim, 0.0);
    features.resize(static_cast<size_t>(FaceFeatures(face, features.data())));
    return features;
}

} // namespace velmora::engine
