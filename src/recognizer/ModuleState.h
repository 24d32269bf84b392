#pragma once
// Module-wide state shared by every CVelmora object. The machinery objects are
// defined in ModuleState.cpp, in one translation unit, so that they are
// constructed in a fixed order at load and destroyed in reverse at unload.
#include <cstdint>

extern int32_t g_templateDim;
extern bool g_recognizerReady;
extern int32_t g_findFaceMode;

class CSubspaceModel;
extern CSubspaceModel g_subspaceModel;
class CFacePreprocessor;
extern CFacePreprocessor g_facePreprocessor;
class CFaceNormalizer;
extern CFaceNormalizer g_faceNormalizer;
class CGaborBank;
extern CGaborBank g_gaborBank;
class CAdaboostFaceDetect;
extern CAdaboostFaceDetect g_faceDetector;
