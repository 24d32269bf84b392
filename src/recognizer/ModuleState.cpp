#include "recognizer/ModuleState.h"

#include "gabor/GaborBank.h"
#include "normalize/FaceNormalizer.h"
#include "pca/SubspaceModel.h"
#include "preprocess/FacePreprocessor.h"

#include <tarvik/Tarvik.h>

int32_t g_templateDim = 0;
bool g_recognizerReady = false;
int32_t g_findFaceMode = 0;

// The module-wide machinery, in construction order (destroyed in reverse):
// g_subspaceModel, g_facePreprocessor, g_faceNormalizer, g_gaborBank, g_faceDetector.
CSubspaceModel g_subspaceModel;
CFacePreprocessor g_facePreprocessor;
CFaceNormalizer g_faceNormalizer;
CGaborBank g_gaborBank;
CAdaboostFaceDetect g_faceDetector;
