#include "preprocess/FaceMasks.h"

#include <cstring>

namespace {

// First masked column of each row, top row first; the run is symmetric.
constexpr unsigned char kMaskStart[3][kFaceSide] = {
    {17, 14, 11, 9, 7, 6, 5, 4, 4, 3, 3, 2, 2, 2, 1, 1, 1,
     0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
     1, 1, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 7, 8, 8, 9, 10, 11, 12, 13, 14, 15, 17, 19, 21, 23},
    {27, 23, 18, 13, 10, 7, 5, 5,
     4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4,
     5, 5, 5, 6, 6, 7, 7, 8, 9, 10, 10, 11, 12, 13, 15, 16, 18, 20, 22, 26, 30},
    {23, 18, 13, 10, 7, 5, 5,
     4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4,
     5, 5, 5, 6, 6, 7, 7, 8, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14, 15, 15, 16, 16,
     17, 17, 18, 18, 19, 19, 19, 19, 19},
};

struct MaskSet {
    unsigned char mask[3][kFacePixels];
    MaskSet()
    {
        std::memset(mask, 0, sizeof(mask));
        for (int m = 0; m < 3; ++m)
            for (int r = 0; r < kFaceSide; ++r)
                for (int c = kMaskStart[m][r]; c <= kFaceSide - 1 - kMaskStart[m][r]; ++c)
                    mask[m][r * kFaceSide + c] = 255;
    }
};

} // namespace

const unsigned char* BuiltInFaceMask(int kind)
{
    static const MaskSet masks;
    if (kind < 1 || kind > 3)
        return nullptr;
    return masks.mask[kind - 1];
}
