#include <cmath>
#include <cstdint>

#include <velmora/Velmora.h>

#include "normalize/FaceNormalizer.h"
#include "preprocess/FaceMasks.h"
#include "recognizer/ModuleState.h"
#include "recognizer/PhotometricSteps.h"

namespace {

constexpr double kFaceAspect = 1.2173913043478262; // 28 / 23
constexpr int kNormTarget[4] = {17, 13, 45, 13};

// The checks shared by both cutting operations, in their fixed order. The eye
// gap is formed in 64 bits so that extreme coordinates cannot wrap into a pass.
bool ArgumentsPass(const unsigned char* image, int width, int height, CPoint leftEye, CPoint rightEye,
                   const unsigned char* out)
{
    if (!image || !out || width < 0 || height < 0)
        return false;
    return int64_t{rightEye.x} - int64_t{leftEye.x} >= 3;
}

} // namespace

enumGFError CVelmora::GetNormFace(unsigned char* image, int width, int height, CPoint leftEye, CPoint rightEye,
                                  unsigned char* out) const
{
    if (!ArgumentsPass(image, width, height, leftEye, rightEye, out))
        return GF_BAD_ARGUMENT;
    const int eyes[4] = {leftEye.x, leftEye.y, rightEye.x, rightEye.y};
    g_faceNormalizer.NormalizeFace(image, width, height, eyes, out, kFaceSide, kFaceSide, kNormTarget);
    if (m_bPreprocessNormFace != 0)
        ApplyPhotometricSteps(out);
    return GF_OK;
}

enumGFError CVelmora::GetFace(unsigned char* image, int width, int height, CPoint leftEye, CPoint rightEye,
                              unsigned char* out, int size) const
{
    if (!ArgumentsPass(image, width, height, leftEye, rightEye, out))
        return GF_BAD_ARGUMENT;
    if (width == 0 || height == 0) // no pixel to cut from
        return GF_BAD_ARGUMENT;
    // A size of 0 or less writes nothing; its height is never used.
    const double h = size > 0 ? size * kFaceAspect + 0.5 : 0.0;
    if (h >= 2147483648.0) // the face height would not fit the int sizes
        return GF_BAD_ARGUMENT;
    const int outHeight = static_cast<int>(h);
    const int eyes[4] = {leftEye.x, leftEye.y, rightEye.x, rightEye.y};
    // CutFace refuses, writing nothing, a display rectangle outside the image.
    return g_faceNormalizer.CutFace(image, width, height, eyes, out, size, outHeight) ? GF_OK : GF_BAD_ARGUMENT;
}
