// Face record exchanged between the Tarvik detector and its callers.
#pragma once

#include <cstdint>

// 28 little-endian 32-bit words. Words 4..11 hold the two eye boxes (height
// before width); the first box is the one on the image's left. The other words
// describe the face box and how the eye boxes were placed.
struct FACE_LOCATION {
    int32_t nFaceX;         // word 0: face box, left column
    int32_t nFaceY;         // word 1: face box, top row
    int32_t nFaceWidth;     // word 2
    int32_t nFaceHeight;    // word 3
    int32_t nEye1X;         // word 4: first eye box, left column
    int32_t nEye1Y;         // word 5: first eye box, top row
    int32_t nEye1Height;    // word 6
    int32_t nEye1Width;     // word 7
    int32_t nEye2X;         // word 8: second eye box, left column
    int32_t nEye2Y;         // word 9: second eye box, top row
    int32_t nEye2Height;    // word 10
    int32_t nEye2Width;     // word 11
    int32_t nNeighbours;    // word 12: overlapping cascade hits merged into this face (0 for HOG faces)
    int32_t nEyeSource;     // word 13: one of TARVIK_EYES_FROM_*
    int32_t nReserved[14];  // words 14..27: zero
};
static_assert(sizeof(FACE_LOCATION) == 112, "FACE_LOCATION is 28 words");

enum : int32_t {
    TARVIK_EYES_FROM_FACE = 0,     // both eye boxes placed by face-box proportions
    TARVIK_EYES_FROM_CASCADE = 1,  // eye boxes centred on eye-cascade hits
    TARVIK_EYES_FROM_ONE_EYE = 2,  // one eye from the cascades, the other placed beside it
    TARVIK_EYES_FROM_LANDMARKS = 3, // eye boxes centred on the 68-point landmarks' eye centres
};
