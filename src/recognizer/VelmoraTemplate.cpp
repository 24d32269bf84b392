#include <cmath>
#include <cstdint>
#include <vector>

#include <velmora/Velmora.h>

#include "common/ByteOrder.h"
#include "gabor/GaborBank.h"
#include "pca/SubspaceModel.h"
#include "preprocess/FaceMasks.h"
#include "preprocess/FacePreprocessor.h"
#include "preprocess/FaceWeight.h"
#include "recognizer/ModuleState.h"
#include "recognizer/PhotometricSteps.h"
#include "recognizer/ReducedFace.h"

namespace {
constexpr int kFeatureDim = 7840;
} // namespace

enumCTError CVelmora::CreateTemplate(unsigned char* face, int /*width*/, int /*height*/,
                                     unsigned char* templ, int& length) const
{
    if (!g_recognizerReady)
        return CT_NOT_INITIALIZED;
    if (face == nullptr || templ == nullptr)
        return CT_FAILED;

    if (m_bPreprocessNormFace == 0)
        ApplyPhotometricSteps(face);
    if (m_bApplyFaceWeight != 0)
        ApplyFaceWeight(face, kFacePixels);

    unsigned char oddRows[kReducedFacePixels];
    ReduceFace(face, oddRows);

    // Sized for whatever the bank can produce; a smaller bank leaves zeros.
    std::vector<double> feature(CGaborBank::kFeatureCapacity, 0.0);
    if (!GetGaborFeature(oddRows, feature.data()))
        return CT_FAILED;

    WriteInt32LE(templ, 1);
    WriteInt32LE(templ + 4, g_templateDim);
    length = g_templateDim * 8 + 8;
    // The buffer is little-endian bytes with no alignment, so the vector is
    // projected aside and then stored.
    std::vector<double> vector(static_cast<size_t>(g_templateDim > 0 ? g_templateDim : 0));
    if (!g_subspaceModel.ProjectToLDA(feature.data(), kFeatureDim, vector.data(), g_templateDim))
        return CT_FAILED;
    // A model file may carry any IEEE value. A vector that is not finite would
    // only ever compare as invalid, so it is refused and not stored.
    for (const double v : vector)
        if (!std::isfinite(v))
            return CT_FAILED;
    for (size_t i = 0; i < vector.size(); ++i)
        WriteDoubleLE(templ + 8 + 8 * i, vector[i]);
    return CT_OK;
}

enumCTError CVelmora::CreateTemplate(unsigned char* image, int width, int height, CPoint leftEye,
                                     CPoint rightEye, unsigned char* templ, int* length) const
{
    if (templ == nullptr || length == nullptr)
        return CT_FAILED;
    // The face cut exactly as GetNormFace cuts it, which also refuses a missing
    // image, negative sizes and eyes less than 3 pixels apart.
    unsigned char face[kFacePixels];
    if (GetNormFace(image, width, height, leftEye, rightEye, face) != GF_OK)
        return CT_FAILED;
    return CreateTemplate(face, kFaceSide, kFaceSide, templ, *length);
}
