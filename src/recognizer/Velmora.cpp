#include <velmora/Velmora.h>

#include <cstdint>
#include "common/FaceSizes.h"
#include "recognizer/ModuleState.h"

namespace {
constexpr double kFaceAspect = 1.2173913043478262; // 28 / 23
constexpr int kVersion = VELMORA_VERSION_MAJOR * 100 + VELMORA_VERSION_MINOR * 10 + VELMORA_VERSION_PATCH;
static_assert(kVersion == 230, "GetVelmoraVersion reports 230, so the project version is 2.3.0");
} // namespace

CVelmora::CVelmora()
    : m_bPreprocessNormFace(1),
      m_bApplyFaceWeight(0),
      m_nGaborFaceWidth(32),
      m_nGaborFaceHeight(32),
      m_nGaborScales(5),
      m_nGaborOrientations(8),
      m_lfGaborSigma(2.0),
      m_lfGaborKmax(1.0),
      m_lfGaborFreqStep(1.41421),
      m_nTemplateVecNum(1)
{
    // A new object invalidates every earlier Initialize.
    g_recognizerReady = false;
    g_templateDim = 200;
    g_findFaceMode = 0;
}

CVelmora::CVelmora(const CVelmora& other) = default;
CVelmora& CVelmora::operator=(const CVelmora& other) = default;
CVelmora::~CVelmora() = default;

bool CVelmora::GetMaxTemplateSize(int& size) const
{
    // A hostile vector count must not overflow the int result.
    const int64_t bytes = int64_t{m_nTemplateVecNum} * g_templateDim * 8 + 8;
    if (!g_recognizerReady || bytes > INT32_MAX || bytes < INT32_MIN) {
        size = 0;
        return false;
    }
    size = static_cast<int>(bytes);
    return true;
}

bool CVelmora::GetNormFaceSize(int& width, int& height) const
{
    width = velmora::kNormFaceSide;
    height = velmora::kNormFaceSide;
    return true;
}

bool CVelmora::GetFaceSize(int width, int& height) const
{
    if (width < 1)
        return false;
    const double h = width * kFaceAspect + 0.5;
    if (h >= 2147483648.0) // would not fit the int result
        return false;
    height = static_cast<int>(h);
    return true;
}

int CVelmora::GetVelmoraVersion() const
{
    return kVersion;
}

bool CVelmora::SetFindFaceMode(int mode)
{
    g_findFaceMode = mode;
    return true;
}
