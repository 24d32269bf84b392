#pragma once
// The built-in face masks over a 64 x 64 normalised face: 255 inside, 0 outside.
#include "common/FaceSizes.h"

constexpr int kFaceSide = velmora::kNormFaceSide;
constexpr int kFacePixels = velmora::kNormFacePixels;

// Mask 1, 2 or 3 (kind outside 1..3 gives null). Each row r is one run of 255
// from column s(r) to 63 - s(r); masks 1, 2 and 3 hold 3462, 3078 and 2898 pixels.
const unsigned char* BuiltInFaceMask(int kind);
