#pragma once
#include <velmora/Velmora.h>

#include <tarvik/FaceLocation.h>

// Side of the square eye patch an eye box is resampled to.
constexpr int kEyePatchSide = 48;

// Finds the centre of eye 1 (record words 4..7) or eye 2 (words 8..11) inside
// its box, in image pixels, or (-1, -1). A box width that is not a multiple of
// 4 is first increased by one and written back into the record. The box is
// clipped to the image; a box with nothing inside the image finds no eye.
void LocateEye(const unsigned char* image, int width, int height, FACE_LOCATION& record,
               CPoint& eye, int eyeIndex);

// Eye 1 into firstEye, then eye 2 into secondEye.
void LocateEyes(const unsigned char* image, int width, int height, FACE_LOCATION& record,
                CPoint& firstEye, CPoint& secondEye);
