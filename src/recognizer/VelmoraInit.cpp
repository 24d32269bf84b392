#include <cstdint>

#include <velmora/Velmora.h>

#include "gabor/GaborBank.h"
#include "pca/SubspaceModel.h"
#include "preprocess/FacePreprocessor.h"
#include "recognizer/ModuleState.h"

namespace {
constexpr int kTemplateMask = 3;
constexpr double kPi = 3.141592653; // this decimal value, not full-precision pi
} // namespace

bool CVelmora::Initialize(const char* modelPath, const char* /*secondPath*/)
{
    g_facePreprocessor.SetMask(kTemplateMask);
    // Settings the bank cannot hold fail before anything is replaced.
    if (m_nGaborOrientations > CGaborBank::kMaxOrientations ||
        static_cast<int64_t>(m_nGaborScales) * m_nGaborOrientations > CGaborBank::kMaxKernels)
        return false;
    if (modelPath == nullptr || !g_subspaceModel.LoadModel(modelPath, 0))
        return false;
    if (!g_gaborBank.BuildKernels(m_nGaborScales, m_nGaborOrientations, m_lfGaborSigma * kPi,
                                  m_lfGaborSigma * kPi, m_lfGaborKmax * kPi, m_lfGaborFreqStep))
        return false;
    g_recognizerReady = true;
    return true;
}
