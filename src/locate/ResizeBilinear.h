#pragma once
#include <cstddef>

// Bilinear resampling without half-pixel offset. Source indices stop one short
// of the last row and column while the fractions go on, so the last target
// rows and columns of an enlargement extrapolate; results are clamped to
// 0..255. A source one pixel wide or high repeats that pixel.
// Returns 1, or 0 (nothing written) for null pointers or sizes below 1.
int ResizeBilinear(const unsigned char* source, int sourceWidth, int sourceHeight,
                   unsigned char* target, int targetWidth, int targetHeight);

// Same, reading a sourceWidth x sourceHeight window whose rows lie sourceStride
// bytes apart, so a box can be resampled straight out of a larger image.
int ResizeBilinearWindow(const unsigned char* source, std::ptrdiff_t sourceStride,
                         int sourceWidth, int sourceHeight, unsigned char* target,
                         int targetWidth, int targetHeight);
