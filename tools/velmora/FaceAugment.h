#pragma once
// Variants of a face that show the same person: its mirror image and small
// shifts, as training and template making add them.
#include "GreyImage.h"

namespace velmora_cli {

// The photo mirrored left to right.
GreyImage MirroredImage(const GreyImage& image);
// The eyes of `eyes` in the mirrored photo (the left eye stays the one with the smaller x).
EyePair MirroredEyes(const EyePair& eyes, int imageWidth);

// A side x side face mirrored left to right, written to out.
void MirrorFace(const unsigned char* face, int side, unsigned char* out);
// A side x side face moved by (dx, dy) pixels (each -1, 0 or 1); the row or
// column it uncovers repeats its neighbour.
void ShiftFace(const unsigned char* face, int side, int dx, int dy, unsigned char* out);

// The face, its mirror image and the face moved by a pixel left, right, up and
// down: kAugmentedFaces faces of one person made from one, written one after
// the other to out, for people seen once or seldom.
constexpr int kAugmentedFaces = 6;
void AugmentFace(const unsigned char* face, int side, unsigned char* out);

} // namespace velmora_cli
