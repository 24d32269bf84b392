#include "recognizer/ReducedFace.h"

#include <vector>

#include "preprocess/FacePreprocessor.h"
#include "recognizer/ModuleState.h"

void ReduceFace(const unsigned char* face, unsigned char* oddRows)
{
    std::vector<double> values(face, face + kFacePixels);
    g_facePreprocessor.CompactMasked(values.data());
    unsigned char evenRows[kReducedFacePixels];
    g_facePreprocessor.SplitRows(values.data(), oddRows, evenRows);
}
