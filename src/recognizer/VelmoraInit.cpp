#include <cstdint>

#include <velmora/Velmora.h>

#include "gabor/GaborBank.h"
#include "pca/SubspaceModel.h"
#include "preprocess/FacePreprocessor.h"
#include "recognizer/Engine.h"
#include "recognizer/ModuleState.h"

namespace {
constexpr int kTemplateMask = 3;
constexpr double kPi = 3.141592653; // this decimal value, not full-precision pi

bool BankHolds(const CVelmora& s)
{
    return s.m_nGaborOrientations <= CGaborBank::kMaxOrientations &&
           static_cast<int64_t>(s.m_nGaborScales) * s.m_nGaborOrientations <= CGaborBank::kMaxKernels;
}

bool BuildKernels(const CVelmora& s)
{
    return g_gaborBank.BuildKernels(s.m_nGaborScales, s.m_nGaborOrientations, s.m_lfGaborSigma * kPi,
                                    s.m_lfGaborSigma * kPi, s.m_lfGaborKmax * kPi, s.m_lfGaborFreqStep) != 0;
}
} // namespace

bool CVelmora::Initialize(const char* modelPath, const char* /*secondPath*/)
{
    g_facePreprocessor.SetMask(kTemplateMask);
    // Settings the bank cannot hold fail before anything is replaced.
    if (!BankHolds(*this))
        return false;
    if (modelPath == nullptr || !g_subspaceModel.LoadModel(modelPath, 0))
        return false;
    if (!BuildKernels(*this))
        return false;
    g_recognizerReady = true;
    return true;
}

namespace velmora::engine {

bool PrepareWithoutModel(const CVelmora& settings)
{
    g_facePreprocessor.SetMask(kTemplateMask);
    return BankHolds(settings) && BuildKernels(settings);
}

ModelDimensions LoadedModel()
{
    ModelDimensions d;
    if (g_subspaceModel.m_pPCA)
        d.features = g_subspaceModel.m_pPCA->m_nFeatureVecDim;
    if (g_subspaceModel.m_pLDA)
        d.discriminants = g_subspaceModel.m_pLDA->m_nValidEigenNum;
    d.components = g_subspaceModel.m_nPCAEigenUsed;
    d.skipped = g_subspaceModel.m_nPCAEigenSkipped;
    return d;
}

} // namespace velmora::engine
