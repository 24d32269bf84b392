#include "preprocess/FaceWeight.h"

#include "preprocess/FaceMasks.h"

void ApplyFaceWeight(unsigned char* face, int /*size*/)
{
    if (!face)
        return;
    for (int i = 0; i < kFaceWeightRows; ++i) {
        unsigned char* row = face + (kFaceWeightTop + i) * kFaceSide + kFaceWeightLeft;
        const unsigned char* w = kFaceWeight + i * kFaceWeightColumns;
        for (int j = 0; j < kFaceWeightColumns; ++j)
            if (w[j] != 0)
                row[j] = static_cast<unsigned char>(row[j] * w[j] / 255);
    }
}
