#pragma once
// The 32 x 32 face the Gabor bank reads: the 64 x 64 normalised face inside the
// module-wide mask, its odd rows kept. Template creation, incremental training
// and the sample writer must all reduce a face this one way, or training and
// matching would see different features.
constexpr int kReducedFacePixels = 32 * 32;

void ReduceFace(const unsigned char* face, unsigned char* oddRows);
