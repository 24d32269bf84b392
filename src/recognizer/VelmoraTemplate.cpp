#include <algorithm>
#include <cmath>
#include <cstdint>
#include <exception>
#include <vector>

#include <velmora/Velmora.h>

#include "common/ByteOrder.h"
#include "pca/SubspaceModel.h"
#include "preprocess/FaceMasks.h"
#include "preprocess/FaceWeight.h"
#include "recognizer/Engine.h"
#include "recognizer/ModuleState.h"
#include "recognizer/PhotometricSteps.h"

namespace velmora::engine {

namespace {

void WriteHeader(unsigned char* templ, int& length)
{
    WriteInt32LE(templ, 1);
    WriteInt32LE(templ + 4, g_templateDim);
    length = g_templateDim * 8 + 8;
}

// Projects the feature rows and stores each vector after its header. The
// buffer is little-endian bytes with no alignment, so vectors are projected
// aside first.
void ProjectAndStore(const std::vector<const double*>& features, const std::vector<unsigned char*>& templates,
                     const std::vector<enumCTError*>& results)
{
    const size_t dim = static_cast<size_t>(g_templateDim > 0 ? g_templateDim : 0);
    std::vector<double> vectors;
    std::vector<double*> rows;
    try {
        vectors.resize(dim * features.size());
        rows.resize(features.size());
    } catch (const std::exception&) {
        return; // every result stays CT_FAILED
    }
    for (size_t b = 0; b < rows.size(); ++b)
        rows[b] = vectors.data() + b * dim;
    if (!g_subspaceModel.ProjectToLDA(features.data(), static_cast<int>(features.size()), kFeatureDim,
                                      rows.data(), g_templateDim))
        return;
    for (size_t b = 0; b < rows.size(); ++b) {
        // A model file may carry any IEEE value. A vector that is not finite would
        // only ever compare as invalid, so it is refused and not stored.
        bool finite = true;
        for (size_t i = 0; i < dim; ++i)
            finite = finite && std::isfinite(rows[b][i]);
        if (!finite)
            continue;
        for (size_t i = 0; i < dim; ++i)
            WriteDoubleLE(templates[b] + 8 + 8 * i, rows[b][i]);
        *results[b] = CT_OK;
    }
}

// Faces per pass of the projection: enough that each PCA vector read serves
// many faces, few enough that their feature rows (2 MB) are kept from call to
// call. Fresh pages for every batch cost about a sixth of the batch's time.
constexpr int kChunk = 32;

std::vector<double>& FeatureRows()
{
    static std::vector<double> rows;
    return rows;
}

void CreateChunk(const CVelmora& settings, unsigned char* const* faces, int count,
                 unsigned char* const* templates, int* lengths, enumCTError* results)
{
    std::vector<double>& features = FeatureRows();
    std::vector<const unsigned char*> kept;
    std::vector<double*> rows;
    std::vector<unsigned char*> outputs;
    std::vector<enumCTError*> outcomes;
    try {
        features.resize(static_cast<size_t>(kChunk) * kFeatureDim);
        kept.reserve(static_cast<size_t>(count));
        rows.reserve(static_cast<size_t>(count));
        outputs.reserve(static_cast<size_t>(count));
        outcomes.reserve(static_cast<size_t>(count));
    } catch (const std::exception&) {
        return;
    }
    for (int i = 0; i < count; ++i) {
        unsigned char* face = faces[i];
        if (face == nullptr || templates[i] == nullptr)
            continue;
        if (settings.m_bPreprocessNormFace == 0)
            ApplyPhotometricSteps(face);
        if (settings.m_bApplyFaceWeight != 0)
            ApplyFaceWeight(face, kFacePixels);
        WriteHeader(templates[i], lengths[i]);
        kept.push_back(face);
        rows.push_back(features.data() + rows.size() * kFeatureDim);
        outputs.push_back(templates[i]);
        outcomes.push_back(&results[i]);
    }
    FaceFeatures(kept.data(), static_cast<int>(kept.size()), rows.data());
    ProjectAndStore({rows.begin(), rows.end()}, outputs, outcomes);
}

} // namespace

void CreateTemplates(const CVelmora& settings, unsigned char* const* faces, int count,
                     unsigned char* const* templates, int* lengths, enumCTError* results)
{
    if (results == nullptr || count < 1)
        return;
    for (int i = 0; i < count; ++i)
        results[i] = g_recognizerReady ? CT_FAILED : CT_NOT_INITIALIZED;
    if (!g_recognizerReady || faces == nullptr || templates == nullptr || lengths == nullptr)
        return;
    for (int i = 0; i < count; i += kChunk) {
        const int n = std::min(kChunk, count - i);
        CreateChunk(settings, faces + i, n, templates + i, lengths + i, results + i);
    }
}

enumCTError TemplateFromFeatures(const double* features, unsigned char* templ, int& length)
{
    if (!g_recognizerReady)
        return CT_NOT_INITIALIZED;
    if (features == nullptr || templ == nullptr)
        return CT_FAILED;
    enumCTError result = CT_FAILED;
    WriteHeader(templ, length);
    ProjectAndStore({features}, {templ}, {&result});
    return result;
}

} // namespace velmora::engine

enumCTError CVelmora::CreateTemplate(unsigned char* face, int /*width*/, int /*height*/,
                                     unsigned char* templ, int& length) const
{
    enumCTError result = CT_FAILED;
    velmora::engine::CreateTemplates(*this, &face, 1, &templ, &length, &result);
    return result;
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
