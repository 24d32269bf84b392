#include "recognizer/PhotometricSteps.h"

#include <vector>

#include "preprocess/FacePreprocessor.h"
#include "recognizer/ModuleState.h"

void ApplyPhotometricSteps(unsigned char* face)
{
    if (!face)
        return;
    std::vector<double> values(face, face + kFacePixels);
    const int n = g_facePreprocessor.CompactMasked(values.data());
    g_facePreprocessor.NormalizeLighting(values.data(), n);
    g_facePreprocessor.ExpandMasked(values.data(), face);
    g_facePreprocessor.CorrectGamma(face, nullptr, kFaceSide, kFaceSide);
}
